#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tarvelin.h"
#include "config/command_options.h"
#include "support/temp_dir.h"

namespace {

// An argument vector the parser may rewrite, with the words kept alive.
struct Args {
  explicit Args(std::vector<std::string> words) : words_(std::move(words)) {
    for (auto& w : words_) ptrs_.push_back(&w[0]);
    ptrs_.push_back(nullptr);
    argc = static_cast<int>(words_.size());
  }
  char** argv() { return ptrs_.data(); }
  std::vector<std::string> Left() const {
    std::vector<std::string> left;
    for (int i = 0; i < argc; ++i) left.push_back(ptrs_[i]);
    return left;
  }
  int argc;

 private:
  std::vector<std::string> words_;
  std::vector<char*> ptrs_;
};

struct Parsed {
  CommandOptions options{};
  OptionEntry table[19];
  Parsed() { BuildOptionTable(&options, table); }
};

TEST(OptionsTest, RemovesRecognisedWordsAndTakesStringValuesAsIsAndCut) {
  Parsed p;
  Args mixed({"prog", "x", "-printer", "P 1", "-paper", "+7", "-syncpdf", "y"});
  EXPECT_EQ(1, ParseOptions(p.table, &mixed.argc, mixed.argv()));
  EXPECT_STREQ("P 1", p.options.printerName);
  EXPECT_EQ(7, p.options.paper);
  EXPECT_EQ(1, p.options.syncPdf);
  EXPECT_EQ((std::vector<std::string>{"prog", "x", "y"}), mixed.Left());

  std::string longName(1500, 'n');
  Args a({"prog", "-printer", "-outfolder", "-portname", longName, "-appendfile", "a",
          "-appendfile", "b"});
  std::vector<const OptionEntry*> cut;
  EXPECT_EQ(1, ParseOptions(p.table, &a.argc, a.argv(), &cut));
  EXPECT_STREQ("-outfolder", p.options.printerName);
  EXPECT_STREQ("", p.options.outFolder);
  EXPECT_EQ(std::string(199, 'n'), p.options.portName);
  EXPECT_EQ(0, p.options.monitorName[0]);  // the field behind portName is untouched
  EXPECT_STREQ("b", p.options.appendFile);
  ASSERT_EQ(1u, cut.size());
  EXPECT_STREQ("-portname", cut[0]->name);
}

}  // namespace
