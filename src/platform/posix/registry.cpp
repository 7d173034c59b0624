// The registry as one REGEDIT4 text file per hive, in the form Windows'
// registry editor imports and exports. Every call reads the hive file anew,
// so changes made by other processes are seen at once; every change is made
// under an exclusive lock on a file beside the hive by re-reading the hive,
// changing it and renaming a new file over it, so concurrent writers lose
// nothing and a crash leaves either the old or the new hive.
#include "platform/registry.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/log.h"
#include "platform/platform.h"

struct RegKey {
  int hive;
  std::string path;  ///< below the root, parts joined by backslashes
  uint32_t access;
  std::string file;  ///< the hive file, chosen when the key was opened
};

namespace {

const int kLocalMachine = 0;
const int kCurrentUser = 1;
const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

RegKey g_localMachine{kLocalMachine, "", 0, ""};
RegKey g_currentUser{kCurrentUser, "", 0, ""};

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;
const HKEY HKEY_CURRENT_USER = &g_currentUser;

namespace {

const uint32_t kDeleteAccess = 0x10000;
const uint32_t kWriteDacAccess = 0x40000;
const uint32_t kWriteOwnerAccess = 0x80000;
const uint32_t kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDeleteAccess |
                              kWriteDacAccess | kWriteOwnerAccess;

struct Value {
  std::string name;
  uint32_t type;
  std::string data;
};

struct Key {
  std::string path;
  std::vector<Value> values;
  std::unordered_map<std::string, size_t> valueIndex;  ///< folded name -> place in values
};

struct Problem {
  size_t line;
  std::string why;
  std::string text;
};

/// A hive in memory. Keys are found through an index by folded path rather
/// than by a search, so reading and changing a hive stays n log n in its keys.
struct HiveData {
  int hive = kLocalMachine;
  std::vector<Key> keys;
  /// Folded path -> place in keys. Ordered, so the keys below a path are one
  /// range, right after the path and its separator.
  std::map<std::string, size_t> index;
  std::vector<Problem> problems;
};

std::mutex g_mutex;
std::set<RegKey*> g_openKeys;
std::map<std::string, size_t> g_reportedDamage;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

/// The name in lower case (ASCII, as SameName compares), for the indexes.
std::string Folded(const std::string& s) {
  std::string folded = s;
  for (char& c : folded) c = Lower(c);
  return folded;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

/// True when path lies below parent (parent "" is the root, above everything).
bool IsBelow(const std::string& path, const std::string& parent) {
  if (parent.empty()) return !path.empty();
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         StartsWithNoCase(path, parent);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

size_t SkipBlanks(const std::string& s, size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/// Parses 1 to 8 hex digits, the whole of s.
bool ParseHexNumber(const std::string& s, uint32_t* number) {
  if (s.empty() || s.size() > 8) return false;
  *number = 0;
  for (char c : s) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    *number = *number * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

/// A key path is "" (the root) or names separated by single backslashes.
bool IsValidPath(const std::string& path) {
  if (path.empty()) return true;
  if (path.front() == '\\' || path.back() == '\\') return false;
  if (path.find("\\\\") != std::string::npos) return false;
  return path.find_first_of("\r\n") == std::string::npos;
}

// ---------------------------------------------------------------------------
// Reading the REGEDIT4 text.

/// Reads a quoted text whose opening quote is at s[pos]; only \\ and \" are
/// escapes. Returns the position after the closing quote, or npos.
size_t ReadQuoted(const std::string& s, size_t pos, std::string* out) {
  out->clear();
  for (size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::string::npos;
      c = s[++i];
    }
    out->push_back(c);
  }
  return std::string::npos;
}

/// Reads the value name (@ or a quoted name) and the equals sign. Returns the
/// position of the data part, or npos with *why set.
size_t ReadValueName(const std::string& line, std::string* name, std::string* why) {
  size_t pos;
  if (line[0] == '@') {
    name->clear();
    pos = 1;
  } else if (line[0] == '"') {
    pos = ReadQuoted(line, 0, name);
    if (pos == std::string::npos) {
      *why = "bad value name";
      return pos;
    }
  } else {
    *why = "neither a key nor a value";
    return std::string::npos;
  }
  pos = SkipBlanks(line, pos);
  if (pos >= line.size() || line[pos] != '=') {
    *why = "no '=' after the value name";
    return std::string::npos;
  }
  return SkipBlanks(line, pos + 1);
}

bool IsHexValueLine(const std::string& line) {
  std::string name;
  std::string why;
  size_t pos = ReadValueName(line, &name, &why);
  return pos != std::string::npos && StartsWithNoCase(line.substr(pos), "hex");
}

/// Parses "01,02, ff": two-digit hex bytes separated by commas (may be empty).
bool ReadHexBytes(const std::string& s, std::string* out) {
  out->clear();
  size_t i = SkipBlanks(s, 0);
  if (i == s.size()) return true;
  for (;;) {
    i = SkipBlanks(s, i);
    int high = i < s.size() ? HexDigit(s[i]) : -1;
    int low = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i = SkipBlanks(s, i + 2);
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

bool ParseValueLine(const std::string& line, Value* value, std::string* why) {
  size_t pos = ReadValueName(line, &value->name, why);
  if (pos == std::string::npos) return false;
  std::string rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    std::string text;
    if (ReadQuoted(rest, 0, &text) != rest.size()) {
      *why = "bad text";
      return false;
    }
    value->type = REG_SZ;
    value->data = text + '\0';
    return true;
  }
  if (StartsWithNoCase(rest, "dword:")) {
    uint32_t number;
    if (!ParseHexNumber(rest.substr(6), &number)) {
      *why = "bad dword";
      return false;
    }
    value->type = REG_DWORD;
    value->data.clear();
    for (int i = 0; i < 4; ++i)
      value->data.push_back(static_cast<char>((number >> (8 * i)) & 0xff));
    return true;
  }
  if (StartsWithNoCase(rest, "hex")) {
    size_t colon = 3;
    value->type = REG_BINARY;
    if (rest.size() > 3 && rest[3] == '(') {
      size_t close = rest.find(')', 4);
      if (close == std::string::npos || !ParseHexNumber(rest.substr(4, close - 4), &value->type)) {
        *why = "bad hex type";
        return false;
      }
      colon = close + 1;
    }
    if (colon >= rest.size() || rest[colon] != ':' ||
        !ReadHexBytes(rest.substr(colon + 1), &value->data)) {
      *why = "bad hex data";
      return false;
    }
    return true;
  }
  *why = rest == "-" ? "a deletion, which a hive does not hold" : "unknown kind of data";
  return false;
}

/// Parses "[HKEY_...\path]" of this hive into the path below the root.
bool ParseKeyHeader(const std::string& line, int hive, std::string* path, std::string* why) {
  if (line.size() < 2 || line.back() != ']') {
    *why = "key name without ']'";
    return false;
  }
  std::string inner = line.substr(1, line.size() - 2);
  if (!inner.empty() && inner[0] == '-') {
    *why = "a key deletion, which a hive does not hold";
    return false;
  }
  size_t slash = inner.find('\\');
  if (!SameName(inner.substr(0, slash), kRootNames[hive])) {
    *why = std::string("key outside ") + kRootNames[hive];
    return false;
  }
  *path = slash == std::string::npos ? std::string() : inner.substr(slash + 1);
  if (!IsValidPath(*path)) {
    *why = "empty part in the key name";
    return false;
  }
  return true;
}

Key* FindKey(HiveData* data, const std::string& path) {
  auto it = data->index.find(Folded(path));
  return it == data->index.end() ? nullptr : &data->keys[it->second];
}

/// Adds a header after the last key; path must not be a key yet.
Key* AppendKey(HiveData* data, const std::string& path) {
  data->index.emplace(Folded(path), data->keys.size());
  data->keys.push_back(Key{path, {}, {}});
  return &data->keys.back();
}

Value* FindValue(Key* key, const std::string& name) {
  if (!key) return nullptr;
  auto it = key->valueIndex.find(Folded(name));
  return it == key->valueIndex.end() ? nullptr : &key->values[it->second];
}

/// Replaces the type and data of the value of that name, or adds the value
/// after the last one.
void SetValue(Key* key, const Value& value) {
  if (Value* same = FindValue(key, value.name)) {
    same->type = value.type;
    same->data = value.data;
    return;
  }
  key->valueIndex.emplace(Folded(value.name), key->values.size());
  key->values.push_back(value);
}

/// Removes the value of that name; false when there is none.
bool RemoveValue(Key* key, const std::string& name) {
  Value* value = FindValue(key, name);
  if (!value) return false;
  key->values.erase(key->values.begin() + (value - key->values.data()));
  key->valueIndex.clear();
  for (size_t i = 0; i < key->values.size(); ++i) {
    key->valueIndex.emplace(Folded(key->values[i].name), i);
  }
  return true;
}

/// Keys that every Windows system has, so they exist in a new store too
/// (with the letter case Windows gives them).
const char* const kSystemKeys[][3] = {
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
     "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", nullptr},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run", nullptr, nullptr},
};

/// Calls visit with the path of every key of the hive below path (every key
/// but the root for path ""), and then with every system key below it.
template <typename Visit>
void ForEachKeyBelow(const HiveData& data, const std::string& path, Visit visit) {
  std::string first = path.empty() ? std::string() : Folded(path) + "\\";
  for (auto it = data.index.lower_bound(first);
       it != data.index.end() && it->first.compare(0, first.size(), first) == 0; ++it) {
    const std::string& below = data.keys[it->second].path;
    if (!below.empty()) visit(below);
  }
  for (const char* const* system = kSystemKeys[data.hive]; *system; ++system) {
    if (IsBelow(*system, path)) visit(*system);
  }
}

/// How a known key (one of the hive's headers or a system key) at or below
/// path spells path; "" when no known key is there.
std::string KnownSpelling(const HiveData& data, const std::string& path) {
  std::string folded = Folded(path);
  auto it = data.index.find(folded);
  if (it == data.index.end()) {
    // The first key below path, if any, follows path and its separator.
    std::string below = folded + "\\";
    it = data.index.lower_bound(below);
    if (it != data.index.end() && it->first.compare(0, below.size(), below) != 0) {
      it = data.index.end();
    }
  }
  if (it != data.index.end()) return data.keys[it->second].path.substr(0, path.size());
  for (const char* const* system = kSystemKeys[data.hive]; *system; ++system) {
    if (SameName(*system, path) || IsBelow(*system, path)) {
      return std::string(*system).substr(0, path.size());
    }
  }
  return std::string();
}

/// A key exists when it is known or a key below it is.
bool KeyExists(const HiveData& data, const std::string& path) {
  return path.empty() || !KnownSpelling(data, path).empty();
}

/// Adds the key's header, and those of its missing parents, after the last
/// key. Parts that already exist keep the case they were created with.
Key* AddKey(HiveData* data, const std::string& path) {
  if (path.empty()) {
    Key* root = FindKey(data, path);
    return root ? root : AppendKey(data, path);
  }
  std::string stored;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    std::string prefix = stored.empty() ? part : stored + "\\" + part;
    if (Key* existing = FindKey(data, prefix)) {
      prefix = existing->path;
    } else {
      std::string known = KnownSpelling(*data, prefix);
      if (!known.empty()) prefix = known;
      AppendKey(data, prefix);
    }
    stored = prefix;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return FindKey(data, stored);
}

void AddProblem(HiveData* data, size_t line, const std::string& why, const std::string& text) {
  data->problems.push_back(Problem{line, why, text.substr(0, 200)});
}

void ParseHive(const std::string& content, int hive, HiveData* data) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  int current = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t lineNumber = i + 1;
    std::string line = Trim(lines[i]);
    if (i == 0) {
      if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line = Trim(line.substr(3));
      if (line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00") continue;
      AddProblem(data, lineNumber, "no REGEDIT4 first line", line);
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::string path;
      std::string why;
      current = -1;
      if (!ParseKeyHeader(line, hive, &path, &why)) {
        AddProblem(data, lineNumber, why, line);
        continue;
      }
      Key* key = FindKey(data, path);
      if (!key) key = AppendKey(data, path);
      current = static_cast<int>(key - data->keys.data());
      continue;
    }
    // Long hex data goes on over further lines, each but the last ending in
    // a backslash.
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size() && IsHexValueLine(line)) {
      line.pop_back();
      line += Trim(lines[++i]);
    }
    if (current < 0) {
      AddProblem(data, lineNumber, "value outside a readable key", line);
      continue;
    }
    Value value;
    std::string why;
    if (!ParseValueLine(line, &value, &why)) {
      AddProblem(data, lineNumber, why, line);
      continue;
    }
    SetValue(&data->keys[static_cast<size_t>(current)], value);
  }
}

// ---------------------------------------------------------------------------
// Writing the REGEDIT4 text.

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

/// A REG_SZ that the quoted form carries without loss: one terminating zero
/// at the end and no zero or line break before it.
bool IsPlainText(const std::string& data) {
  return !data.empty() && data.back() == '\0' &&
         data.find_first_of(std::string("\0\r\n", 3)) == data.size() - 1;
}

/// Appends hex bytes, breaking lines before 80 columns as the registry editor does.
void AppendHexBytes(std::string* out, size_t lineStart, const std::string& bytes) {
  size_t column = out->size() - lineStart;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char token[4];
    snprintf(token, sizeof(token), "%02x%s", static_cast<unsigned char>(bytes[i]),
             i + 1 < bytes.size() ? "," : "");
    size_t width = strlen(token);
    if (i > 0 && column + width + 1 > 79) {
      *out += "\\\n  ";
      column = 2;
    }
    *out += token;
    column += width;
  }
}

std::string SerializeHive(const HiveData& data, int hive) {
  std::string out = "REGEDIT4\n\n";
  for (const Key& key : data.keys) {
    out += "[";
    out += kRootNames[hive];
    if (!key.path.empty()) out += "\\" + key.path;
    out += "]\n";
    for (const Value& value : key.values) {
      size_t lineStart = out.size();
      out += value.name.empty() ? std::string("@") : Quote(value.name);
      out += "=";
      char head[32];
      if (value.type == REG_SZ && IsPlainText(value.data)) {
        out += Quote(value.data.substr(0, value.data.size() - 1));
      } else if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
          number = number << 8 | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        }
        snprintf(head, sizeof(head), "dword:%08x", number);
        out += head;
      } else {
        if (value.type == REG_BINARY) {
          out += "hex:";
        } else {
          snprintf(head, sizeof(head), "hex(%x):", value.type);
          out += head;
        }
        AppendHexBytes(&out, lineStart, value.data);
      }
      out += "\n";
    }
    out += "\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// The hive files.

std::string HiveFile(int hive) {
  std::string folder;
  const char* dir = getenv("TARVELIN_REGISTRY_DIR");
  if (dir && *dir) {
    folder = dir;
  } else if (hive == kLocalMachine) {
    folder = "/var/lib/tarvelin/registry";
  } else {
    const char* config = getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
      folder = config;
    } else {
      const char* home = getenv("HOME");
      if (!home || !*home) {
        struct passwd* user = getpwuid(getuid());
        home = (user && user->pw_dir) ? user->pw_dir : "";
      }
      folder = std::string(home) + "/.config";
    }
    folder += "/tarvelin";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/" + kRootNames[hive] + ".reg";
}

std::string LockFile(const std::string& file) { return file + ".lock"; }

/// Creates the folder and its missing parents.
bool MakeFolders(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return platform::IsDirectory(dir);
}

/// True when changes to the hive can be written: its folder exists (or was
/// made) and is writable, the file, if any, is a writable file, and the lock
/// beside it can be taken.
bool CanWriteStore(const std::string& file) {
  std::string dir = platform::DirName(file);
  if (!platform::IsDirectory(dir) && !MakeFolders(dir)) return false;
  if (access(dir.c_str(), W_OK | X_OK) != 0) return false;
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || access(file.c_str(), W_OK) != 0)) {
    return false;
  }
  platform::FileLock lock(LockFile(file));
  return lock.Held();
}

