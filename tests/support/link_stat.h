// A file's status as lstat gives it: of a link itself, not what it names.
#pragma once

#include <sys/stat.h>

#include <string>

/// lstat's record of path; all zero when there is none.
inline struct stat LinkStat(const std::string& path) {
  struct stat st = {};
  if (lstat(path.c_str(), &st) != 0) st = {};
  return st;
}
