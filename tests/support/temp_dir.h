// A scoped temporary folder for tests on the real disk, and the program's
// own folder (settings, log) pointed at one for the lifetime of an object.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/platform.h"

class ScopedTempDir {
 public:
  ScopedTempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, created exclusively (the user's own
    // temporary folder is private on Windows).
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto candidate =
          std::filesystem::temp_directory_path() / ("tarvelin-test-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
    }
#else
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarvelin-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? made : "";
#endif
  }
  ~ScopedTempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  /// Path of a name inside the folder.
  std::string Join(const std::string& name) const { return path_ + kSeparator + name; }

 private:
#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif
  std::string path_;
};

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

/// The program's log as text: on Windows its lines end in CR LF, which tests
/// read as LF.
inline std::string ReadLogText(const std::string& path) {
  std::string text = ReadFileText(path);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

/// Whether text holds part; a failure shows the text.
inline ::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

class ScopedProgramFolder {
 public:
  ScopedProgramFolder() { platform::SetModuleFileNameForTesting(dir_.Join("tarvelin")); }
  ~ScopedProgramFolder() { platform::SetModuleFileNameForTesting(""); }
  const std::string& path() const { return dir_.path(); }
  std::string Join(const std::string& name) const { return dir_.Join(name); }
  std::string Config() const { return dir_.Join("config.ini"); }
  std::string Log() const { return dir_.Join("tarvelin.log"); }
  void EnableLog() const { WriteFileText(Config(), "[debug]\noutlog=Yes\n"); }

 private:
  ScopedTempDir dir_;
};
