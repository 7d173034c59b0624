// Links as the tests see and plant them: a file's own status (of a link
// itself, not what it names), and symbolic links planted where the next
// writes beside a file will put their temporary files, as anyone who can
// write in that folder could.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"

/// lstat's record of path; all zero when there is none.
inline struct stat LinkStat(const std::string& path) {
  struct stat st = {};
  if (lstat(path.c_str(), &st) != 0) st = {};
  return st;
}

/// Plants a link to each of targets, in order, at the next names
/// SiblingTempName(path) gives (".<base>.<pid>.<n>.tmp"; the name this call
/// learns n from is used up).
inline void PlantSiblingLinks(const std::string& path, const std::vector<std::string>& targets) {
  std::string next = platform::SiblingTempName(path);
  size_t end = next.size() - 4, dot = next.rfind('.', end - 1);
  unsigned long n = std::stoul(next.substr(dot + 1, end - dot - 1));
  for (const std::string& target : targets) {
    std::string name = next.substr(0, dot + 1) + std::to_string(++n) + ".tmp";
    if (symlink(target.c_str(), name.c_str()) != 0) ADD_FAILURE() << "cannot plant " << name;
  }
}
