// Running a built tool of the install folder as CUPS or an installer script
// would (RunTool, of support/install_copy.h), and setting the registry
// values that configure the tools.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/registry.h"
#include "support/install_copy.h"

/// A CUPS backend's exit codes: the job delivered, or kept (the queue stops).
const int kDelivered = 0;
const int kKeepJob = 4;
/// A one-page PostScript job.
const char kJob[] = "%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n%%EOF\n";

inline bool IsRoot() { return geteuid() == 0; }

/// Sets a value under root\\path, making the key: text as REG_SZ, a number
/// as REG_DWORD.
inline void SetRegistryData(HKEY root, const std::string& path, const char* name, uint32_t type,
                            const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, name, 0, type, reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<uint32_t>(data.size())));
  RegCloseKey(key);
}
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name,
                             const std::string& text) {
  SetRegistryData(root, path, name, REG_SZ, text + '\0');
}
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name,
                             uint32_t number) {
  std::string data;
  for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>(number >> shift);
  SetRegistryData(root, path, name, REG_DWORD, data);
}
