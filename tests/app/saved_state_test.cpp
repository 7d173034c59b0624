#include "app/printer_app/saved_state.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

TEST(SavedStateTest, JobsAKillInterruptedArePendingAgainAndNothingElseChanges) {
  ScopedTempDir spool;
  const std::string whole = spool.Join("p00001j000000003-a.pdf");
  const std::string second = spool.Join("p00002j000000003-b.pdf");
  WriteFileText(whole, "%PDF-1.4\n%%EOF\n");
  WriteFileText(second, "%PDF-1.4\n%%EOF\n");
  WriteFileText(spool.Join("p00001j000000004-cut.pdf"), "%PDF-1.4\n1 0 obj");
  WriteFileText(spool.Join("p00001j000000005-attributes.ipp"), "%%EOF");
  const auto documents = SpoolDocuments(spool.path());
  ASSERT_EQ(3u, documents.size()) << "the .ipp file is no document";
  EXPECT_EQ(whole, documents.at({1, 3}));

  // One row a job line of printer 1: as saved, and as it must be loaded.
  const std::string f = "filename=\"" + whole + "\" ";
  const struct {
    const char* why;
    std::string saved, loaded;
  } rows[] = {
      {"processing is pending again", R"(Job created="1" id="6" state="5" username="root")",
       R"(Job created="1" id="6" state="3" username="root")"},
      {"saved before its document", R"(Job created="1" id="3" state="4" username="root")",
       "Job created=\"1\" " + f + R"(id="3" state="3" username="root")"},
      {"held on request stays held", R"(Job id="3" state="4" state_reasons="4194304")",
       "Job " + f + R"(id="3" state="4" state_reasons="4194304")"},
      {"document cut short", R"(Job id="4" state="3")", R"(Job id="4" state="3")"},
      {"no document", R"(Job id="7" state="4")", R"(Job id="7" state="4")"},
      {"completed", R"(Job id="3" state="9")", R"(Job id="3" state="9")"},
      {"a name that looks like a state", R"(Job id="8" name="x state=\"5\"" state="3")",
       R"(Job id="8" name="x state=\"5\"" state="3")"},
  };
  std::string saved = "<Printer id=\"1\" name=\"a\">\n", loaded = saved;
  for (const auto& row : rows) {
    saved += row.saved + "\n";
    loaded += row.loaded + "\n";
  }
  // The document found is the job's own printer's.
  saved += "</Printer>\n<Printer id=\"2\">\nJob id=\"3\" state=\"4\"\n</Printer>\n";
  loaded += "</Printer>\n<Printer id=\"2\">\nJob filename=\"" + second +
            "\" id=\"3\" state=\"3\"\n</Printer>\n";
  std::istringstream got(RepairSavedState(saved, documents)), want(loaded);
  size_t row = 0;
  for (std::string a, b; std::getline(want, b);) {
    std::getline(got, a);
    EXPECT_EQ(b, a) << (row >= 1 && row <= 7 ? rows[row - 1].why : "printer lines");
    ++row;
  }
}

}  // namespace
