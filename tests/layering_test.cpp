// The layers of src/ stay apart: only src/platform/ includes the operating
// system's headers, and src/platform/ includes nothing from the layers above.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Headers of the operating system (POSIX and Windows); any "sys/..." counts too.
const char* const kOsHeaders[] = {"unistd.h", "fcntl.h",   "windows.h", "dlfcn.h",   "spawn.h",
                                  "signal.h", "dirent.h",  "poll.h",    "pthread.h", "errno.h",
                                  "pwd.h",    "strings.h", "winspool.h"};
// The layers above the platform layer.
const char* const kUpperLayers[] = {"config/", "pdf/", "app/", "process/", "printer/"};

struct Include {
  std::string file;  ///< below src/
  int line;
  std::string header;
};

fs::path SourceRoot() { return fs::path(TARVELIN_TEST_DATA).parent_path().parent_path() / "src"; }

std::vector<Include> AllIncludes() {
  static const std::regex include(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
  std::vector<Include> found;
  const fs::path root = SourceRoot();
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".c")) continue;
    std::ifstream in(entry.path());
    std::string text;
    std::smatch match;
    for (int line = 1; std::getline(in, text); ++line) {
      if (std::regex_search(text, match, include)) {
        found.push_back({fs::relative(entry.path(), root).generic_string(), line, match[1]});
      }
    }
  }
  return found;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool IsOsHeader(const std::string& header) {
  for (const char* os : kOsHeaders) {
    if (header == os) return true;
  }
  return StartsWith(header, "sys/");
}

bool IsUpperLayer(const std::string& header) {
  for (const char* layer : kUpperLayers) {
    if (StartsWith(header, layer)) return true;
  }
  return false;
}

std::string Where(const Include& include) {
  return include.file + ":" + std::to_string(include.line) + ": " + include.header + "\n";
}

TEST(LayeringTest, OnlyThePlatformLayerIncludesOsHeaders) {
  std::vector<Include> includes = AllIncludes();
  std::string outside, inside;
  for (const Include& include : includes) {
    if (!IsOsHeader(include.header)) continue;
    (StartsWith(include.file, "platform/") ? inside : outside) += Where(include);
  }
  EXPECT_EQ("", outside);
  EXPECT_NE("", inside) << "the scan of " << SourceRoot() << " found no OS header at all";
}

TEST(LayeringTest, ThePlatformLayerIncludesNothingAboveIt) {
  std::string above;
  int platformFiles = 0;
  for (const Include& include : AllIncludes()) {
    if (!StartsWith(include.file, "platform/")) continue;
    ++platformFiles;
    if (IsUpperLayer(include.header)) above += Where(include);
  }
  EXPECT_EQ("", above);
  EXPECT_GT(platformFiles, 10);
}

}  // namespace
