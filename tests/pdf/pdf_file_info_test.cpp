#include "pdf/pdf_file_info.h"

#include <gtest/gtest.h>

#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

TEST(GetPDFFilePageCountTest, CountsPagesAndLeavesTheErrorAlone) {
  ScopedTempDir dir;
  MakeTextPdf(dir.Join("a.pdf"), {"1", "2"});
  std::string error = "untouched";
  EXPECT_EQ(2, GetPDFFilePageCount(dir.Join("a.pdf").c_str(), &error));
  EXPECT_EQ("untouched", error);
  EXPECT_EQ(2, GetPDFFilePageCount(dir.Join("a.pdf").c_str()));
}

TEST(GetPDFFilePageCountTest, FailureGivesQpdfsReason) {
  ScopedTempDir dir;
  WriteFileText(dir.Join("bad.pdf"), "%PDF-1.4\nnothing here\n");
  const struct {
    std::string path;
    const char* reason;  // a part of the message
  } cases[] = {{dir.Join("bad.pdf"), "bad.pdf"},
               {dir.Join("missing.pdf"), "missing.pdf"},
               {"", "no file name"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string error;
    EXPECT_EQ(-1, GetPDFFilePageCount(c.path.c_str(), &error));
    EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    EXPECT_EQ(-1, GetPDFFilePageCount(c.path.c_str()));
  }
  std::string error;
  EXPECT_EQ(-1, GetPDFFilePageCount(nullptr, &error));
  EXPECT_EQ("no file name", error);
}

}  // namespace
