// The INI profile functions over a settings file whose bytes are the input.
// The sections and keys the file names are looked up with buffers of several
// sizes; then one key is written and must read back, while every other key
// keeps its value.
#include <cstring>
#include <memory>
#include <utility>

#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

const size_t kMaxPairs = 8;
const int kBufferSizes[] = {1, 2, 7, 260, 4096};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A name the file syntax can carry unchanged: printable, no blanks at its
// ends and none of the characters that mark sections, comments or values.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name.size() > 100 || Trim(name) != name) return false;
  if (name[0] == ';' || name[0] == '[') return false;
  for (char c : name) {
    if (c < 0x20 || c > 0x7e || c == '=' || c == ']' || c == '"' || c == '\'') return false;
  }
  return true;
}

// The (section, key) pairs the file names, in file order.
std::vector<std::pair<std::string, std::string>> NamedPairs(const std::string& content) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string section;
  size_t pos = 0;
  while (pos < content.size() && pairs.size() < kMaxPairs) {
    size_t nl = content.find('\n', pos);
    std::string line =
        Trim(content.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? content.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (line.find('=') != std::string::npos && line[0] != ';') {
      pairs.emplace_back(section, Trim(line.substr(0, line.find('='))));
    }
  }
  pairs.emplace_back("Options", "OutputPDFFile");
  pairs.emplace_back("debug", "outlog");
  return pairs;
}

// Reads a value with a buffer of exactly `size` bytes and checks the result.
std::string Read(const std::string& section, const std::string& key, int size,
                 const std::string& file) {
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size)]);
  std::memset(buffer.get(), 'x', static_cast<size_t>(size));
  int n = platform::GetPrivateProfileStringA(section.c_str(), key.c_str(), "  fallback  ",
                                             buffer.get(), size, file.c_str());
  FUZZ_CHECK(n >= 0 && n < size);
  FUZZ_CHECK(buffer[n] == '\0');
  FUZZ_CHECK(std::strlen(buffer.get()) <= static_cast<size_t>(n));
  return std::string(buffer.get(), static_cast<size_t>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string file = fuzz::Input("profile.ini", data, size);
  std::string content(reinterpret_cast<const char*>(data), size);
  auto pairs = NamedPairs(content);

  std::vector<std::string> before;
  for (const auto& pair : pairs) {
    std::string full = Read(pair.first, pair.second, 4096, file);
    for (int bufferSize : kBufferSizes) {
      std::string part = Read(pair.first, pair.second, bufferSize, file);
      FUZZ_CHECK(full.compare(0, part.size(), part) == 0);
    }
    platform::GetPrivateProfileIntA(pair.first.c_str(), pair.second.c_str(), -7, file.c_str());
    before.push_back(full);
  }

  // Write one key: the first plain pair of the file, else a new one.
  std::string section = "FuzzSection", key = "FuzzKey";
  for (const auto& pair : pairs) {
    if (IsPlainName(pair.first) && IsPlainName(pair.second)) {
      section = pair.first;
      key = pair.second;
      break;
    }
  }
  std::string value = "v" + std::to_string(size) + " x";
  FUZZ_CHECK(platform::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                                  file.c_str()) != 0);
  FUZZ_CHECK(Read(section, key, 4096, file) == value);

  // Writing the same value again changes nothing.
  std::string written = fuzz::Content(file);
  FUZZ_CHECK(platform::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                                  file.c_str()) != 0);
  FUZZ_CHECK(fuzz::Content(file) == written);

  // No other key changed.
  for (size_t i = 0; i < pairs.size(); ++i) {
    const auto& [name, entry] = pairs[i];
    const bool written = strcasecmp(name.c_str(), section.c_str()) == 0 &&
                         strcasecmp(entry.c_str(), key.c_str()) == 0;
    FUZZ_CHECK(written || Read(name, entry, 4096, file) == before[i]);
  }
  return 0;
}
