// Running a built tool of the install folder as CUPS or an installer script
// would (RunTool, of support/install_copy.h), and setting the registry
// values that configure the tools.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config/registry.h"
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
template <typename T>
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name, const T& value) {
  CRegistry key(CRegistry::kCreateKey);
  ASSERT_TRUE(key.Open(path.c_str(), root, KEY_ALL_ACCESS)) << path;
  key[name] = value;
}