/// Logs the unreadable lines of a damaged hive, once for each content seen.
void ReportDamage(const std::string& file, const std::string& content, const HiveData& data) {
  size_t hash = std::hash<std::string>()(content);
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    auto it = g_reportedDamage.find(file);
    if (it != g_reportedDamage.end() && it->second == hash) return;
    g_reportedDamage[file] = hash;
  }
  for (const Problem& problem : data.problems) {
    OutLog("[ERROR] Registry file \"%s\" line %zu is not readable (%s) and is skipped: %s\n",
           file.c_str(), problem.line, problem.why.c_str(), problem.text.c_str());
  }
}

/// Reads and parses the hive. A missing file is an empty hive; false when
/// the file exists but cannot be read.
bool LoadHive(const std::string& file, int hive, HiveData* data) {
  data->hive = hive;
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  std::string content;
  if (!S_ISREG(st.st_mode) || !platform::ReadWholeFile(file, &content)) return false;
  ParseHive(content, hive, data);
  if (!data->problems.empty()) ReportDamage(file, content, *data);
  return true;
}

/// LoadHive under the lock when the lock can be had; a store that cannot be
/// written is still read (writers rename whole files, so a read without the
/// lock sees the old or the new hive).
bool ReadHive(const std::string& file, int hive, HiveData* data) {
  std::unique_ptr<platform::FileLock> lock;
  if (access(LockFile(file).c_str(), W_OK) == 0 ||
      access(platform::DirName(file).c_str(), W_OK) == 0) {
    lock.reset(new platform::FileLock(LockFile(file)));
  }
  return LoadHive(file, hive, data);
}

