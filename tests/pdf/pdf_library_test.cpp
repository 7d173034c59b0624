#include "pdf/pdf_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <qpdf/QPDF.hh>
#include <tuple>

#include "pdf/image/codec_library.h"
#include "pdf/pdf_file_info.h"
#include "support/links.h"
#include "support/make_image.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

int RecordError(const void* data, int, const char*, int type) {
  *static_cast<int*>(const_cast<void*>(data)) |= type;
  return 0;
}

size_t EntryCount(const std::string& folder) {
  using std::filesystem::directory_iterator;
  return std::distance(directory_iterator(folder), directory_iterator());
}

class PdfLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { Restart(); }
  void TearDown() override { pdfDeletePDF(pdf_); }

  /// A fresh instance with a new output out_.
  void Restart() {
    pdfDeletePDF(pdf_);
    pdf_ = pdfNewPDF();
    ASSERT_NE(nullptr, pdf_);
    pdfSetOnErrorProc(pdf_, &reported_, RecordError);
    pdfSetStaticIdForTesting(pdf_, true);
    ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  }
  /// Imports all pages of a file at the end; returns pdfImportPDFFile's result.
  int Import(const std::string& path) {
    if (pdfOpenImportFileA(pdf_, path.c_str(), 0, nullptr) != 0) return -100;
    return pdfImportPDFFile(pdf_, pdfGetPageCount(pdf_) + 1, 1.0, 1.0);
  }
  std::string MakePdf(const std::string& name, const std::vector<std::string>& texts,
                      const TestPdfOptions& options = TestPdfOptions()) {
    MakeTextPdf(dir_.Join(name), texts, options);
    return dir_.Join(name);
  }
  bool Reported(int type) const { return (reported_ & type) != 0; }

  ScopedTempDir dir_;
  std::string out_ = dir_.Join("out.pdf");
  PDF* pdf_ = nullptr;
  int reported_ = 0;  // the types of all reports, or-ed
};

// The header is the version code's, never below an imported file's.
TEST_F(PdfLibraryTest, VersionIsTheCodeButNeverBelowAnImportedFile) {
  for (const auto& c :
       {std::make_tuple("1.3", 5, "%PDF-1.5"), {"1.6", 2, "%PDF-1.6"}, {"1.6", 0, "%PDF-1.6"}}) {
    SCOPED_TRACE(std::get<1>(c));
    Restart();
    TestPdfOptions options;
    options.version = std::get<0>(c);
    EXPECT_EQ(2, Import(MakePdf("in.pdf", {"a"}, options)));
    EXPECT_TRUE(std::get<1>(c) == 0 || pdfSetPDFVersion(pdf_, std::get<1>(c)));
    ASSERT_TRUE(pdfCloseFile(pdf_));
    EXPECT_EQ(std::get<2>(c), ReadFileText(out_).substr(0, 8));
  }
}

// A page keeps its rotation, crop box and links (one to the copy of the page
// after it, not to nothing); its form field joins the output's form.
TEST_F(PdfLibraryTest, ImportKeepsRotationCropBoxLinksAndFormFields) {
  TestPdfOptions options;
  options.edit = [](QPDF& doc) {
    QPDFObjectHandle first = doc.getAllPages()[0];
    first.replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
    first.replaceKey("/CropBox", QPDFObjectHandle::parse("[10 20 190 280]"));
    QPDFObjectHandle annots = QPDFObjectHandle::parse(
        "[<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Dest [null /Fit] >>"
        " << /Type /Annot /Subtype /Link /Rect [0 50 50 99] /A << /S /URI /URI (https://x.test/) "
        ">> >>]");
    annots.getArrayItem(0).getKey("/Dest").setArrayItem(0, doc.getAllPages()[1]);
    first.replaceKey("/Annots", annots);
    QPDFObjectHandle field = doc.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [10 10 100 30] >>"));
    QPDFObjectHandle second = doc.getAllPages()[1];
    second.replaceKey("/Annots", QPDFObjectHandle::newArray({field}));
    doc.getRoot().replaceKey("/AcroForm", QPDFObjectHandle::parse("<< /Fields [] >>"));
    doc.getRoot().getKey("/AcroForm").getKey("/Fields").appendItem(field);
  };
  Import(MakePdf("a.pdf", {"before"}));
  Import(MakePdf("b.pdf", {"B1", "B2"}, options));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  QPDF written;
  written.processFile(out_.c_str());
  QPDFObjectHandle page = written.getAllPages()[1];
  EXPECT_EQ(90, page.getKey("/Rotate").getIntValue());
  EXPECT_EQ("[ 10 20 190 280 ]", page.getKey("/CropBox").unparse());
  QPDFObjectHandle annots = page.getKey("/Annots");
  ASSERT_EQ(2, annots.getArrayNItems());
  EXPECT_EQ(written.getAllPages()[2].getObjGen(),
            annots.getArrayItem(0).getKey("/Dest").getArrayItem(0).getObjGen());
  EXPECT_EQ("https://x.test/", annots.getArrayItem(1).getKey("/A").getKey("/URI").getUTF8Value());
  QPDFObjectHandle fields = written.getRoot().getKey("/AcroForm").getKey("/Fields");
  ASSERT_EQ(1, fields.getArrayNItems());
  QPDFObjectHandle third = written.getAllPages()[2];
  EXPECT_EQ(third.getKey("/Annots").getArrayItem(0).getObjGen(),
            fields.getArrayItem(0).getObjGen());
}

