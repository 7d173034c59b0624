// libcups, loaded when the spooler is first used rather than when the
// program starts: a print job never talks to CUPS, and libcups with what
// it needs (Kerberos, Avahi, D-Bus, systemd) is about a third of what
// starting the program costs. Only the CUPS spooler and its rules include
// this header.
#pragma once

#include <cups/cups.h>

#include <string>

namespace platform {
namespace cups_client {

#define TARVELIN_CUPS_CALLS(X) \
  X(cupsDoFileRequest)         \
  X(cupsDoRequest)             \
  X(cupsEncryption)            \
  X(cupsFreeDests)             \
  X(cupsGetFd)                 \
  X(cupsGetNamedDest)          \
  X(cupsLastError)             \
  X(cupsLastErrorString)       \
  X(cupsPutFd)                 \
  X(cupsServer)                \
  X(cupsSetPasswordCB2)        \
  X(cupsSetServer)             \
  X(httpAssembleURIf)          \
  X(httpClose)                 \
  X(httpConnect2)              \
  X(httpSetTimeout)            \
  X(httpStatus)                \
  X(ippAddBoolean)             \
  X(ippAddInteger)             \
  X(ippAddString)              \
  X(ippAddStrings)             \
  X(ippDelete)                 \
  X(ippFindAttribute)          \
  X(ippFirstAttribute)         \
  X(ippGetCount)               \
  X(ippGetGroupTag)            \
  X(ippGetInteger)             \
  X(ippGetName)                \
  X(ippGetString)              \
  X(ippGetValueTag)            \
  X(ippNewRequest)             \
  X(ippNextAttribute)          \
  X(ippPort)                   \
  X(pwgMediaForPPD)

// The library's functions; null until Load() succeeded.
struct Calls {
#define TARVELIN_CUPS_POINTER(name) decltype(&::name) name = nullptr;
  TARVELIN_CUPS_CALLS(TARVELIN_CUPS_POINTER)
#undef TARVELIN_CUPS_POINTER
};

extern Calls cups;

/// Loads libcups once per process. False, with the loader's words, when it
/// or one of its functions is missing.
bool Load(std::string* why);

}  // namespace cups_client
}  // namespace platform
