// The registry calls over the store of hive files: a table of open handles,
// each naming a hive file and a key path, and the Reg* calls that read or
// change the hive through the store.
#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/names.h"
#include "platform/posix/registry_store.h"
#include "platform/regedit4.h"

namespace store = platform::registry_store;
using platform::regedit4::Hive;
using platform::regedit4::Key;
using platform::regedit4::Value;

struct RegKey {
  int hive;
  std::string path;  ///< below the root, parts joined by backslashes
  uint32_t access;
  std::string file;  ///< the hive file, chosen when the key was opened
};

namespace {

RegKey g_localMachine{store::kLocalMachine, "", 0, ""};
RegKey g_currentUser{store::kCurrentUser, "", 0, ""};

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;
const HKEY HKEY_CURRENT_USER = &g_currentUser;

namespace {

const uint32_t kDeleteAccess = 0x10000;
const uint32_t kWriteDacAccess = 0x40000;
const uint32_t kWriteOwnerAccess = 0x80000;
const uint32_t kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDeleteAccess |
                              kWriteDacAccess | kWriteOwnerAccess;

std::mutex g_mutex;
std::set<RegKey*> g_openKeys;

// ---------------------------------------------------------------------------
// Keys of a hive, with the system keys every hive has.

/// Keys that every Windows system has, so they exist in a new store too
/// (with the letter case Windows gives them).
const char* const kSystemKeys[][3] = {
    {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
     "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", nullptr},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run", nullptr, nullptr},
};

const char* const* SystemKeys(const Hive& data) {
  return kSystemKeys[data.root == store::RootName(store::kCurrentUser) ? 1 : 0];
}

/// True when path lies below parent (parent "" is the root, above everything).
bool IsBelow(const std::string& path, const std::string& parent) {
  if (parent.empty()) return !path.empty();
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         platform::SameNameIgnoringCase(path.substr(0, parent.size()), parent);
}

/// Calls visit with the path of every key of the hive below path (every key
/// but the root for path ""), and then with every system key below it.
template <typename Visit>
void ForEachKeyBelow(const Hive& data, const std::string& path, Visit visit) {
  platform::regedit4::ForEachKeyBelow(data, path, visit);
  for (const char* const* system = SystemKeys(data); *system; ++system) {
    if (IsBelow(*system, path)) visit(*system);
  }
}

/// How a known key (one of the hive's headers or a system key) at or below
/// path spells path; "" when no known key is there.
std::string KnownSpelling(const Hive& data, const std::string& path) {
  if (const Key* stored = platform::regedit4::FirstKeyAtOrBelow(data, path)) {
    return stored->path.substr(0, path.size());
  }
  for (const char* const* system = SystemKeys(data); *system; ++system) {
    if (platform::SameNameIgnoringCase(*system, path) || IsBelow(*system, path)) {
      return std::string(*system).substr(0, path.size());
    }
  }
  return std::string();
}

/// A key exists when it is known or a key below it is.
bool KeyExists(const Hive& data, const std::string& path) {
  return path.empty() || !KnownSpelling(data, path).empty();
}

/// Adds the key's header, and those of its missing parents, after the last
/// key. Parts that already exist keep the case they were created with.
Key* AddKey(Hive* data, const std::string& path) {
  using platform::regedit4::AppendKey;
  using platform::regedit4::FindKey;
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

// ---------------------------------------------------------------------------
// Handles.

bool IsRoot(HKEY key) { return key == &g_localMachine || key == &g_currentUser; }

/// Copies what the handle names into *out; false for an unknown handle.
bool ResolveKey(HKEY key, RegKey* out) {
  if (IsRoot(key)) {
    *out = RegKey{key->hive, "", 0xFFFFFFFFu, store::HiveFile(key->hive)};
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
  if (!platform::regedit4::IsValidKeyPath(sub)) return false;
  *path = parent.empty() ? sub : sub.empty() ? parent : parent + "\\" + sub;
  return true;
}

/// Resolves an open key and reads its hive for a query that needs the given
/// access.
long ReadOpenKey(HKEY handle, uint32_t access, RegKey* opened, Hive* data, Key** found) {
  if (!ResolveKey(handle, opened)) return ERROR_INVALID_HANDLE;
  const RegKey& key = *opened;
  if ((key.access & access) != access) return ERROR_ACCESS_DENIED;
  if (!store::ReadHive(key.file, key.hive, data)) return ERROR_ACCESS_DENIED;
  if (!KeyExists(*data, key.path)) return ERROR_KEY_DELETED;
  *found = platform::regedit4::FindKey(data, key.path);
  return ERROR_SUCCESS;
}

/// The common first steps of opening a key: the root or parent handle, the
/// sub key's path, the wanted access and the hive as it is now.
long LocateKey(HKEY key, const char* subKey, uint32_t desired, RegKey* opened, Hive* data) {
  if (!ResolveKey(key, opened)) return ERROR_INVALID_HANDLE;
  if (!SubKeyPath(opened->path, subKey, &opened->path)) return ERROR_BAD_PATHNAME;
  opened->access = desired;
  if (!store::ReadHive(opened->file, opened->hive, data)) return ERROR_ACCESS_DENIED;
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
  // Registry data is raw bytes: a text value carries its own terminator.
  if (data && size > 0)
    memcpy(data, value.data.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
  *dataSize = size;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// The steps of RegQueryInfoKeyA.

/// The direct sub keys of path, one per folded name, in the folded names'
/// order (the order RegEnumKeyExA reports them in), as first spelt.
std::map<std::string, std::string> SubKeyNames(const Hive& data, const std::string& path) {
  std::map<std::string, std::string> children;
  size_t start = path.empty() ? 0 : path.size() + 1;
  ForEachKeyBelow(data, path, [&](const std::string& below) {
    std::string child = below.substr(start, below.find('\\', start) - start);
    children.emplace(platform::FoldNameCase(child), child);
  });
  return children;
}

/// The number of direct sub keys of path (letter case ignored) and the
/// length of the longest one's name.
void CountSubKeys(const Hive& data, const std::string& path, uint32_t* count, uint32_t* longest) {
  std::map<std::string, std::string> children = SubKeyNames(data, path);
  size_t longestChild = 0;
  for (const auto& child : children) longestChild = std::max(longestChild, child.second.size());
  if (count) *count = static_cast<uint32_t>(children.size());
  if (longest) *longest = static_cast<uint32_t>(longestChild);
}

/// The hive file's last change as a FILETIME.
FILETIME HiveWriteTime(const std::string& file) {
  uint64_t ticks = store::HiveFileTime(file);
  return FILETIME{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

/// The number of values of key (nullptr: none) and their longest name and data.
void MeasureValues(const Key* key, uint32_t* count, uint32_t* longestName, uint32_t* longestData) {
  size_t name = 0;
  size_t data = 0;
  if (key) {
    for (const Value& value : key->values) {
      if (value.name.size() > name) name = value.name.size();
      if (value.data.size() > data) data = value.data.size();
    }
  }
  if (count) *count = key ? static_cast<uint32_t>(key->values.size()) : 0;
  if (longestName) *longestName = static_cast<uint32_t>(name);
  if (longestData) *longestData = static_cast<uint32_t>(data);
}

/// A key has no class and no security descriptor.
void ReportNoClassNorSecurity(char* keyClass, uint32_t* classLength, uint32_t* maxClassLength,
                              uint32_t* securityDescriptorSize) {
  if (keyClass && classLength && *classLength > 0) keyClass[0] = '\0';
  if (classLength) *classLength = 0;
  if (maxClassLength) *maxClassLength = 0;
  if (securityDescriptorSize) *securityDescriptorSize = 0;
}

}  // namespace

long RegCreateKeyExA(HKEY key, const char* subKey, uint32_t, char*, uint32_t, uint32_t desired,
                     const void*, HKEY* result, uint32_t* disposition) {
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegKey opened;
  Hive data;
  long located = LocateKey(key, subKey, desired, &opened, &data);
  if (located != ERROR_SUCCESS) return located;
  bool created = false;
  if (!KeyExists(data, opened.path)) {
    long status = store::ModifyHive(opened.file, opened.hive, [&](Hive* hive, bool* changed) {
      if (!KeyExists(*hive, opened.path)) {
        AddKey(hive, opened.path);
        *changed = created = true;
      }
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
  } else if ((desired & kWriteAccess) != 0 && !store::CanWriteStore(opened.file)) {
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
  Hive data;
  long located = LocateKey(key, subKey, desired, &opened, &data);
  if (located != ERROR_SUCCESS) return located;
  if (!KeyExists(data, opened.path)) return ERROR_FILE_NOT_FOUND;
  if ((desired & kWriteAccess) != 0 && !store::CanWriteStore(opened.file)) {
    return ERROR_ACCESS_DENIED;
  }
  *result = NewKey(opened);
  return ERROR_SUCCESS;
}

long RegQueryInfoKeyA(HKEY key, char* keyClass, uint32_t* classLength, uint32_t*, uint32_t* subKeys,
                      uint32_t* maxSubKeyLength, uint32_t* maxClassLength, uint32_t* values,
                      uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                      uint32_t* securityDescriptorSize, FILETIME* lastWriteTime) {
  RegKey opened;
  Hive data;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_QUERY_VALUE, &opened, &data, &found);
  if (status != ERROR_SUCCESS) return status;
  ReportNoClassNorSecurity(keyClass, classLength, maxClassLength, securityDescriptorSize);
  CountSubKeys(data, opened.path, subKeys, maxSubKeyLength);
  MeasureValues(found, values, maxValueNameLength, maxValueLength);
  if (lastWriteTime) *lastWriteTime = HiveWriteTime(opened.file);
  return ERROR_SUCCESS;
}

long RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   char* keyClass, uint32_t* classLength, FILETIME* lastWriteTime) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  RegKey opened;
  Hive data;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_ENUMERATE_SUB_KEYS, &opened, &data, &found);
  if (status != ERROR_SUCCESS) return status;
  std::map<std::string, std::string> children = SubKeyNames(data, opened.path);
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& child = std::next(children.begin(), index)->second;
  if (child.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  memcpy(name, child.c_str(), child.size() + 1);
  *nameLength = static_cast<uint32_t>(child.size());
  ReportNoClassNorSecurity(keyClass, classLength, nullptr, nullptr);
  if (lastWriteTime) *lastWriteTime = HiveWriteTime(opened.file);
  return ERROR_SUCCESS;
}

long RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   uint32_t* type, unsigned char* data, uint32_t* dataSize) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  RegKey opened;
  Hive hive;
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
  Hive hive;
  Key* found = nullptr;
  long status = ReadOpenKey(key, KEY_QUERY_VALUE, &opened, &hive, &found);
  if (status != ERROR_SUCCESS) return status;
  Value* value = platform::regedit4::FindValue(found, name ? name : "");
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
  return store::ModifyHive(opened.file, opened.hive, [&](Hive* hive, bool* changed) {
    if (!KeyExists(*hive, opened.path)) return ERROR_KEY_DELETED;
    platform::regedit4::SetValue(AddKey(hive, opened.path), Value{valueName, type, bytes});
    *changed = true;
    return ERROR_SUCCESS;
  });
}

long RegDeleteValueA(HKEY key, const char* name) {
  RegKey opened;
  if (!ResolveKey(key, &opened)) return ERROR_INVALID_HANDLE;
  if ((opened.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string valueName = name ? name : "";
  return store::ModifyHive(opened.file, opened.hive, [&](Hive* hive, bool* changed) {
    if (!KeyExists(*hive, opened.path)) return ERROR_KEY_DELETED;
    Key* stored = platform::regedit4::FindKey(hive, opened.path);
    if (!platform::regedit4::RemoveValue(stored, valueName)) return ERROR_FILE_NOT_FOUND;
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
