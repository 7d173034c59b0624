// A registry hive in memory and its REGEDIT4 text form, as Windows' registry
// editor imports and exports it. Pure text: nothing here touches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
namespace regedit4 {

/// One value: its name ("" for the default value), type and raw data.
struct Value {
  std::string name;
  uint32_t type = 0;
  std::string data;
};

/// One key: its path below the root (parts joined by backslashes, "" for
/// the root itself) and its values in stored order.
struct Key {
  std::string path;
  std::vector<Value> values;
  std::unordered_map<std::string, size_t> valueIndex;  ///< folded name -> place in values
};

/// A line that ParseHive could not read and skipped.
struct Problem {
  size_t line;       ///< counted from 1
  std::string why;   ///< what is wrong with it
  std::string text;  ///< the line, trimmed and cut to 200 bytes
};

/// A hive in memory. Keys are found through an index by folded path rather
/// than by a search, so reading and changing a hive stays n log n in its keys.
struct Hive {
  std::string root;       ///< the root key's name, e.g. "HKEY_LOCAL_MACHINE"
  std::vector<Key> keys;  ///< in stored order
  /// Folded path -> place in keys. Ordered, so the keys below a path are one
  /// range, right after the path and its separator.
  std::map<std::string, size_t> index;
  std::vector<Problem> problems;
};

/// True for "" (the root) or names separated by single backslashes, with no
/// line break anywhere.
bool IsValidKeyPath(const std::string& path);

/// The key of that path (letter case ignored), or nullptr.
Key* FindKey(Hive* hive, const std::string& path);
/// Adds a key after the last one; path must not be a key yet.
Key* AppendKey(Hive* hive, const std::string& path);
/// The key of that path or else the first key below it (in folded order),
/// or nullptr when there is neither.
const Key* FirstKeyAtOrBelow(const Hive& hive, const std::string& path);
/// Calls visit with the path of every key below path (every key but the
/// root for path ""), in folded order.
void ForEachKeyBelow(const Hive& hive, const std::string& path,
                     const std::function<void(const std::string& below)>& visit);

/// The value of that name (letter case ignored) in key, or nullptr; key may
/// be nullptr.
Value* FindValue(Key* key, const std::string& name);
/// Replaces the type and data of the value of that name, or adds the value
/// after the last one.
void SetValue(Key* key, const Value& value);
/// Removes the value of that name; false when there is none.
bool RemoveValue(Key* key, const std::string& name);

/// Reads REGEDIT4 text (or the version 5 header; LF or CRLF line ends, a
/// UTF-8 byte-order mark, comments, hex data continued over lines) into
/// *hive, whose root must already be set: key names under another root are
/// refused. A header repeated in other letter case adds to the first one; a
/// value set twice keeps the last data. Lines that cannot be read are
/// skipped and listed in hive->problems; deletions ("[-...]", "=-") are
/// refused, as a stored hive never holds them.
void ParseHive(const std::string& content, Hive* hive);

/// The hive as REGEDIT4 text, as the registry editor writes it: keys in
/// stored order, each followed by an empty line; REG_SZ in quotes when the
/// quotes carry it without loss, REG_DWORD of 4 bytes as "dword:", anything
/// else as "hex:" or "hex(TYPE):" bytes broken into lines before 80 columns.
std::string SerializeHive(const Hive& hive);

}  // namespace regedit4
}  // namespace platform