TEST_F(PdfLibraryTest, BadInputAndOutputAreReported) {
  EXPECT_EQ(0, pdfCreateNewPDFA(pdf_, dir_.Join("missing/out.pdf").c_str()));
  EXPECT_TRUE(Reported(kPdfFileError));
  reported_ = 0;
  WriteFileText(dir_.Join("bad.pdf"), "%PDF-1.4\nthis is no PDF at all\n");
  EXPECT_LT(pdfOpenImportFileA(pdf_, dir_.Join("bad.pdf").c_str(), 0, nullptr), 0);
  EXPECT_TRUE(Reported(kPdfSyntaxError));
  EXPECT_LT(pdfImportPDFFile(pdf_, 1, 1.0, 1.0), 0);
  EXPECT_EQ(0, pdfCloseFile(pdf_));  // no page: the output is not written
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_LT(pdfOpenImportFileA(pdf_, dir_.Join("missing.pdf").c_str(), 0, nullptr), 0);
  EXPECT_TRUE(Reported(kPdfFileError));

  reported_ = 0;
  std::string text = ReadFileText(MakePdf("in.pdf", {"kept"}));
  WriteFileText(dir_.Join("broken.pdf"), text.substr(0, text.rfind("startxref")));
  EXPECT_EQ(2, Import(dir_.Join("broken.pdf")));  // recoverable: a warning
  EXPECT_TRUE(Reported(kPdfWarning));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ(std::vector<std::string>{"kept"}, PageTexts(out_));
}

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

// Deleting the instance unclosed, or a close that fails because the output's
// folder was moved away (which stops root too), leaves the old output as it was.
TEST_F(PdfLibraryTest, OldOutputStaysWithoutASuccessfulClose) {
  std::string folder = dir_.Join("sub"), output = folder + "/out.pdf";
  std::filesystem::create_directory(folder);
  MakeTextPdf(output, {"old"});
  std::string before = ReadFileText(output);
  std::string input = MakePdf("in.pdf", {"new"});
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, output.c_str()));
  EXPECT_EQ(2, Import(input));
  Restart();
  EXPECT_EQ(before, ReadFileText(output));
  EXPECT_EQ(1u, EntryCount(folder));

  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, output.c_str()));
  EXPECT_EQ(2, Import(input));
  std::filesystem::rename(folder, dir_.Join("moved"));
  EXPECT_EQ(0, pdfCloseFile(pdf_));
  EXPECT_TRUE(Reported(kPdfFileError));
  EXPECT_EQ(before, ReadFileText(dir_.Join("moved/out.pdf")));
  EXPECT_EQ(1u, EntryCount(dir_.Join("moved")));
}

// Anyone who can write in the output's folder can plant links at the
// predictable temporary names: the output is written through none of them
// and keeps its permissions.
TEST_F(PdfLibraryTest, PlantedLinksBesideTheOutputAreNeverFollowed) {
  MakeTextPdf(out_, {"old"});
  ASSERT_EQ(0, chmod(out_.c_str(), 0600));
  WriteFileText(dir_.Join("victim"), "precious");
  std::vector<std::string> links(3, dir_.Join("victim"));
  PlantSiblingLinks(out_, links);
  Restart();  // pdfCreateNewPDFA tries a file beside the output too
  EXPECT_EQ(2, Import(MakePdf("in.pdf", {"new"})));
  PlantSiblingLinks(out_, links);
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ("precious", ReadFileText(dir_.Join("victim")));
  EXPECT_EQ(std::vector<std::string>{"new"}, PageTexts(out_));
  EXPECT_EQ(S_IFREG | 0600u, LinkStat(out_).st_mode);
}

