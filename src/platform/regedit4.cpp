#include "platform/regedit4.h"

#include <cstdio>
#include <cstring>

#include "platform/names.h"
#include "platform/registry.h"

namespace platform {
namespace regedit4 {

namespace {

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && SameNameIgnoringCase(s.substr(0, prefix.size()), prefix);
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

/// Parses 1 to 8 hex digits, the whole of s.
bool ParseHexNumber(const std::string& s, uint32_t* number) {
  if (s.empty() || s.size() > 8) return false;
  *number = 0;
  for (char c : s) {
    int digit = platform::HexDigitValue(c);
    if (digit < 0) return false;
    *number = *number * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Reading.

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
    int high = i < s.size() ? platform::HexDigitValue(s[i]) : -1;
    int low = i + 1 < s.size() ? platform::HexDigitValue(s[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i = SkipBlanks(s, i + 2);
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

bool ReadTextData(const std::string& rest, Value* value, std::string* why) {
  std::string text;
  if (ReadQuoted(rest, 0, &text) != rest.size()) {
    *why = "bad text";
    return false;
  }
  value->type = REG_SZ;
  value->data = text + '\0';
  return true;
}

/// rest starts with "dword:".
bool ReadDwordData(const std::string& rest, Value* value, std::string* why) {
  uint32_t number;
  if (!ParseHexNumber(rest.substr(6), &number)) {
    *why = "bad dword";
    return false;
  }
  value->type = REG_DWORD;
  value->data.clear();
  for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<char>((number >> (8 * i)) & 0xff));
  return true;
}

/// rest starts with "hex": "hex:" for REG_BINARY or "hex(TYPE):".
bool ReadHexData(const std::string& rest, Value* value, std::string* why) {
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

bool ParseValueLine(const std::string& line, Value* value, std::string* why) {
  size_t pos = ReadValueName(line, &value->name, why);
  if (pos == std::string::npos) return false;
  std::string rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') return ReadTextData(rest, value, why);
  if (StartsWithNoCase(rest, "dword:")) return ReadDwordData(rest, value, why);
  if (StartsWithNoCase(rest, "hex")) return ReadHexData(rest, value, why);
  *why = rest == "-" ? "a deletion, which a hive does not hold" : "unknown kind of data";
  return false;
}

/// Parses "[ROOT\path]" of the hive's root into the path below the root.
bool ParseKeyHeader(const std::string& line, const std::string& root, std::string* path,
                    std::string* why) {
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
  if (!SameNameIgnoringCase(inner.substr(0, slash), root)) {
    *why = "key outside " + root;
    return false;
  }
  *path = slash == std::string::npos ? std::string() : inner.substr(slash + 1);
  if (!IsValidKeyPath(*path)) {
    *why = "empty part in the key name";
    return false;
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

/// Reads a hive's lines in order; `current` is the key that value lines go
/// to (-1 after a header that could not be read).
class HiveReader {
 public:
  explicit HiveReader(Hive* hive) : hive_(hive) {}

  void Read(const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
      size_t lineNumber = i + 1;
      std::string line = Trim(lines[i]);
      if (i == 0 && IsSignature(&line)) continue;
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        ReadHeader(line, lineNumber);
        continue;
      }
      JoinContinuedHex(lines, &i, &line);
      ReadValue(line, lineNumber);
    }
  }

 private:
  /// True for the first line's "REGEDIT4" (after a byte-order mark, which
  /// is taken off *line); another first line is a problem but still read.
  bool IsSignature(std::string* line) {
    if (line->compare(0, 3, "\xEF\xBB\xBF") == 0) *line = Trim(line->substr(3));
    if (*line == "REGEDIT4" || *line == "Windows Registry Editor Version 5.00") return true;
    AddProblem(1, "no REGEDIT4 first line", *line);
    return false;
  }

  void ReadHeader(const std::string& line, size_t lineNumber) {
    std::string path;
    std::string why;
    current_ = -1;
    if (!ParseKeyHeader(line, hive_->root, &path, &why)) {
      AddProblem(lineNumber, why, line);
      return;
    }
    Key* key = FindKey(hive_, path);
    if (!key) key = AppendKey(hive_, path);
    current_ = static_cast<long>(key - hive_->keys.data());
  }

  /// Long hex data goes on over further lines, each but the last ending in
  /// a backslash.
  static void JoinContinuedHex(const std::vector<std::string>& lines, size_t* i,
                               std::string* line) {
    while (!line->empty() && line->back() == '\\' && *i + 1 < lines.size() &&
           IsHexValueLine(*line)) {
      line->pop_back();
      *line += Trim(lines[++*i]);
    }
  }

  void ReadValue(const std::string& line, size_t lineNumber) {
    if (current_ < 0) {
      AddProblem(lineNumber, "value outside a readable key", line);
      return;
    }
    Value value;
    std::string why;
    if (!ParseValueLine(line, &value, &why)) {
      AddProblem(lineNumber, why, line);
      return;
    }
    SetValue(&hive_->keys[static_cast<size_t>(current_)], value);
  }

  void AddProblem(size_t line, const std::string& why, const std::string& text) {
    hive_->problems.push_back(Problem{line, why, text.substr(0, 200)});
  }

  Hive* hive_;
  long current_ = -1;
};

// ---------------------------------------------------------------------------
// Writing.

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

/// Appends the data part of a value line, which starts at lineStart.
void AppendData(std::string* out, size_t lineStart, const Value& value) {
  char head[32];
  if (value.type == REG_SZ && IsPlainText(value.data)) {
    *out += Quote(value.data.substr(0, value.data.size() - 1));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) {
      number = number << 8 | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
    }
    snprintf(head, sizeof(head), "dword:%08x", number);
    *out += head;
  } else {
    if (value.type == REG_BINARY) {
      *out += "hex:";
    } else {
      snprintf(head, sizeof(head), "hex(%x):", value.type);
      *out += head;
    }
    AppendHexBytes(out, lineStart, value.data);
  }
}

}  // namespace

bool IsValidKeyPath(const std::string& path) {
  if (path.empty()) return true;
  if (path.front() == '\\' || path.back() == '\\') return false;
  if (path.find("\\\\") != std::string::npos) return false;
  return path.find_first_of("\r\n") == std::string::npos;
}

Key* FindKey(Hive* hive, const std::string& path) {
  auto it = hive->index.find(FoldNameCase(path));
  return it == hive->index.end() ? nullptr : &hive->keys[it->second];
}

Key* AppendKey(Hive* hive, const std::string& path) {
  hive->index.emplace(FoldNameCase(path), hive->keys.size());
  hive->keys.push_back(Key{path, {}, {}});
  return &hive->keys.back();
}

const Key* FirstKeyAtOrBelow(const Hive& hive, const std::string& path) {
  std::string folded = FoldNameCase(path);
  auto it = hive.index.find(folded);
  if (it == hive.index.end()) {
    // The first key below path, if any, follows path and its separator.
    std::string below = folded + "\\";
    it = hive.index.lower_bound(below);
    if (it != hive.index.end() && it->first.compare(0, below.size(), below) != 0) {
      it = hive.index.end();
    }
  }
  return it == hive.index.end() ? nullptr : &hive.keys[it->second];
}

void ForEachKeyBelow(const Hive& hive, const std::string& path,
                     const std::function<void(const std::string& below)>& visit) {
  std::string first = path.empty() ? std::string() : FoldNameCase(path) + "\\";
  for (auto it = hive.index.lower_bound(first);
       it != hive.index.end() && it->first.compare(0, first.size(), first) == 0; ++it) {
    const std::string& below = hive.keys[it->second].path;
    if (!below.empty()) visit(below);
  }
}

Value* FindValue(Key* key, const std::string& name) {
  if (!key) return nullptr;
  auto it = key->valueIndex.find(FoldNameCase(name));
  return it == key->valueIndex.end() ? nullptr : &key->values[it->second];
}

void SetValue(Key* key, const Value& value) {
  if (Value* same = FindValue(key, value.name)) {
    same->type = value.type;
    same->data = value.data;
    return;
  }
  key->valueIndex.emplace(FoldNameCase(value.name), key->values.size());
  key->values.push_back(value);
}

bool RemoveValue(Key* key, const std::string& name) {
  Value* value = FindValue(key, name);
  if (!value) return false;
  key->values.erase(key->values.begin() + (value - key->values.data()));
  key->valueIndex.clear();
  for (size_t i = 0; i < key->values.size(); ++i) {
    key->valueIndex.emplace(FoldNameCase(key->values[i].name), i);
  }
  return true;
}

void ParseHive(const std::string& content, Hive* hive) {
  HiveReader(hive).Read(SplitLines(content));
}

std::string SerializeHive(const Hive& hive) {
  std::string out = "REGEDIT4\n\n";
  for (const Key& key : hive.keys) {
    out += "[" + hive.root;
    if (!key.path.empty()) out += "\\" + key.path;
    out += "]\n";
    for (const Value& value : key.values) {
      size_t lineStart = out.size();
      out += value.name.empty() ? std::string("@") : Quote(value.name);
      out += "=";
      AppendData(&out, lineStart, value);
      out += "\n";
    }
    out += "\n";
  }
  return out;
}

}  // namespace regedit4
}  // namespace platform
