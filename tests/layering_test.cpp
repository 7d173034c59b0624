// The layers of src/ stay apart: only src/platform/ includes the operating
// system's headers, includes point down only, and no files include each
// other in a circle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Headers of the operating system (POSIX and Windows); any "sys/..." counts too.
const char* const kOsHeaders[] = {"unistd.h", "fcntl.h",   "windows.h", "dlfcn.h",   "spawn.h",
                                  "signal.h", "dirent.h",  "poll.h",    "pthread.h", "errno.h",
                                  "pwd.h",    "strings.h", "winspool.h"};
// Each folder of src/ is a layer; an include points to its own layer or one
// below it. printer/ and delivery/ stand side by side and never include each
// other.
const struct {
  const char* folder;
  int level;
} kLayers[] = {{"platform/", 0}, {"config/", 1},   {"process/", 2}, {"pdf/", 3},
               {"printer/", 4},  {"delivery/", 4}, {"app/", 5}};

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
    for (int line = 1; std::getline(in, text); ++line)
      if (std::regex_search(text, match, include))
        found.push_back({fs::relative(entry.path(), root).generic_string(), line, match[1]});
  }
  return found;
}

// The layer a path below src/ (or an include) lies in; -1 for none.
int LevelOf(const std::string& path) {
  for (const auto& layer : kLayers)
    if (path.rfind(layer.folder, 0) == 0) return layer.level;
  return -1;
}

std::string Unit(const std::string& path) { return path.substr(0, path.find_last_of('.')); }

// Only src/platform/ includes OS headers (and it does: the scan works);
// includes point to their own folder or a lower layer.
TEST(LayeringTest, OsHeadersOnlyInThePlatformLayerAndIncludesPointDown) {
  std::string outside, inside, wrong;
  int checked = 0;
  for (const Include& include : AllIncludes()) {
    const std::string where =
        include.file + ":" + std::to_string(include.line) + ": " + include.header + "\n";
    const bool os = include.header.rfind("sys/", 0) == 0 ||
                    std::find(std::begin(kOsHeaders), std::end(kOsHeaders), include.header) !=
                        std::end(kOsHeaders);
    if (os) (include.file.rfind("platform/", 0) == 0 ? inside : outside) += where;
    int from = LevelOf(include.file), to = LevelOf(include.header);
    if (to < 0) continue;
    ++checked;
    bool sameFolder = include.header.substr(0, include.header.find('/')) ==
                      include.file.substr(0, include.file.find('/'));
    if (to > from || (to == from && !sameFolder)) wrong += where;
  }
  EXPECT_EQ("", outside);
  EXPECT_NE("", inside) << "the scan of " << SourceRoot() << " found no OS header at all";
  EXPECT_EQ("", wrong);
  EXPECT_GT(checked, 100);
}

// Files (a header and its source counted as one) never include each other
// in a circle. A header without a source that only its own unit includes
// back (the unit's private part, as pdf_instance.h is pdf_library's) is
// part of that unit.
TEST(LayeringTest, NoCircleOfIncludes) {
  std::map<std::string, std::set<std::string>> uses;
  std::set<std::string> withSource;
  for (const Include& include : AllIncludes()) {
    if (include.file.substr(include.file.find_last_of('.')) != ".h")
      withSource.insert(Unit(include.file));
    if (LevelOf(include.header) >= 0 && Unit(include.header) != Unit(include.file))
      uses[Unit(include.file)].insert(Unit(include.header));
  }
  for (auto& entry : uses) {
    for (auto next = entry.second.begin(); next != entry.second.end();) {
      bool privatePart = !withSource.count(*next) && uses[*next].count(entry.first);
      next = privatePart ? entry.second.erase(next) : std::next(next);
    }
  }
  // Units that use no unit left are peeled off until none is; what stays
  // lies on a circle or leads into one.
  for (bool peeled = true; peeled;) {
    peeled = false;
    for (auto unit = uses.begin(); unit != uses.end();) {
      bool leaf = std::none_of(unit->second.begin(), unit->second.end(),
                               [&uses](const std::string& next) { return uses.count(next) > 0; });
      peeled |= leaf;
      unit = leaf ? uses.erase(unit) : std::next(unit);
    }
  }
  std::string circle;
  for (const auto& entry : uses) circle += entry.first + " ";
  EXPECT_EQ("", circle);
}

}  // namespace
