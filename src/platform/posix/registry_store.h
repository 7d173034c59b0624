// The registry store on POSIX: one REGEDIT4 text file per hive. Every read
// takes the hive file anew, so changes made by other processes are seen at
// once; every change is made under an exclusive lock on a file beside the
// hive by re-reading the hive, changing it and renaming a new file over it,
// so concurrent writers lose nothing and a crash leaves either the old or
// the new hive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/regedit4.h"

namespace platform {
namespace registry_store {

/// The two hives, as the numbers the store is asked with.
constexpr int kLocalMachine = 0;
constexpr int kCurrentUser = 1;

/// The root key's name of a hive: "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
const char* RootName(int hive);

/// The hive's file, chosen by the environment as it is now (see
/// platform/registry.h).
std::string HiveFile(int hive);

/// True when changes to the hive file can be written: its folder exists (or
/// was made) and is writable, the file, if any, is a writable file, and the
/// lock beside it can be taken.
bool CanWriteStore(const std::string& file);

/// Reads the hive file into *data, under its lock where the lock can be
/// had. A missing file is an empty hive; false when the file exists but
/// cannot be read. The unreadable lines of a damaged hive are reported once
/// for each content seen.
bool ReadHive(const std::string& file, int hive, regedit4::Hive* data);

/// A change to a hive in memory: returns a registry result (ERROR_SUCCESS
/// or an error) and sets *changed when it changed anything.
using HiveChange = std::function<long(regedit4::Hive* hive, bool* changed)>;

/// Applies change to the hive as it is now, under the hive's lock, and
/// writes the result back when it changed anything. A damaged hive is kept
/// as a copy first, since the rewrite drops its unreadable lines. Returns
/// ERROR_ACCESS_DENIED when the store cannot be read or written, else the
/// change's result.
long ModifyHive(const std::string& file, int hive, const HiveChange& change);

/// The hive file's last modification in 100 ns units since 1601-01-01 (as
/// Windows counts), or 0 when the file cannot be examined.
uint64_t HiveFileTime(const std::string& file);

}  // namespace registry_store
}  // namespace platform