// A little-endian TIFF of the given size and samples in one strip of one
// byte (libtiff reads the header but not the data).
std::string TiffWithHeader(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples) {
  // Tag, type (3 short, 4 long) and value of each entry.
  const uint32_t entries[] = {256, 4, width,   257, 4, height,     258, 3, bits,
                              259, 3, 1,       262, 3, 1,          273, 4, 8 + 2 + 9 * 12 + 4,
                              277, 3, samples, 278, 4, 0xFFFFFFFF, 279, 4, 1};
  std::string tiff = std::string("II*\0\x08\0\0\0", 8) + LeBytes(9, 2);
  for (size_t i = 0; i < 27; i += 3)
    tiff += LeBytes(entries[i], 2) + LeBytes(entries[i + 1], 2) + Le32s(1, entries[i + 2]);
  return tiff + LeBytes(0, 4) + std::string(1, '\0');
}

// Sizes no print job's image has are refused before anything is multiplied
// or decoded (this runs under the sanitizers too); images cut in half give
// no image and no page.
TEST_F(PdfLibraryTest, HostileOrCutImagesAreRefused) {
  ScopedProgramFolder program;
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 300, 200, 255));
  ASSERT_TRUE(WriteFlatJpeg(dir_.Join("a.jpg"), 300, 200, JCS_GRAYSCALE, {0x99}));
  const std::string png = ReadFileText(dir_.Join("a.png")), jpg = ReadFileText(dir_.Join("a.jpg"));
  const struct {
    const char* name;
    std::string data;
    bool headerRead = false;  // only the pixels are missing
  } cases[] = {
      {"PGM width past 32 bits", std::string("P5\n9999999999 1\n255\n\0", 21)},
      {"PPM width past an int", "P6\n3000000000 1\n255\n"},
      {"PGM largest value past an int", "P5\n1 1\n99999999999\n"},
      {"plain PGM of 2^32-1 squared", "P2\n4294967295 4294967295\n255\n0\n"},
      {"PBM side past 2^20", "P4\n2000000 1\n" + std::string(250000, '\0')},
      {"TIFF of about 2^64 pixels", TiffWithHeader(0xFFFFFFFF, 0xFFFFFFFE, 1, 1)},
      {"TIFF of 65535 samples of 65535 bits", TiffWithHeader(1, 1, 65535, 65535)},
      {"PNG cut in half", png.substr(0, png.size() / 2), true},
      {"JPEG cut in half", jpg.substr(0, jpg.size() / 2), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir_.Join("hostile");
    WriteFileText(path, c.data);
    int width = 0, height = 0, bits = 0, hint = 0;
    int read = pdfReadImageFormat2A(pdf_, path.c_str(), 1, &width, &height, &bits, &hint);
    EXPECT_TRUE(c.headerRead || read == 0);
    pdfAppend(pdf_);  // an 800 x 600 page for the image, which never comes
    pdfSetPageCoords(pdf_, 1);
    pdfSetBBox(pdf_, 4, 0, 0, 800, 600);
    EXPECT_EQ(0, pdfInsertImageExA(pdf_, 0, 0, 800, 600, path.c_str(), 1));
    pdfEndPage(pdf_);
  }
  EXPECT_EQ(0, pdfGetPageCount(pdf_));
}

#ifndef TARVELIN_LINKED_CODECS
// A decoder library loaded on first use that is missing, or lacks an entry
// point, fails the image with the loader's reason.
struct NoCalls {
  void* entry = nullptr;
};
void FindNoEntry(void* library, NoCalls* calls, std::string* why) {
  calls->entry = images::FindCodecEntry(library, "tarvelin_no_entry", why);
}
TEST(CodecLibraryTest, MissingLibraryOrEntryPointIsTheReason) {
  std::string error;
  images::CodecLibrary<NoCalls> absent("libtarvelin-absent.so.1", FindNoEntry);
  EXPECT_EQ(nullptr, absent.Get(&error));
  EXPECT_EQ(0u, error.find("the decoder library cannot be loaded: libtarvelin-absent.so.1"))
      << error;
  images::CodecLibrary<NoCalls> lacking(TARVELIN_LIBPNG, FindNoEntry);
  EXPECT_EQ(nullptr, lacking.Get(&error));
  EXPECT_EQ(std::string("the decoder library ") + TARVELIN_LIBPNG + " has no tarvelin_no_entry",
            error);
}
#endif

}  // namespace
