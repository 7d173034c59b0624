// The Windows test binary's entry: GoogleTest, or one of the helper
// processes the tests start (--helper NAME ...), see native_calls.h.
#include <gtest/gtest.h>

#include "win32/native_calls.h"

int main(int argc, char** argv) {
  int helper = win32test::RunHelper(argc, argv);
  if (helper >= 0) return helper;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
