// INI text with the semantics of the Windows profile functions: names match
// without regard to case, blanks around keys and values are trimmed, and every
// line a write does not change is kept exactly as it was.
#include "platform/profile_text.h"

#include <vector>

#include "platform/names.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A name ends at a zero byte, as the C strings of the Windows functions do.
bool SameName(const std::string& a, const char* b) { return SameNameIgnoringCase(a.c_str(), b); }

// One line of the file, its end of line kept apart so it can be written back.
struct Line {
  std::string text;  // without the line end
  std::string end;   // "\n", "\r\n" or "" for a last line without one
};

// Some editors start the file with a UTF-8 byte-order mark. It is not part of
// the first line (which would hide the first section); a write keeps it.
const char kUtf8Bom[] = "\xEF\xBB\xBF";

size_t BomLength(const std::string& content) { return content.rfind(kUtf8Bom, 0) == 0 ? 3 : 0; }

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t pos = BomLength(content);
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = content.substr(pos);
      pos = content.size();
    } else {
      line.text = content.substr(pos, nl - pos);
      line.end = "\n";
      pos = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.end = "\r" + line.end;
    }
    lines.push_back(line);
  }
  return lines;
}

// Section name of a header line ("[name]"), or false for any other line.
bool ParseSection(const std::string& text, std::string* name) {
  std::string t = Trim(text);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  *name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// Key and raw value of a "key=value" line; comments and other lines give false.
bool ParseEntry(const std::string& text, std::string* key, std::string* value) {
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return !key->empty();
}

// A line that a new line cannot follow yet: the reader splits at line feeds
// only, so a lone carriage return at the end of the file ends nothing.
bool NeedsLineEnd(const Line& line) { return line.end.empty() || line.end == "\r"; }

// Ends such a line before another is put after it. A lone carriage return
// becomes a CR LF, so the line reads back as it did: its text keeps every
// byte (a value ending in a carriage return included).
void EndLine(Line* line, const std::string& eol) {
  if (line->end.empty()) {
    line->end = eol;
  } else if (line->end == "\r") {
    line->end = "\r\n";
  }
}

std::string LineEndOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!NeedsLineEnd(line)) return line.end;
  }
  return "\n";
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.end;
  return out;
}

// Where a section and one of its keys lie among the lines (-1: absent).
struct SectionPlace {
  long sectionLine = -1;  // the "[section]" line
  long sectionEnd = -1;   // the line after the section's last
  long keyLine = -1;      // the key's first line in the section
  long lastKeyLine = -1;  // the section's last key line
};

SectionPlace FindSectionAndKey(const std::vector<Line>& lines, const char* section,
                               const char* key) {
  SectionPlace place;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    long at = static_cast<long>(i);
    if (ParseSection(lines[i].text, &name)) {
      if (place.sectionLine >= 0) {
        place.sectionEnd = at;
        return place;
      }
      if (SameName(name, section)) place.sectionLine = at;
    } else if (place.sectionLine >= 0 && ParseEntry(lines[i].text, &k, &v)) {
      place.lastKeyLine = at;
      if (key && place.keyLine < 0 && SameName(k, key)) place.keyLine = at;
    }
  }
  if (place.sectionLine >= 0) place.sectionEnd = static_cast<long>(lines.size());
  return place;
}

// Sets key=value: in place, after the section's last key, or in a new
// section at the end.
void SetEntry(std::vector<Line>* lines, const SectionPlace& place, const char* section,
              const std::string& entry, const std::string& eol) {
  if (place.keyLine >= 0) {
    (*lines)[place.keyLine].text = entry;
  } else if (place.sectionLine >= 0) {
    long after = place.lastKeyLine >= 0 ? place.lastKeyLine : place.sectionLine;
    EndLine(&(*lines)[after], eol);
    lines->insert(lines->begin() + after + 1, Line{entry, eol});
  } else {
    if (!lines->empty()) EndLine(&lines->back(), eol);
    lines->push_back(Line{"[" + std::string(section) + "]", eol});
    lines->push_back(Line{entry, eol});
  }
}

}  // namespace

bool FindProfileValue(const std::string& content, const char* section, const char* key,
                      std::string* value) {
  bool inSection = false;
  for (const Line& line : SplitLines(content)) {
    std::string name, k, v;
    if (ParseSection(line.text, &name)) {
      inSection = SameName(name, section);
    } else if (inSection && ParseEntry(line.text, &k, &v) && SameName(k, key)) {
      if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
        v = v.substr(1, v.size() - 2);
      }
      *value = v;
      return true;
    }
  }
  return false;
}

std::string ApplyProfileWrite(const std::string& content, const char* section, const char* key,
                              const char* value) {
  std::vector<Line> lines = SplitLines(content);
  const std::string bom = content.substr(0, BomLength(content));
  SectionPlace place = FindSectionAndKey(lines, section, key);
  if (!key) {
    if (place.sectionLine >= 0) {
      lines.erase(lines.begin() + place.sectionLine, lines.begin() + place.sectionEnd);
    }
  } else if (!value) {
    if (place.keyLine >= 0) lines.erase(lines.begin() + place.keyLine);
  } else {
    SetEntry(&lines, place, section, std::string(key) + "=" + value, LineEndOf(lines));
  }
  return bom + Join(lines);
}

int ProfileNumber(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  long long n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;  // wraps like the 32-bit original, never overflows
  }
  return static_cast<int>(static_cast<unsigned>(negative ? -n : n));
}

std::string ProfileDefault(const char* defaultValue) {
  std::string value = defaultValue ? defaultValue : "";
  while (!value.empty() && IsBlank(value.back())) value.pop_back();
  return value;
}

}  // namespace platform