/// Keeps a copy of a damaged hive under a name not yet taken.
bool KeepDamagedCopy(const std::string& file) {
  std::string copy = file + ".damaged";
  for (int n = 2; platform::PathExists(copy); ++n) {
    if (n > 1000) return false;
    copy = file + ".damaged." + std::to_string(n);
  }
  if (!platform::CopyFileAtomically(file, copy)) return false;
  OutLog(
      "[INFO] Registry file \"%s\" is damaged; a copy is kept as \"%s\" before it is rewritten.\n",
      file.c_str(), copy.c_str());
  return true;
}

using Change = std::function<long(HiveData*, bool* changed)>;

/// Applies a change to the hive under its lock and writes the result back.
long ModifyHive(const std::string& file, int hive, const Change& change) {
  if (!CanWriteStore(file)) return ERROR_ACCESS_DENIED;
  platform::FileLock lock(LockFile(file));
  if (!lock.Held()) return ERROR_ACCESS_DENIED;
  HiveData data;
  if (!LoadHive(file, hive, &data)) return ERROR_ACCESS_DENIED;
  bool changed = false;
  long result = change(&data, &changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  // The unreadable lines are dropped by the rewrite, so they must survive
  // somewhere first.
  if (!data.problems.empty() && !KeepDamagedCopy(file)) {
    OutLog(
        "[ERROR] Registry file \"%s\" is damaged and no copy of it could be kept; it is not "
        "changed.\n",
        file.c_str());
    return ERROR_ACCESS_DENIED;
  }
  if (!platform::WriteFileAtomically(file, SerializeHive(data, hive))) {
    OutLog("[ERROR] Registry file \"%s\" could not be written.\n", file.c_str());
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Handles.

bool IsRoot(HKEY key) { return key == &g_localMachine || key == &g_currentUser; }

/// Copies what the handle names into *out; false for an unknown handle.
bool ResolveKey(HKEY key, RegKey* out) {
  if (IsRoot(key)) {
    int hive = key == &g_localMachine ? kLocalMachine : kCurrentUser;
    *out = RegKey{hive, "", 0xFFFFFFFFu, HiveFile(hive)};
    return true;
  }
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!key || g_openKeys.count(key) == 0) return false;
  *out = *key;
  return true;
}

HKEY NewKey(const RegKey& key) {
  HKEY handle = new RegKey(key);
  std::lock_guard<std::mutex> guard(g_mutex);
  g_openKeys.insert(handle);
  return handle;
}

/// The sub key's path below parent; false for a malformed name.
bool SubKeyPath(const std::string& parent, const char* subKey, std::string* path) {
  std::string sub = subKey ? subKey : "";
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  if (!IsValidPath(sub)) return false;
  *path = parent.empty() ? sub : sub.empty() ? parent : parent + "\\" + sub;
  return true;
}

/// Resolves an open key and reads its hive for a query that needs the given
/// access.
long ReadOpenKey(HKEY handle, uint32_t access, RegKey* opened, HiveData* data, Key** found) {
  if (!ResolveKey(handle, opened)) return ERROR_INVALID_HANDLE;
  const RegKey& key = *opened;
  if ((key.access & access) != access) return ERROR_ACCESS_DENIED;
  if (!ReadHive(key.file, key.hive, data)) return ERROR_ACCESS_DENIED;
  if (!KeyExists(*data, key.path)) return ERROR_KEY_DELETED;
  *found = FindKey(data, key.path);
  return ERROR_SUCCESS;
}

/// The common first steps of opening a key: the root or parent handle, the
/// sub key's path, the wanted access and the hive as it is now.
long LocateKey(HKEY key, const char* subKey, uint32_t desired, RegKey* opened, HiveData* data) {
  if (!ResolveKey(key, opened)) return ERROR_INVALID_HANDLE;
  if (!SubKeyPath(opened->path, subKey, &opened->path)) return ERROR_BAD_PATHNAME;
  opened->access = desired;
  if (!ReadHive(opened->file, opened->hive, data)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

long CopyValueData(const Value& value, uint32_t* type, unsigned char* data, uint32_t* dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  if (type) *type = value.type;
  if (!dataSize) return ERROR_SUCCESS;
  uint32_t size = static_cast<uint32_t>(value.data.size());
  if (data && *dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (data && size > 0) memcpy(data, value.data.data(), size);
  *dataSize = size;
  return ERROR_SUCCESS;
}

/// The names of the sub keys directly below path, by their folded names (so
/// in the order Windows lists them), each as the hive spells it.
std::map<std::string, std::string> SubKeyNames(const HiveData& data, const std::string& path) {
  std::map<std::string, std::string> children;
  size_t start = path.empty() ? 0 : path.size() + 1;
  ForEachKeyBelow(data, path, [&](const std::string& below) {
    std::string child = below.substr(start, below.find('\\', start) - start);
    children.emplace(Folded(child), child);
  });
  return children;
}

/// The hive file's last change as a FILETIME (zero when it cannot be read).
FILETIME HiveWriteTime(const std::string& file) {
  struct stat st;
  uint64_t ticks = 0;
  if (stat(file.c_str(), &st) == 0) {
    // 100 ns units since 1601-01-01, as Windows counts.
    ticks = static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000u +
            static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u + 116444736000000000ull;
  }
  return FILETIME{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

}  // namespace

long RegCreateKeyExA(HKEY key, const char* subKey, uint32_t, char*, uint32_t, uint32_t desired,
                     const void*, HKEY* result, uint32_t* disposition) {
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegKey opened;
  HiveData data;
  long located = LocateKey(key, subKey, desired, &opened, &data);
  if (located != ERROR_SUCCESS) return located;
  bool created = false;
  if (!KeyExists(data, opened.path)) {
    long status = ModifyHive(opened.file, opened.hive, [&](HiveData* hive, bool* changed) {
      if (!KeyExists(*hive, opened.path)) {
        AddKey(hive, opened.path);
        *changed = created = true;
      }
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
  } else if ((desired & kWriteAccess) != 0 && !CanWriteStore(opened.file)) {
    return ERROR_ACCESS_DENIED;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewKey(opened);
  return ERROR_SUCCESS;
}

long RegOpenKeyExA(HKEY key, const char* subKey, uint32_t, uint32_t desired, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegKey opened;
  HiveData data;
  long located = LocateKey(key, subKey, desired, &opened, &data);
  if (located != ERROR_SUCCESS) return located;
  if (!KeyExists(data, opened.path)) return ERROR_FILE_NOT_FOUND;
  if ((desired & kWriteAccess) != 0 && !CanWriteStore(opened.file)) return ERROR_ACCESS_DENIED;
  *result = NewKey(opened);
  return ERROR_SUCCESS;
}

long RegQueryInfoKeyA(HKEY key, char* keyClass, uint32_t* classLength, uint32_t*, uint32_t* subKeys,
                      uint32_t* maxSubKeyLength, uint32_t* maxClassLength, uint32_t* values,
                      uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                      uint32_t* securityDescriptorSize, FILETIME* lastWriteTime) {
  RegKey opened;
  HiveData data;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_QUERY_VALUE, &opened, &data, &found);
  if (status != ERROR_SUCCESS) return status;

  if (keyClass && classLength && *classLength > 0) keyClass[0] = '\0';
  if (classLength) *classLength = 0;
  if (maxClassLength) *maxClassLength = 0;
  if (securityDescriptorSize) *securityDescriptorSize = 0;

  std::map<std::string, std::string> children = SubKeyNames(data, opened.path);
  size_t longestChild = 0;
  for (const auto& child : children) longestChild = std::max(longestChild, child.second.size());
  if (subKeys) *subKeys = static_cast<uint32_t>(children.size());
  if (maxSubKeyLength) *maxSubKeyLength = static_cast<uint32_t>(longestChild);

  size_t longestName = 0;
  size_t longestData = 0;
  if (found) {
    for (const Value& value : found->values) {
      if (value.name.size() > longestName) longestName = value.name.size();
      if (value.data.size() > longestData) longestData = value.data.size();
    }
  }
  if (values) *values = found ? static_cast<uint32_t>(found->values.size()) : 0;
  if (maxValueNameLength) *maxValueNameLength = static_cast<uint32_t>(longestName);
  if (maxValueLength) *maxValueLength = static_cast<uint32_t>(longestData);

  if (lastWriteTime) *lastWriteTime = HiveWriteTime(opened.file);
  return ERROR_SUCCESS;
}

long RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   char* keyClass, uint32_t* classLength, FILETIME* lastWriteTime) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  RegKey opened;
  HiveData data;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_ENUMERATE_SUB_KEYS, &opened, &data, &found);
  if (status != ERROR_SUCCESS) return status;
  std::map<std::string, std::string> children = SubKeyNames(data, opened.path);
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& child = std::next(children.begin(), index)->second;
  if (child.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  memcpy(name, child.c_str(), child.size() + 1);
  *nameLength = static_cast<uint32_t>(child.size());
  if (keyClass && classLength && *classLength > 0) keyClass[0] = '\0';
  if (classLength) *classLength = 0;
  if (lastWriteTime) *lastWriteTime = HiveWriteTime(opened.file);
  return ERROR_SUCCESS;
}

long RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   uint32_t* type, unsigned char* data, uint32_t* dataSize) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  RegKey opened;
  HiveData hive;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_QUERY_VALUE, &opened, &hive, &found);
  if (status != ERROR_SUCCESS) return status;
  if (!found || index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = found->values[index];
  if (value.name.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameLength = static_cast<uint32_t>(value.name.size());
  return CopyValueData(value, type, data, dataSize);
}

long RegQueryValueExA(HKEY key, const char* name, uint32_t*, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  RegKey opened;
  HiveData hive;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_QUERY_VALUE, &opened, &hive, &found);
  if (status != ERROR_SUCCESS) return status;
  Value* value = FindValue(found, name ? name : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  return CopyValueData(*value, type, data, dataSize);
}

long RegSetValueExA(HKEY key, const char* name, uint32_t, uint32_t type, const unsigned char* data,
                    uint32_t size) {
  RegKey opened;
  if (!ResolveKey(key, &opened)) return ERROR_INVALID_HANDLE;
  if ((opened.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (!data && size > 0) return ERROR_INVALID_PARAMETER;
  std::string valueName = name ? name : "";
  // A line break cannot be written inside a quoted name of the hive file.
  if (valueName.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
  std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
  return ModifyHive(opened.file, opened.hive, [&](HiveData* hive, bool* changed) {
    if (!KeyExists(*hive, opened.path)) return ERROR_KEY_DELETED;
    SetValue(AddKey(hive, opened.path), Value{valueName, type, bytes});
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long RegDeleteValueA(HKEY key, const char* name) {
  RegKey opened;
  if (!ResolveKey(key, &opened)) return ERROR_INVALID_HANDLE;
  if ((opened.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string valueName = name ? name : "";
  return ModifyHive(opened.file, opened.hive, [&](HiveData* hive, bool* changed) {
    if (!KeyExists(*hive, opened.path)) return ERROR_KEY_DELETED;
    if (!RemoveValue(FindKey(hive, opened.path), valueName)) return ERROR_FILE_NOT_FOUND;
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long RegCloseKey(HKEY key) {
  if (IsRoot(key)) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (!key || g_openKeys.erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}
