// Damaged and hostile metafiles: each gets a clear log line, nothing
// crashes or runs away, and the merge goes on with the other inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>
#include <vector>

#include "config/settings.h"
#include "pdf/pdf_merger.h"
#include "support/install_copy.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

struct MetafileDamageTest : testing::Test {
  void SetUp() override {
    program.EnableLog();
    MakeTextPdf(program.Join("after.pdf"), {"after"});
  }
  /// Merges the metafile (written from bytes) and a PDF behind it; the text
  /// of the metafile's page ("" unless the output holds the two pages).
  std::string MergeWithPdf(const std::string& name, const std::string& bytes) {
    WriteFileText(program.Join(name), bytes);
    std::vector<std::string> inputs{program.Join(name), program.Join("after.pdf")};
    DocumentInfo options;
    EXPECT_TRUE(PDFMerger(inputs, output.c_str(), options)) << Log();
    std::vector<std::string> texts = PdfPageTexts(output);
    EXPECT_EQ(2u, texts.size());
    return texts.size() == 2 ? texts[0] : "";
  }
  /// The content of page `index` of the output.
  std::string Content(size_t index) {
    QPDF pdf;
    pdf.processFile(output.c_str());
    return PageContent(QPDFPageDocumentHelper(pdf).getAllPages().at(index));
  }
  std::string Log() { return ReadFileText(program.Log()); }

  ScopedProgramFolder program;
  std::string output = program.Join("out.pdf");
};

TEST_F(MetafileDamageTest, AFileThatGivesNoPageSaysOnceWhy) {
  std::string lying = EmfBuilder(kA4).Bytes();
  lying.replace(4, 4, LeBytes(lying.size() + 4, 4));
  const struct {
    const char *name, *why;
    std::string bytes;
  } cases[] = {{"letter.emf", "the file is not a Windows metafile", "Dear reader, no metafile.\n"},
               {"lying.emf", "the header record claims 132 bytes, the file holds 128", lying}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileText(program.Join(c.name), c.bytes);
    std::vector<std::string> inputs{program.Join(c.name)};
    DocumentInfo options;
    EXPECT_FALSE(PDFMerger(inputs, output.c_str(), options));
    const std::string log = Log();
    const size_t error = log.find("[ERROR]");
    EXPECT_TRUE(error == log.rfind("[ERROR]") && log.find(c.why, error) != std::string::npos)
        << log;
    EXPECT_FALSE(Has(log, "Append PDF page..."));
    std::remove(program.Log().c_str());
  }
}

TEST_F(MetafileDamageTest, CountsAndOffsetsOutsideTheirRecordAreNotFollowed) {
  EmfBuilder emf(kA4);
  // A polyline claiming a million points in a record holding two.
  emf.Raw(U_EMR_POLYLINE16, std::string(16, '\0') + Le32s(1000000, 0, 0x00640064));
  // Text whose string offset points outside the record.
  std::string text = std::string(16, '\0') + LeBytes(1, 4) + FloatBytes(1) + FloatBytes(1) +
                     Le32s(0, 0, 5, 0x10000, 0) + std::string(16, '\0') + LeBytes(0, 4);
  emf.Raw(U_EMR_EXTTEXTOUTW, text);
  // A bitmap announcing 4 x 100000000 pixels of 24 bits (one row is there).
  std::string bih =
      Le32s(40, 4, 100000000) + LeBytes(1, 2) + LeBytes(24, 2) + std::string(24, '\0');
  size_t fixed = 8 + 72;  // the STRETCHDIBITS fields up to the bitmap
  std::string dib = std::string(16, '\0') +
                    Le32s(0, 0, 0, 0, 10, 10, fixed, 40, fixed + 40, 16, 0, 0x00CC0020, 100, 100) +
                    bih + std::string(16, '\0');
  emf.Raw(U_EMR_STRETCHDIBITS, dib);
  emf.Font(1, -100, "Arial").Text(100, 300, "survived");
  EXPECT_TRUE(Has(MergeWithPdf("counts.emf", emf.Bytes()), "survived"));
  EXPECT_TRUE(Has(Log(), "out of range"));
  // A Windows polygon claiming 30000 points in a record of two.
  WmfBuilder wmf(1440, 1440, 1440);
  wmf.Add(U_WMRPOLYGON_set(2, std::vector<U_POINT16>{{0, 0}, {100, 100}}.data()));
  std::string bytes = wmf.Bytes();
  bytes.replace(bytes.size() - 16, 2, LeBytes(30000, 2));
  MergeWithPdf("bad.wmf", bytes);
}

TEST_F(MetafileDamageTest, UnbalancedAndDeepSavesKeepTheContentBalanced) {
  EmfBuilder emf(kA4);
  emf.Add(U_EMRRESTOREDC_set(-3));  // nothing saved yet
  for (int i = 0; i < 3000; ++i) {
    emf.Add(U_EMRSAVEDC_set());
    emf.Add(U_EMRINTERSECTCLIPRECT_set(U_RECTL{i % 50, 0, 2100, 2970}));
  }
  emf.Brush(1, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 100, 100}));
  emf.Add(U_EMRRESTOREDC_set(1)).Add(U_EMRRESTOREDC_set(-5000)).Add(U_EMRRESTOREDC_set(7));
  emf.Font(2, -100, "Arial").Text(100, 300, "balanced");
  // The header says millions of records; only the bytes count.
  std::string bytes = emf.Bytes();
  bytes.replace(52, 4, LeBytes(50000000, 4));
  EXPECT_TRUE(Has(MergeWithPdf("saves.emf", bytes), "balanced"));
  std::string content = Content(0);
  EXPECT_EQ(std::count(content.begin(), content.end(), 'q'),  // no other operator has q or Q
            std::count(content.begin(), content.end(), 'Q'));
  EXPECT_TRUE(Has(Log(), "SaveDC beyond 1024 levels"));
  EXPECT_TRUE(Has(Log(), "clip narrowed more than 64 times"));
}

