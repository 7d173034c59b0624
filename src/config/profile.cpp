#include "config/profile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "config/log.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace {

const size_t kPieceSize = 256;  // a piece holds at most 255 bytes
const size_t kNameLimit = 30;
const size_t kKeyLimit = 50;
const size_t kValueLimit = 200;

// A node that cannot be made ends the process, with the line that failed.
template <typename Node>
Node* NewNode(int line) {
  Node* node = new (std::nothrow) Node();
  if (!node) {
    printf("file %s, line %d memory NULL! exit(1)\n", "profile", line);
    exit(1);
  }
  return node;
}

void CopyCut(char* target, const std::string& text, size_t limit) {
  size_t n = text.size() < limit ? text.size() : limit;
  memcpy(target, text.data(), n);
  target[n] = '\0';
}

// The file in pieces of at most 255 bytes, each without one trailing line
// end; a piece that is a lone line feed is left out.
bool ReadPieces(const char* path, std::vector<std::string>* pieces) {
  FILE* file = fopen(path, "r");
  if (!file) return false;
  char buffer[kPieceSize];
  while (fgets(buffer, sizeof(buffer), file)) {
    std::string piece = buffer;
    if (piece == "\n") continue;
    if (piece.size() > 1 && (piece.back() == '\r' || piece.back() == '\n')) piece.pop_back();
    pieces->push_back(piece);
  }
  fclose(file);
  return true;
}

// Whole lines of the file with their line ends, for an edit that keeps them.
std::vector<std::string> RawLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    end = end == std::string::npos ? content.size() : end + 1;
    lines.push_back(content.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line;
  return out;
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string LineEndOf(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
    if (!line.empty() && line.back() == '\n') return "\n";
  }
  return "\n";
}

// The name of a section header line, cut as the model cuts it.
std::string SectionName(const std::string& text) {
  return text.substr(1, text.size() - 2).substr(0, kNameLimit);
}

// Sets the entry among the file's own lines: every line it does not change
// stays as it was.
std::string EditLines(const std::string& content, const std::string& section,
                      const std::string& key, const std::string& value) {
  std::vector<std::string> lines = RawLines(content);
  std::string eol = LineEndOf(lines);
  std::string entry = key + "=" + value;
  if (!lines.empty() && lines.back().back() != '\n') lines.back() += eol;
  long header = -1, firstSection = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string text = WithoutLineEnd(lines[i]);
    int kind = ClassifyProfileLine(text.c_str());
    if (kind == kProfileSection) {
      if (firstSection < 0) firstSection = static_cast<long>(i);
      if (header >= 0) break;  // the section ended without the key
      if (SectionName(text) == section) header = static_cast<long>(i);
    } else if (kind == kProfileKey && header >= 0 &&
               text.substr(0, text.find('=')).substr(0, kKeyLimit) == key) {
      lines[i] = entry + eol;
      return Join(lines);
    }
  }
  if (header >= 0) {
    lines.insert(lines.begin() + header + 1, entry + eol);
  } else {
    long at = firstSection < 0 ? static_cast<long>(lines.size()) : firstSection;
    std::vector<std::string> added{"[" + section + "]" + eol, entry + eol};
    if (firstSection >= 0) added.push_back(eol);
    lines.insert(lines.begin() + at, added.begin(), added.end());
  }
  return Join(lines);
}

}  // namespace

int ClassifyProfileLine(const char* line) {
  size_t length = strlen(line);
  if (length == 0 || line[0] == ';') return kProfileBlank;
  if (line[0] == '[' && line[length - 1] == ']') return kProfileSection;
  const char* equals = strchr(line, '=');
  if (equals && equals != line) return kProfileKey;
  return kProfileMalformed;
}

ProfileSection* ReadProfile(const char* path) {
  std::vector<std::string> pieces;
  if (!path || !ReadPieces(path, &pieces)) return nullptr;
  ProfileSection* first = nullptr;
  ProfileSection* last = nullptr;
  ProfileKey* lastKey = nullptr;
  for (const std::string& piece : pieces) {
    switch (ClassifyProfileLine(piece.c_str())) {
      case kProfileSection: {
        ProfileSection* section = NewNode<ProfileSection>(__LINE__);
        CopyCut(section->name, SectionName(piece), kNameLimit);
        (last ? last->next : first) = section;
        last = section;
        lastKey = nullptr;
        break;
      }
      case kProfileKey: {
        if (!last) break;
        ProfileKey* key = NewNode<ProfileKey>(__LINE__);
        size_t equals = piece.find('=');
        CopyCut(key->key, piece.substr(0, equals), kKeyLimit);
        CopyCut(key->value, piece.substr(equals + 1), kValueLimit);
        (lastKey ? lastKey->next : last->keys) = key;
        lastKey = key;
        break;
      }
      case kProfileMalformed:
        printf("profile %s format not support\n", path);
        FreeProfile(first);
        return nullptr;
      default:
        break;
    }
  }
  return first;
}

void WriteProfile(const char* path, const ProfileSection* profile) {
  std::string text;
  for (const ProfileSection* section = profile; section; section = section->next) {
    if (section != profile) text += "\n";
    text += "[" + std::string(section->name) + "]\n";
    for (const ProfileKey* key = section->keys; key; key = key->next) {
      text += std::string(key->key) + "=" + key->value + "\n";
    }
  }
  platform::WriteFileAtomically(path, text);
}

void FreeProfile(ProfileSection* profile) {
  while (profile) {
    ProfileSection* next = profile->next;
    for (ProfileKey* key = profile->keys; key;) {
      ProfileKey* nextKey = key->next;
      delete key;
      key = nextKey;
    }
    delete profile;
    profile = next;
  }
}

void SetProfileString(const char* path, const char* section, const char* key, const char* value) {
  if (!path || !section || !key || !value) return;
  std::string name = std::string(section).substr(0, kNameLimit);
  std::string keyText = std::string(key).substr(0, kKeyLimit);
  std::string valueText = std::string(value).substr(0, kValueLimit);
  // Settings writes of other runs take the same lock.
  platform::FileLock lock(platform::ProfileLockPath(path));
  std::string content;
  if (platform::PathEntryExists(path) && !platform::ReadWholeFile(path, &content)) {
    OutLog("[ERROR] Could not read \"%s\"; %s=%s is not written into it.\n", path, keyText.c_str(),
           valueText.c_str());
    return;
  }
  // Judged by whole lines: a long value arrives in several pieces when the
  // model reads it, but it is one key line, kept as it is.
  for (const std::string& line : RawLines(content)) {
    if (ClassifyProfileLine(WithoutLineEnd(line).c_str()) == kProfileMalformed) {
      OutLog(
          "[ERROR] \"%s\" has a line that is no section, key or comment; %s=%s is not "
          "written into it.\n",
          path, keyText.c_str(), valueText.c_str());
      return;
    }
  }
  std::string error;
  if (!platform::WriteFileAtomically(path, EditLines(content, name, keyText, valueText), &error)) {
    OutLog("[ERROR] Could not write \"%s\": %s\n", path, error.c_str());
  }
}
