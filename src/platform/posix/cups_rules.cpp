// The rules by which the CUPS spooler maps the Windows view of printers,
// ports and device modes onto CUPS queues, apart from the calls to the
// scheduler so that they can be tested alone.
#include "platform/posix/cups_rules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/names.h"
#include "platform/platform.h"
#include "platform/posix/cups_client.h"
#include "platform/winspool.h"

namespace platform {

namespace cups_rules {

namespace {

struct MonitorBackend {
  const char* monitor;
  const char* scheme;
};

// The backends in tools/ that stand for the two monitors the printer uses.
const MonitorBackend kMonitorBackends[] = {
    {"Multi File Port Monitor", "mfilemon"},
    {"Quorvel", "quorvel"},
};

}  // namespace

const PaperMedia kPaperMedia[] = {
    {1, "na_letter_8.5x11in"},           // Letter
    {2, "na_letter_8.5x11in"},           // Letter Small
    {3, "na_ledger_11x17in"},            // Tabloid
    {4, "na_ledger_11x17in"},            // Ledger (the same sheet, fed long edge first)
    {5, "na_legal_8.5x14in"},            // Legal
    {6, "na_invoice_5.5x8.5in"},         // Statement
    {7, "na_executive_7.25x10.5in"},     // Executive
    {8, "iso_a3_297x420mm"},             // A3
    {9, "iso_a4_210x297mm"},             // A4
    {10, "iso_a4_210x297mm"},            // A4 Small
    {11, "iso_a5_148x210mm"},            // A5
    {12, "jis_b4_257x364mm"},            // B4 (JIS)
    {13, "jis_b5_182x257mm"},            // B5 (JIS)
    {14, "na_foolscap_8.5x13in"},        // Folio
    {15, "na_quarto_8.5x10.83in"},       // Quarto
    {16, "na_10x14_10x14in"},            // 10x14
    {17, "na_ledger_11x17in"},           // 11x17
    {18, "na_letter_8.5x11in"},          // Note
    {19, "na_number-9_3.875x8.875in"},   // Envelope #9
    {20, "na_number-10_4.125x9.5in"},    // Envelope #10
    {21, "na_number-11_4.5x10.375in"},   // Envelope #11
    {22, "na_number-12_4.75x11in"},      // Envelope #12
    {23, "na_number-14_5x11.5in"},       // Envelope #14
    {24, "na_c_17x22in"},                // C sheet
    {25, "na_d_22x34in"},                // D sheet
    {26, "na_e_34x44in"},                // E sheet
    {27, "iso_dl_110x220mm"},            // Envelope DL
    {28, "iso_c5_162x229mm"},            // Envelope C5
    {29, "iso_c3_324x458mm"},            // Envelope C3
    {30, "iso_c4_229x324mm"},            // Envelope C4
    {31, "iso_c6_114x162mm"},            // Envelope C6
    {32, "iso_c6c5_114x229mm"},          // Envelope C65
    {33, "iso_b4_250x353mm"},            // Envelope B4
    {34, "iso_b5_176x250mm"},            // Envelope B5
    {35, "iso_b6_125x176mm"},            // Envelope B6
    {36, "om_italian_110x230mm"},        // Envelope Italy
    {37, "na_monarch_3.875x7.5in"},      // Envelope Monarch
    {38, "na_personal_3.625x6.5in"},     // Envelope Personal (6 3/4)
    {39, "na_fanfold-us_11x14.875in"},   // US Std Fanfold
    {40, "na_fanfold-eur_8.5x12in"},     // German Std Fanfold
    {41, "na_foolscap_8.5x13in"},        // German Legal Fanfold
    {42, "iso_b4_250x353mm"},            // ISO B4
    {43, "jpn_hagaki_100x148mm"},        // Japanese Postcard
    {44, "na_9x11_9x11in"},              // 9x11
    {45, "na_10x11_10x11in"},            // 10x11
    {46, "na_11x15_11x15in"},            // 15x11
    {47, "om_invite_220x220mm"},         // Envelope Invite
    {50, "na_letter-extra_9.5x12in"},    // Letter Extra
    {51, "na_legal-extra_9.5x15in"},     // Legal Extra
    {53, "iso_a4-extra_235.5x322.3mm"},  // A4 Extra
    {57, "na_super-a_8.94x14in"},        // SuperA/A4
    {58, "na_b-plus_12x19.17in"},        // SuperB/A3
    {59, "na_letter-plus_8.5x12.69in"},  // Letter Plus
    {60, "om_folio_210x330mm"},          // A4 Plus
    {63, "iso_a3-extra_322x445mm"},      // A3 Extra
    {64, "iso_a5-extra_174x235mm"},      // A5 Extra
    {65, "iso_b5-extra_201x276mm"},      // B5 (ISO) Extra
    {66, "iso_a2_420x594mm"},            // A2
    {69, "jpn_oufuku_148x200mm"},        // Double Japanese Postcard
    {70, "iso_a6_105x148mm"},            // A6
    {71, "jpn_kaku2_240x332mm"},         // Japanese Envelope Kaku #2
    {72, "jpn_kaku3_216x277mm"},         // Japanese Envelope Kaku #3
    {73, "jpn_chou3_120x235mm"},         // Japanese Envelope Chou #3
    {74, "jpn_chou4_90x205mm"},          // Japanese Envelope Chou #4
    {88, "jis_b6_128x182mm"},            // B6 (JIS)
    {90, "na_11x12_11x12in"},            // 12x11
    {91, "jpn_you4_105x235mm"},          // Japanese Envelope You #4
    {93, "prc_16k_146x215mm"},           // PRC 16K
    {94, "prc_32k_97x151mm"},            // PRC 32K
    {95, "prc_32k_97x151mm"},            // PRC 32K (Big)
    {96, "prc_1_102x165mm"},             // PRC Envelope #1
    {97, "prc_2_102x176mm"},             // PRC Envelope #2
    {98, "iso_b6_125x176mm"},            // PRC Envelope #3 (the B6 sheet)
    {99, "prc_4_110x208mm"},             // PRC Envelope #4
    {100, "iso_dl_110x220mm"},           // PRC Envelope #5 (the DL sheet)
    {101, "prc_6_120x320mm"},            // PRC Envelope #6 (as PWG names it)
    {102, "prc_7_160x230mm"},            // PRC Envelope #7
    {103, "prc_8_120x309mm"},            // PRC Envelope #8
    {104, "iso_c4_229x324mm"},           // PRC Envelope #9 (the C4 sheet)
    {105, "iso_c3_324x458mm"},           // PRC Envelope #10 (the C3 sheet)
};
const size_t kPaperMediaCount = sizeof(kPaperMedia) / sizeof(kPaperMedia[0]);

namespace {

bool IsRefusedInQueueName(unsigned char c) {
  return c <= ' ' || c == 0x7F || std::strchr("/\\#?'\"@", c) != nullptr;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int high = -1, low = -1;
    if (text[i] == '%' && i + 2 < text.size() && (high = HexValue(text[i + 1])) >= 0 &&
        (low = HexValue(text[i + 2])) >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The keyword of a "*Key: value" or "*Key option/text: ..." line's option,
// i.e. what follows "*Key " up to '/' or ':'.
bool LineOffersOption(const std::string& line, const std::string& key, const std::string& keyword) {
  const std::string head = "*" + key + " ";
  if (line.compare(0, head.size(), head) != 0) return false;
  size_t end = line.find_first_of("/:", head.size());
  return end != std::string::npos && line.compare(head.size(), end - head.size(), keyword) == 0 &&
         end - head.size() == keyword.size();
}

}  // namespace

bool QueueName(const std::string& printerName, std::string* queue) {
  if (printerName.empty() || printerName.size() > 127) return false;
  if (AnsiToUtf8(printerName) != printerName) return false;
  std::string mapped = printerName;
  for (char& c : mapped) {
    if (IsRefusedInQueueName(static_cast<unsigned char>(c))) c = '_';
  }
  *queue = mapped;
  return true;
}

const char* BackendOfMonitor(const std::string& monitor) {
  for (const MonitorBackend& backend : kMonitorBackends) {
    if (SameNameIgnoringCase(monitor, backend.monitor)) return backend.scheme;
  }
  return nullptr;
}

std::string DeviceUriOfPort(const std::string& scheme, const std::string& port) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = scheme + ":/";
  for (unsigned char c : port) {
    if (IsUnreserved(c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

std::string PortOfDeviceUri(const std::string& deviceUri) {
  size_t colon = deviceUri.find(':');
  if (colon == std::string::npos) return deviceUri;
  const std::string scheme = deviceUri.substr(0, colon);
  bool ours = false;
  for (const MonitorBackend& backend : kMonitorBackends) ours = ours || scheme == backend.scheme;
  const std::string rest = deviceUri.substr(colon + 1);
  if (!ours || rest.size() < 2 || rest[0] != '/' || rest[1] == '/') return deviceUri;
  return PercentDecoded(rest.substr(1));
}

int16_t PaperOfMedia(const std::string& media) {
  for (const PaperMedia& paper : kPaperMedia) {
    if (media == paper.media) return paper.code;
  }
  return 0;
}

std::vector<int16_t> PapersOfMedia(const std::string& media) {
  std::vector<int16_t> codes;
  for (const PaperMedia& paper : kPaperMedia) {
    if (media == paper.media) codes.push_back(paper.code);
  }
  return codes;
}

const char* MediaOfPaper(int16_t code) {
  for (const PaperMedia& paper : kPaperMedia) {
    if (paper.code == code) return paper.media;
  }
  return nullptr;
}

std::string PpdPageSizeOfMedia(const std::string& ppd, const std::string& media) {
  static const char kHead[] = "*PageSize ";
  std::string why;
  if (!cups_client::Load(&why)) return std::string();
  size_t pos = 0;
  while ((pos = ppd.find(kHead, pos)) != std::string::npos) {
    const bool lineStart = pos == 0 || ppd[pos - 1] == '\n' || ppd[pos - 1] == '\r';
    pos += sizeof(kHead) - 1;
    const size_t end = ppd.find_first_of("/:\r\n", pos);
    if (!lineStart || end == std::string::npos) continue;
    const std::string keyword = ppd.substr(pos, end - pos);
    pwg_media_t* sheet = cups_client::cups.pwgMediaForPPD(keyword.c_str());
    if (sheet && sheet->pwg && media == sheet->pwg) return keyword;
  }
  return std::string();
}

int16_t OrientationOfRequested(int requested) {
  return requested == 4 || requested == 5 ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
}

bool SetPpdDefaultPageSize(std::string* ppd, const std::string& keyword) {
  static const char* const kDefaults[] = {"*DefaultPageSize:", "*DefaultPageRegion:",
                                          "*DefaultImageableArea:", "*DefaultPaperDimension:"};
  std::string out;
  bool offered = false;
  size_t pos = 0;
  while (pos < ppd->size()) {
    size_t end = ppd->find('\n', pos);
    end = end == std::string::npos ? ppd->size() : end + 1;
    std::string line = ppd->substr(pos, end - pos);
    pos = end;
    offered = offered || LineOffersOption(line, "PageSize", keyword);
    for (const char* key : kDefaults) {
      if (line.compare(0, std::strlen(key), key) != 0) continue;
      size_t body = line.find_last_not_of("\r\n");
      std::string ending = body == std::string::npos ? line : line.substr(body + 1);
      line = std::string(key) + " " + keyword + ending;
    }
    out += line;
  }
  if (!offered) return false;
  *ppd = out;
  return true;
}

}  // namespace cups_rules

}  // namespace platform
