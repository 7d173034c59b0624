#include "pdf/pdf_file_info.h"

#include <gtest/gtest.h>

#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

TEST(GetPDFFilePageCountTest, FailureGivesQpdfsReason) {
  ScopedTempDir dir;
  WriteFileText(dir.Join("bad.pdf"), "%PDF-1.4\nnothing here\n");
  const std::string bad = dir.Join("bad.pdf"), missing = dir.Join("missing.pdf");
  const std::pair<const char*, const char*> cases[] = {// a path, a part of the message
                                                       {bad.c_str(), "bad.pdf"},
                                                       {missing.c_str(), "missing.pdf"},
                                                       {"", "no file name"},
                                                       {nullptr, "no file name"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    std::string error;
    EXPECT_EQ(-1, GetPDFFilePageCount(c.first, &error));
    EXPECT_TRUE(Has(error, c.second));
    EXPECT_EQ(-1, GetPDFFilePageCount(c.first));
  }
}

}  // namespace
