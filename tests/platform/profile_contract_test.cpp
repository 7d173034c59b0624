// The contract of the profile functions, held by both halves: the
// program's own INI code on POSIX and the system's functions on Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/profile.h"
#include "support/temp_dir.h"
using platform::GetPrivateProfileIntA;
using platform::GetPrivateProfileStringA;
using platform::WritePrivateProfileStringA;

namespace {

// Wine's profile functions rewrite every line of the file they change and
// trim what Windows keeps; the checks of what Windows keeps skip there.
bool UnderWine() {
  void* ntdll = platform::LoadSharedLibrary("ntdll.dll");
  return ntdll && platform::FindLibrarySymbol(ntdll, "wine_get_version");
}
const char kWineRewrites[] = "Wine's profile functions rewrite lines Windows keeps as they are";

std::string Get(const std::string& file, const char* section, const char* key,
                const char* def = "DEF", int size = 256) {
  char buf[256];
  int n = GetPrivateProfileStringA(section, key, def, buf, size, file.c_str());
  EXPECT_EQ(static_cast<int>(strlen(buf)), n);
  return buf;
}

const char kSample[] =
    "; settings written by hand\r\n"
    "[Options]\r\n"
    "  OutputPDFFile =  C:\\out\\all.pdf  \r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Inner=\"a\"b\"\r\n"
    "Open=\"abc\r\n"
    "Single='x'\r\n"
    "Lone=\"\r\n"
    ";Commented=1\r\n"
    "garbage line without equals\r\n"
    "Num= 007\r\n"
    "Mixed=12abc\r\n"
    "Neg=-5\r\n"
    "Plus= +5\r\n"
    "Word=abc\r\n"
    "Empty=\r\n"
    "\r\n"
    "[ debug ]\r\n"
    "outlog=No\r\n";

struct ProfileContractTest : testing::Test {
  ScopedTempDir dir;
  const std::string ini = dir.Join("config.ini");
};

TEST_F(ProfileContractTest, ReadsValuesLikeTheWindowsFunctions) {
  WriteFileText(ini, kSample);
  EXPECT_EQ("C:\\out\\all.pdf", Get(ini, "options", "OUTPUTPDFFILE"));
  EXPECT_EQ("  spaced  ", Get(ini, "Options", "Quoted"));
  EXPECT_EQ("a\"b", Get(ini, "Options", "Inner"));
  EXPECT_EQ("\"abc", Get(ini, "Options", "Open"));
  EXPECT_EQ("x", Get(ini, "Options", "Single"));
  EXPECT_EQ("\"", Get(ini, "Options", "Lone"));
  EXPECT_EQ("DEF", Get(ini, "Options", "Commented"));
  EXPECT_EQ("No", Get(ini, "DEBUG", "outlog"));
  EXPECT_EQ("", Get(ini, "Options", "Empty"));
  EXPECT_EQ("  lead", Get(ini, "Options", "Missing", "  lead  "));
  EXPECT_EQ("C:\\o", Get(ini, "Options", "OutputPDFFile", "", 5));

  const char* f = ini.c_str();
  EXPECT_EQ(7, GetPrivateProfileIntA("Options", "Num", 1, f));
  EXPECT_EQ(12, GetPrivateProfileIntA("Options", "Mixed", 1, f));
  EXPECT_EQ(-5, GetPrivateProfileIntA("Options", "Neg", 1, f));
  EXPECT_EQ(5, GetPrivateProfileIntA("Options", "Plus", 1, f));
  EXPECT_EQ(0, GetPrivateProfileIntA("Options", "Word", 1, f));
  EXPECT_EQ(9, GetPrivateProfileIntA("Options", "Empty", 9, f));
  EXPECT_EQ(9, GetPrivateProfileIntA("Options", "Missing", 9, f));
}

TEST_F(ProfileContractTest, WritesKeepEveryOtherLine) {
  if (UnderWine()) GTEST_SKIP() << kWineRewrites;
  EXPECT_EQ("  lead", Get(dir.Join("none.ini"), "Options", "Missing", "  lead \t"));
  WriteFileText(ini, kSample);
  const char* f = ini.c_str();
  ASSERT_TRUE(WritePrivateProfileStringA("OPTIONS", "num", "8", f));
  ASSERT_TRUE(WritePrivateProfileStringA("Options", "NewKey", "v", f));
  ASSERT_TRUE(WritePrivateProfileStringA("installation", "PrinterName", "P", f));
  std::string expected = kSample;
  expected.replace(expected.find("Num= 007"), 8, "num=8");
  expected.replace(expected.find("Empty=\r\n") + 8, 0, "NewKey=v\r\n");
  expected += "[installation]\r\nPrinterName=P\r\n";
  EXPECT_EQ(expected, ReadFileText(ini));
}

TEST_F(ProfileContractTest, ByteOrderMarkHidesNoSectionAndStays) {
  const std::string bom = "\xEF\xBB\xBF";
  WriteFileText(ini, bom + "[Options]\r\nLastFileIndex=4\r\n");
  EXPECT_EQ("4", Get(ini, "Options", "LastFileIndex"));
  EXPECT_EQ(4, GetPrivateProfileIntA("Options", "LastFileIndex", 1, ini.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Options", "LastFileIndex", "5", ini.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Options", "Title", "T", ini.c_str()));
  EXPECT_EQ(bom + "[Options]\r\nLastFileIndex=5\r\nTitle=T\r\n", ReadFileText(ini));
}

// A file whose last line ends in a lone carriage return: what is written
// after it must be readable, in a new section and in the same one.
TEST_F(ProfileContractTest, LoneCarriageReturnAtTheEndHidesNothing) {
  for (const char* content : {"`1\r", "[Options]\nA=1\r", "[C]\nx=\r\r"}) {
    SCOPED_TRACE(content);
    WriteFileText(ini, content);
    ASSERT_TRUE(WritePrivateProfileStringA("Options", "B", "2", ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Other", "C", "3", ini.c_str()));
    EXPECT_EQ("2", Get(ini, "Options", "B"));
    EXPECT_EQ("3", Get(ini, "Other", "C"));
  }
  // A value that ends in a carriage return keeps it.
  if (UnderWine()) GTEST_SKIP() << kWineRewrites;
  EXPECT_EQ("\r", Get(ini, "C", "x"));
}

}  // namespace
