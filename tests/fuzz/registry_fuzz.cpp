// The REGEDIT4 hive reader, reached as the program reaches it: through the
// registry calls over a hive file in TARVELIN_REGISTRY_DIR. The input is the
// hive file (of the local machine when it names that root, else of the
// current user). Every key the hive reader finds is opened and its values are
// listed with buffers of exactly the sizes RegQueryInfoKeyA reports; then a
// value is written, which rewrites the whole hive, and every value read
// before must read back unchanged.
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "fuzz_support.h"
#include "platform/regedit4.h"
#include "platform/registry.h"

namespace {

const size_t kMaxKeys = 16;
const char kFuzzValue[] = "FuzzWrittenValue";

struct ValueRecord {
  uint32_t type;
  std::string data;
};

// Lower-cased value name -> what it holds, for one key.
using KeyValues = std::map<std::string, ValueRecord>;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Lists the values of an open key and checks each against a direct query.
KeyValues ListValues(HKEY key) {
  uint32_t subKeys = 0, values = 0, longestName = 0, longestData = 0;
  FUZZ_CHECK(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                              &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS);
  KeyValues found;
  for (uint32_t i = 0; i <= values; ++i) {
    uint32_t nameLength = longestName + 1;
    uint32_t dataSize = longestData;
    std::unique_ptr<char[]> name(new char[nameLength]);
    std::unique_ptr<unsigned char[]> data(new unsigned char[longestData > 0 ? longestData : 1]);
    uint32_t type = 0xFFFFFFFF;
    long status =
        RegEnumValueA(key, i, name.get(), &nameLength, nullptr, &type, data.get(), &dataSize);
    if (i == values) {
      FUZZ_CHECK(status == ERROR_NO_MORE_ITEMS);
      break;
    }
    FUZZ_CHECK(status == ERROR_SUCCESS);
    FUZZ_CHECK(nameLength <= longestName && dataSize <= longestData);
    std::string valueName(name.get(), nameLength);
    ValueRecord record{type, std::string(reinterpret_cast<char*>(data.get()), dataSize)};
    FUZZ_CHECK(found.count(Lower(valueName)) == 0);

    uint32_t queriedType = 0xFFFFFFFF;
    uint32_t queriedSize = longestData;
    std::unique_ptr<unsigned char[]> queried(new unsigned char[longestData > 0 ? longestData : 1]);
    FUZZ_CHECK(RegQueryValueExA(key, valueName.c_str(), nullptr, &queriedType, queried.get(),
                                &queriedSize) == ERROR_SUCCESS ||
               valueName.find('\0') != std::string::npos);
    if (valueName.find('\0') == std::string::npos) {
      FUZZ_CHECK(queriedType == type && queriedSize == dataSize);
      FUZZ_CHECK(std::memcmp(queried.get(), data.get(), dataSize) == 0);
    }
    found[Lower(valueName)] = record;
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    setenv("TARVELIN_REGISTRY_DIR", fuzz::ScratchDir().c_str(), 1);
    return true;
  }();
  (void)ready;

  std::string text(reinterpret_cast<const char*>(data), size);
  bool localMachine = Lower(text).find("[hkey_local_machine") != std::string::npos;
  HKEY root = localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  fuzz::Input(localMachine ? "HKEY_LOCAL_MACHINE.reg" : "HKEY_CURRENT_USER.reg", data, size);

  // The keys the hive reader finds in the text (and the root); those that
  // open, with what they hold, by their path in lower case (names differing
  // in case only are one key, and the calls see a name up to its first NUL).
  platform::regedit4::Hive hive;
  hive.root = localMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  platform::regedit4::ParseHive(text, &hive);
  std::vector<std::string> paths{""};
  for (size_t i = 0; i < hive.keys.size() && paths.size() < kMaxKeys; ++i) {
    paths.push_back(hive.keys[i].path.c_str());
  }
  std::map<std::string, std::pair<std::string, KeyValues>> keys;
  for (const std::string& path : paths) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    FUZZ_CHECK(key != nullptr);
    keys[Lower(path)] = {path, ListValues(key)};
    FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  }
  FUZZ_CHECK(keys.count("") == 1);

  // Write a value into the last key that opened: the hive is rewritten from
  // what was read, so the rewrite must carry everything over.
  auto& target = keys.rbegin()->second;
  HKEY key = nullptr;
  FUZZ_CHECK(RegCreateKeyExA(root, target.first.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS);
  std::string bytes = text.substr(0, 24);
  FUZZ_CHECK(RegSetValueExA(key, kFuzzValue, 0, REG_BINARY,
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size())) == ERROR_SUCCESS);
  FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  target.second[Lower(kFuzzValue)] = ValueRecord{REG_BINARY, bytes};

  for (const auto& entry : keys) {
    const std::string& path = entry.second.first;
    const KeyValues& expected = entry.second.second;
    HKEY reopened = nullptr;
    FUZZ_CHECK(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &reopened) == ERROR_SUCCESS);
    KeyValues now = ListValues(reopened);
    FUZZ_CHECK(RegCloseKey(reopened) == ERROR_SUCCESS);
    FUZZ_CHECK(now.size() == expected.size());
    for (const auto& value : expected) {
      auto it = now.find(value.first);
      FUZZ_CHECK(it != now.end());
      FUZZ_CHECK(it->second.type == value.second.type && it->second.data == value.second.data);
    }
  }
  return 0;
}
