// Times the registry store on hives of 1k, 5k and 20k keys, through the
// registry calls: a read (open a key, query a value: the hive is parsed
// twice) and a write (set a value: parsed, changed and written). Prints the
// times and, for each, the time per key at 20k over that at 1k, which stays
// near 1 while the store is linear in the number of keys.
//
//   registry_parse [REPEATS]    (the hives go to a new temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/registry.h"

namespace {

const char kKeyFormat[] = "Software\\Bench\\Key%06d";

std::string KeyPath(int i) {
  char path[64];
  std::snprintf(path, sizeof(path), kKeyFormat, i);
  return path;
}

void WriteHive(const std::string& file, int keys) {
  std::ofstream out(file, std::ios::binary);
  out << "REGEDIT4\n\n";
  for (int i = 0; i < keys; ++i) {
    out << "[HKEY_CURRENT_USER\\" << KeyPath(i) << "]\n\"Value\"=\"v" << i << "\"\n\n";
  }
}

// The best of `repeats` runs, in seconds; false when a call failed.
bool Time(int repeats, const std::function<bool()>& run, double* seconds) {
  *seconds = 1e9;
  for (int r = 0; r < repeats; ++r) {
    auto start = std::chrono::steady_clock::now();
    if (!run()) return false;
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    *seconds = std::min(*seconds, took.count());
  }
  return true;
}

bool ReadLastKey(int keys) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(keys - 1).c_str(), 0, KEY_READ, &key) != 0) {
    return false;
  }
  char data[64];
  uint32_t size = sizeof(data);
  long status = RegQueryValueExA(key, "Value", nullptr, nullptr,
                                 reinterpret_cast<unsigned char*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool WriteLastKey(int keys) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(keys - 1).c_str(), 0, KEY_ALL_ACCESS, &key) != 0) {
    return false;
  }
  const unsigned char data[] = "changed";
  long status = RegSetValueExA(key, "Value", 0, REG_SZ, data, sizeof(data));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = argc > 1 ? std::atoi(argv[1]) : 3;
  if (repeats < 1) {
    std::fprintf(stderr, "usage: registry_parse [REPEATS]\n");
    return 2;
  }
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("registry-bench-" + std::to_string(stamp));
  std::filesystem::create_directories(root);
  const int sizes[] = {1000, 5000, 20000};
  double read[3], write[3];
  std::printf("%8s %12s %14s %12s %14s\n", "keys", "read ms", "read us/key", "write ms",
              "write us/key");
  bool ok = true;
  for (int i = 0; i < 3 && ok; ++i) {
    int keys = sizes[i];
    std::filesystem::path dir = root / std::to_string(keys);
    std::filesystem::create_directories(dir);
    WriteHive((dir / "HKEY_CURRENT_USER.reg").string(), keys);
    setenv("TARVELIN_REGISTRY_DIR", dir.c_str(), 1);
    ok = Time(
             repeats, [keys] { return ReadLastKey(keys); }, &read[i]) &&
         Time(
             repeats, [keys] { return WriteLastKey(keys); }, &write[i]);
    if (ok) {
      std::printf("%8d %12.1f %14.2f %12.1f %14.2f\n", keys, read[i] * 1e3, read[i] * 1e6 / keys,
                  write[i] * 1e3, write[i] * 1e6 / keys);
    }
  }
  std::filesystem::remove_all(root);
  if (!ok) {
    std::fprintf(stderr, "registry_parse: a registry call failed\n");
    return 1;
  }
  std::printf("time per key, 20k over 1k: read %.2f, write %.2f\n",
              (read[2] / sizes[2]) / (read[0] / sizes[0]),
              (write[2] / sizes[2]) / (write[0] / sizes[0]));
  return 0;
}