TEST_F(MetafileDamageTest, HundredsOfThousandsOfRecordsFinishInBoundedTimeAndSize) {
  EmfBuilder emf(kA4);
  emf.Pen(1, U_PS_SOLID, 0, 0, 0, 0);
  for (int i = 0; i < 600000; ++i) emf.Add(U_EMRLINETO_set(point_set(i % 2100, i % 2970)));
  auto start = std::chrono::steady_clock::now();
  MergeWithPdf("many.emf", emf.Bytes());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  // 600000 strokes are more than one page may hold: the drawing stops at
  // the limit and says so.
  EXPECT_TRUE(Has(Log(), "larger than the limit for one page"));
}

// A last record that ends exactly at the end of its file (or of its EMF+
// comment) is drawn; one that runs 1 to 4 bytes past it is refused with a
// log line, what was drawn before it stays, and the merge goes on.
TEST_F(MetafileDamageTest, LastRecordEndingAtOrJustPastTheEnd) {
  EmfBuilder emf(kA4);
  emf.Font(1, -100, "Arial").Text(100, 50, "kept");
  const std::string emfBytes = emf.Text(100, 100, "emf edge").Bytes();
  WmfBuilder wmf(1440, 1440, 1440);
  char kept[] = "kept", text[] = "wmf edge";
  wmf.Add(U_WMRTEXTOUT_set(point16_set(100, 50), kept));
  const std::string wmfBytes = wmf.Add(U_WMRTEXTOUT_set(point16_set(100, 100), text)).Bytes();
  // EMF+: a font, then DrawString as the comment's last record.
  std::string plus = PlusHeader() + PlusRecord(0x4008, 0x0601,
                                               kPlusVersion + FloatBytes(5) + Le32s(6, 0, 0, 5) +
                                                   std::string("A\0r\0i\0a\0l\0\0\0", 12));
  const std::string draw = PlusRecord(
      0x401C, 0x8001,
      Le32s(0xFF000000, 0, 4) + Floats({20, 200, 100, 20}) + std::string("p\0l\0u\0s\0", 8));
  const struct {
    const char* name;
    std::string bytes;  // with the EOF record, cut off with the end of the record before
    size_t eof;         // its size; 0: the last EMF+ record claims bytes instead
    const char *text, *refusal;
  } kinds[] = {
      {"edge.emf", emfBytes, 20, "emf edge", "\": record U_EMR_EXTTEXTOUTW at byte "},
      {"edge.wmf", wmfBytes, 6, "wmf edge", "\": record "},
      {"plus.emf", "", 0, "plus", "\": not drawn: EMF+ record with a size outside its comment"},
  };
  for (const auto& kind : kinds) {
    for (size_t past = 0; past <= 4; ++past) {
      const std::string name = std::to_string(past) + kind.name;
      SCOPED_TRACE(name);
      std::string bytes = kind.eof ? kind.bytes.substr(0, kind.bytes.size() - kind.eof - past)
                                   : EmfBuilder(kA4)
                                         .Plus(plus + draw.substr(0, 4) +
                                               LeBytes(draw.size() + past, 4) + draw.substr(8))
                                         .Bytes();
      const std::string text = MergeWithPdf(name, bytes);
      EXPECT_EQ(past == 0, text.find(kind.text) != std::string::npos) << text;
      EXPECT_TRUE(!kind.eof || Has(text, "kept"));
      const size_t line = Log().find("Metafile \"" + program.Join(name) + kind.refusal);
      EXPECT_EQ(past != 0, line != std::string::npos) << Log();
    }
  }
}

TEST_F(MetafileDamageTest, BadPicturesAndHugeObjectsAreRefusedAndTheRestIsDrawn) {
  const std::string& version = kPlusVersion;
  std::string plus = PlusHeader();
  // Image 1: "compressed" data that is a broken JPEG; image 2: pixels of a
  // size past the limit; object 3 announced as 2 GiB over several records.
  std::string bitmap = version + Le32s(1, 8, 8, 0, 0x00021808);
  plus += PlusRecord(0x4008, 0x0501, bitmap + LeBytes(1, 4) + "\xFF\xD8\xFF\xE0garbage");
  plus += PlusRecord(0x4008, 0x0502, version + Le32s(1, 100000, 100000, 300000, 0x00021808, 0));
  plus += PlusRecord(0x4008, 0x8503, LeBytes(0x80000000u, 4) + std::string(16, '\0'));
  std::string draw = Le32s(0, 2) + Floats({0, 0, 8, 8, 0, 0, 100, 100});
  plus += PlusRecord(0x401A, 1, draw) + PlusRecord(0x401A, 2, draw);
  EmfBuilder emf(kA4);
  emf.Plus(plus);
  // GetDC: the plain text after it is drawn.
  emf.Plus(PlusRecord(0x4004, 0, ""));
  emf.Font(1, -100, "Arial").Text(100, 100, "still here");
  EXPECT_TRUE(Has(MergeWithPdf("badpictures.emf", emf.Bytes()), "still here"));
  std::string log = Log();
  EXPECT_TRUE(Has(
      log, "[ERROR] Metafile \"" + program.Join("badpictures.emf") + "\": EMF+ picture not drawn"));
  EXPECT_TRUE(Has(log, "out of range"));
  EXPECT_TRUE(Has(log, "EMF+ continued object larger than 64 MiB"));
  EXPECT_FALSE(Has(Content(0), "/Im"));
}

}  // namespace
