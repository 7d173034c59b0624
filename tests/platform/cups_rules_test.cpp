// The rules that map printers, ports and device modes onto CUPS queues,
// without a scheduler.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/posix/cups_spooler.h"
#include "platform/winspool.h"

namespace {

namespace rules = platform::cups_rules;

// What CUPS refuses in a queue name becomes "_"; a name that cannot be a
// queue (none, too long, not UTF-8) is refused.
TEST(CupsRulesTest, QueueNamesReplaceWhatCupsRefuses) {
  const struct {
    std::string name, queue;  // queue "": refused
  } cases[] = {
      {"Quorvel PDF", "Quorvel_PDF"},
      {"a/b\\c#d?e'f\"g@h", "a_b_c_d_e_f_g_h"},
      {"tab\there\x7f", "tab_here_"},
      {"Quorvel PDF Drucker \xC3\x9C", "Quorvel_PDF_Drucker_\xC3\x9C"},
      {"Plain-Name_1.2", "Plain-Name_1.2"},
      {std::string(127, 'q'), std::string(127, 'q')},
      {"", ""},
      {std::string(128, 'q'), ""},
      {"Drucker \xDC", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string queue = "untouched";
    EXPECT_EQ(!c.queue.empty(), rules::QueueName(c.name, &queue));
    EXPECT_EQ(c.queue.empty() ? "untouched" : c.queue, queue);
  }
}

TEST(CupsRulesTest, EachMonitorHasItsBackend) {
  EXPECT_STREQ("mfilemon", rules::BackendOfMonitor("Multi File Port Monitor"));
  EXPECT_STREQ("mfilemon", rules::BackendOfMonitor("multi file port monitor"));
  EXPECT_STREQ("quorvel", rules::BackendOfMonitor("Quorvel"));
  EXPECT_EQ(nullptr, rules::BackendOfMonitor("Local Port"));
}

// A device of another scheme, or with a host, is its own port.
TEST(CupsRulesTest, PortsAndDeviceUrisMapBothWays) {
  const struct {
    const char* scheme;  // nullptr: the device is not one of ours
    const char* port;
    const char* uri;
  } cases[] = {
      {"mfilemon", "QuorvelPort", "mfilemon:/QuorvelPort"},
      {"quorvel", "Quorvel Port 2", "quorvel:/Quorvel%20Port%202"},
      {"mfilemon", "a/b%\xC3\x9C", "mfilemon:/a%2Fb%25%C3%9C"},
      {nullptr, "socket://10.0.0.5:9100", "socket://10.0.0.5:9100"},
      {nullptr, "file:/dev/null", "file:/dev/null"},
      {nullptr, "mfilemon://host/x", "mfilemon://host/x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(c.uri, c.scheme ? rules::DeviceUriOfPort(c.scheme, c.port) : c.uri);
    EXPECT_EQ(c.port, rules::PortOfDeviceUri(c.uri));
  }
}

TEST(CupsRulesTest, PaperCodesMapToPwgMediaAndPpdSizes) {
  const struct {
    int16_t code;
    const char* media;
    const char* ppd;
  } cases[] = {
      {DMPAPER_LETTER, "na_letter_8.5x11in", "Letter"},
      {DMPAPER_LEGAL, "na_legal_8.5x14in", "Legal"},
      {DMPAPER_EXECUTIVE, "na_executive_7.25x10.5in", "Executive"},
      {DMPAPER_A3, "iso_a3_297x420mm", "A3"},
      {DMPAPER_A4, "iso_a4_210x297mm", "A4"},
      {DMPAPER_A5, "iso_a5_148x210mm", "A5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.media);
    EXPECT_EQ(c.code, rules::PaperOfMedia(c.media));
    EXPECT_STREQ(c.media, rules::MediaOfPaper(c.code));
    EXPECT_STREQ(c.ppd, rules::PpdPageSizeOfPaper(c.code));
  }
  EXPECT_EQ(0, rules::PaperOfMedia("jis_b5_182x257mm"));
  EXPECT_EQ(nullptr, rules::MediaOfPaper(13));
  EXPECT_EQ(nullptr, rules::PpdPageSizeOfPaper(0));
}

TEST(CupsRulesTest, OrientationsMapToPortraitOrLandscape) {
  const int16_t portrait = DMORIENT_PORTRAIT, landscape = DMORIENT_LANDSCAPE;
  const std::pair<int, int16_t> cases[] = {
      {3, portrait}, {4, landscape}, {5, landscape}, {6, portrait}, {0, portrait}};
  for (const auto& c : cases)
    EXPECT_EQ(c.second, rules::OrientationOfRequested(c.first)) << c.first;
}

const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\r\n"
    "*OpenUI *PageSize/Media Size: PickOne\r\n"
    "*DefaultPageSize: Letter\r\n"
    "*PageSize Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\r\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\r\n"
    "*CloseUI: *PageSize\r\n"
    "*DefaultPageRegion: Letter\r\n"
    "*DefaultImageableArea: Letter\r\n"
    "*DefaultPaperDimension: Letter\r\n"
    "*DefaultInputSlot: Default\r\n";

// The default paper is set on every default line, and only to a paper the
// PPD offers.
TEST(CupsRulesTest, ThePpdsDefaultPaperIsSetOnEveryDefaultLine) {
  std::string ppd = kPpd;
  EXPECT_FALSE(rules::SetPpdDefaultPageSize(&ppd, "A3"));
  EXPECT_FALSE(rules::SetPpdDefaultPageSize(&ppd, "A"));
  EXPECT_EQ(kPpd, ppd);
  ASSERT_TRUE(rules::SetPpdDefaultPageSize(&ppd, "A4"));
  std::string expected = kPpd;
  for (const char* key : {"PageSize", "PageRegion", "ImageableArea", "PaperDimension"}) {
    std::string from = std::string("*Default") + key + ": Letter\r\n";
    expected.replace(expected.find(from), from.size(), std::string("*Default") + key + ": A4\r\n");
  }
  EXPECT_EQ(expected, ppd);
}

}  // namespace
