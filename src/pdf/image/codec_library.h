// Decoder libraries that a print job never needs are loaded when the first
// image of their format is read, not when the program starts: libtiff with
// what it pulls in (WebP, Zstandard, LZMA, LERC, JBIG, libdeflate), libpng
// and OpenJPEG are nine libraries that every run would otherwise map and
// link. A build that links them in (Windows, where they are static) calls
// them directly.
#pragma once

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace images {

/// One member per entry point, named and typed as the library declares it.
#define TARVELIN_CODEC_POINTER(name) decltype(&::name) name = nullptr;

#ifdef TARVELIN_LINKED_CODECS
#define TARVELIN_CODEC_FIND(name) calls->name = &::name;
#else
#define TARVELIN_CODEC_FIND(name) \
  calls->name = reinterpret_cast<decltype(&::name)>(FindCodecEntry(handle, #name, why));
#endif

/// The entry point, or nullptr with its name in *why (the first missing one
/// only).
inline void* FindCodecEntry(void* library, const char* name, std::string* why) {
  void* entry = platform::FindLibrarySymbol(library, name);
  if (!entry && why->empty()) *why = std::string("has no ") + name;
  return entry;
}

/// A library's entry points (Calls: a struct of TARVELIN_CODEC_POINTER
/// members), looked up by find on first use.
template <typename Calls>
class CodecLibrary {
 public:
  using Find = void (*)(void* library, Calls* calls, std::string* why);
  CodecLibrary(const char* file, Find find) : file_(file), find_(find) {}

  /// The entry points, loaded once per process; nullptr, with the reason in
  /// *error, when the library or one of them is missing.
  const Calls* Get(std::string* error) {
    std::call_once(once_, [this] {
      void* library = nullptr;
#ifndef TARVELIN_LINKED_CODECS
      std::string why;
      library = platform::LoadSharedLibrary(file_, &why);
      if (!library) {
        failure_ = "the decoder library cannot be loaded: " + why;
        return;
      }
#endif
      std::string missing;
      find_(library, &calls_, &missing);
      if (!missing.empty()) failure_ = std::string("the decoder library ") + file_ + " " + missing;
    });
    if (failure_.empty()) return &calls_;
    *error = failure_;
    return nullptr;
  }

 private:
  const char* file_;
  Find find_;
  std::once_flag once_;
  Calls calls_;
  std::string failure_;
};

/// Defines the struct Calls of the entry points that LIST names and
/// `library`, the CodecLibrary that loads them from file.
#define TARVELIN_CODEC_LIBRARY(Calls, library, file, LIST)                             \
  struct Calls {                                                                       \
    LIST(TARVELIN_CODEC_POINTER)                                                       \
  };                                                                                   \
  CodecLibrary<Calls> library(file, [](void* handle, Calls* calls, std::string* why) { \
    (void)handle, (void)why;                                                           \
    LIST(TARVELIN_CODEC_FIND)                                                          \
  })

}  // namespace images
