// The rules that map printers, ports and device modes onto CUPS queues,
// without a scheduler.
#include "platform/posix/cups_rules.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

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

TEST(CupsRulesTest, PaperCodesMapToPwgMedia) {
  const std::pair<int16_t, const char*> cases[] = {{1, "na_letter_8.5x11in"},
                                                   {2, "na_letter_8.5x11in"},
                                                   {3, "na_ledger_11x17in"},
                                                   {13, "jis_b5_182x257mm"},
                                                   {34, "iso_b5_176x250mm"},
                                                   {101, "prc_6_120x320mm"},
                                                   {52, nullptr},
                                                   {77, nullptr},
                                                   {256, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_STREQ(c.second, rules::MediaOfPaper(c.first));
  }
  // One row a code; every name is libcups's name of its sheet and leads back
  // to a code of that name, the first one when codes share it.
  for (size_t i = 0; i < rules::kPaperMediaCount; ++i) {
    const rules::PaperMedia& row = rules::kPaperMedia[i];
    SCOPED_TRACE(row.media);
    EXPECT_LT(i > 0 ? rules::kPaperMedia[i - 1].code : 0, row.code);
    pwg_media_t* named = pwgMediaForPWG(row.media);
    ASSERT_NE(nullptr, named);
    pwg_media_t* sized = pwgMediaForSize(named->width, named->length);
    EXPECT_STREQ(row.media, sized ? sized->pwg : "");
    const std::vector<int16_t> codes = rules::PapersOfMedia(row.media);
    EXPECT_EQ(codes.front(), rules::PaperOfMedia(row.media));
    EXPECT_NE(codes.end(), std::find(codes.begin(), codes.end(), row.code));
  }
  EXPECT_EQ(0, rules::PaperOfMedia("iso_a4-tab_225x297mm"));
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
  EXPECT_EQ("A4", rules::PpdPageSizeOfMedia(ppd, "iso_a4_210x297mm"));
  EXPECT_EQ("", rules::PpdPageSizeOfMedia(ppd, "na_ledger_11x17in"));
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
