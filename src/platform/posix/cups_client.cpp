#include "platform/posix/cups_client.h"

#include <dlfcn.h>

#include <mutex>

namespace platform {
namespace cups_client {

Calls cups;

bool Load(std::string* why) {
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] {
    void* library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* words = dlerror();
      failure = std::string("libcups cannot be loaded: ") + (words ? words : "unknown reason");
      return;
    }
    Calls loaded;
    bool complete = true;
#define TARVELIN_CUPS_RESOLVE(name)                                         \
  loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!loaded.name && complete) {                                           \
    complete = false;                                                       \
    failure = "libcups has no " #name;                                      \
  }
    TARVELIN_CUPS_CALLS(TARVELIN_CUPS_RESOLVE)
#undef TARVELIN_CUPS_RESOLVE
    // The library stays loaded for the rest of the process either way.
    if (complete) cups = loaded;
  });
  if (!failure.empty()) *why = failure;
  return failure.empty();
}

}  // namespace cups_client
}  // namespace platform
