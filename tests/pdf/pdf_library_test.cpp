#include "pdf/pdf_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "support/make_image.h"
#include "support/make_pdf.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"

namespace {

struct Report {
  int type;
  std::string message;
};

int RecordError(const void* data, int, const char* message, int type) {
  auto* reports = const_cast<std::vector<Report>*>(static_cast<const std::vector<Report>*>(data));
  reports->push_back({type, message});
  return 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

class PdfLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pdf_ = pdfNewPDF();
    ASSERT_NE(nullptr, pdf_);
    pdfSetOnErrorProc(pdf_, &reports_, RecordError);
    pdfSetStaticIdForTesting(pdf_, true);
    out_ = dir_.Join("out.pdf");
  }
  void TearDown() override { pdfDeletePDF(pdf_); }

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
  bool Reported(int type) const {
    for (const Report& r : reports_) {
      if (r.type & type) return true;
    }
    return false;
  }
  /// One image page showing the file's first image on a width x height page.
  int AddImagePage(const std::string& image, double width, double height) {
    pdfAppend(pdf_);
    pdfSetPageCoords(pdf_, 1);
    pdfSetBBox(pdf_, 4, 0, 0, width, height);
    int placed = pdfInsertImageExA(pdf_, 0, 0, width, height, image.c_str(), 1);
    pdfEndPage(pdf_);
    return placed;
  }
  QPDFObjectHandle FirstImage(QPDF& doc) {
    QPDFObjectHandle page = doc.getAllPages()[0];
    return page.getKey("/Resources").getKey("/XObject").getKey("/Im0");
  }

  ScopedTempDir dir_;
  PDF* pdf_ = nullptr;
  std::vector<Report> reports_;
  std::string out_;
};

TEST_F(PdfLibraryTest, VersionCodeSetsTheHeaderVersion) {
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  TestPdfOptions old;
  old.version = "1.3";
  Import(MakePdf("in.pdf", {"a"}, old));
  ASSERT_TRUE(pdfSetPDFVersion(pdf_, 5));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ("%PDF-1.5", ReadFileText(out_).substr(0, 8));
}

TEST_F(PdfLibraryTest, VersionIsNeverBelowAnImportedFile) {
  TestPdfOptions newer;
  newer.version = "1.6";
  std::string input = MakePdf("in.pdf", {"a"}, newer);
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  Import(input);
  pdfSetPDFVersion(pdf_, 2);
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ("%PDF-1.6", ReadFileText(out_).substr(0, 8));

  PDF* unset = pdfNewPDF();  // no version code at all
  ASSERT_TRUE(pdfCreateNewPDFA(unset, out_.c_str()));
  ASSERT_EQ(0, pdfOpenImportFileA(unset, input.c_str(), 0, nullptr));
  EXPECT_EQ(2, pdfImportPDFFile(unset, 1, 1.0, 1.0));
  ASSERT_TRUE(pdfCloseFile(unset));
  pdfDeletePDF(unset);
  EXPECT_EQ("%PDF-1.6", ReadFileText(out_).substr(0, 8));
  EXPECT_EQ(0, pdfSetPDFVersion(pdf_, 0));
  EXPECT_EQ(0, pdfSetPDFVersion(pdf_, 8));
}

TEST_F(PdfLibraryTest, DocInfoGoesIntoTheTrailerAsUnicode) {
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  Import(MakePdf("in.pdf", {"a"}));
  const char* texts[] = {"M\xFCller", "Creator", "Keys", "Our Producer", "Subject", "Title \x80"};
  for (int kind = 0; kind < 6; ++kind) ASSERT_TRUE(pdfSetDocInfoA(pdf_, kind, texts[kind]));
  EXPECT_EQ(0, pdfSetDocInfoA(pdf_, 6, "x"));
  ASSERT_TRUE(pdfCloseFile(pdf_));

  QPDF doc;
  doc.processFile(out_.c_str());
  QPDFObjectHandle info = doc.getTrailer().getKey("/Info");
  EXPECT_EQ("M\xC3\xBCller", info.getKey("/Author").getUTF8Value());
  EXPECT_EQ("Our Producer", info.getKey("/Producer").getUTF8Value());
  EXPECT_EQ("Title \xE2\x82\xAC", info.getKey("/Title").getUTF8Value());
  EXPECT_EQ("Keys", info.getKey("/Keywords").getUTF8Value());
}

TEST_F(PdfLibraryTest, ImportsAllPagesInOrder) {
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  EXPECT_EQ(4, Import(MakePdf("a.pdf", {"A1", "A2", "A3"})));
  EXPECT_EQ(6, Import(MakePdf("b.pdf", {"B1", "B2"})));
  EXPECT_EQ(5, pdfGetPageCount(pdf_));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ((std::vector<std::string>{"A1", "A2", "A3", "B1", "B2"}), PageTexts(out_));
}

TEST_F(PdfLibraryTest, ImportKeepsRotationCropBoxAndLinks) {
  TestPdfOptions options;
  options.edit = [](QPDF& doc) {
    QPDFObjectHandle first = doc.getAllPages()[0];
    first.replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
    first.replaceKey("/CropBox", QPDFObjectHandle::parse("[10 20 190 280]"));
    QPDFObjectHandle link = QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Dest [null /Fit] >>");
    link.getKey("/Dest").setArrayItem(0, doc.getAllPages()[1]);
    QPDFObjectHandle uri = QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Link /Rect [0 50 50 99] /A << /S /URI /URI (https://x.test/) >> "
        ">>");
    first.replaceKey("/Annots", QPDFObjectHandle::newArray({link, uri}));
  };
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  Import(MakePdf("a.pdf", {"before"}));
  Import(MakePdf("b.pdf", {"B1", "B2"}, options));
  ASSERT_TRUE(pdfCloseFile(pdf_));

  QPDF doc;
  doc.processFile(out_.c_str());
  QPDFObjectHandle page = doc.getAllPages()[1];
  EXPECT_EQ(90, page.getKey("/Rotate").getIntValue());
  EXPECT_EQ("[ 10 20 190 280 ]", page.getKey("/CropBox").unparse());
  QPDFObjectHandle annots = page.getKey("/Annots");
  ASSERT_EQ(2, annots.getArrayNItems());
  // The link leads to the copy of the page after it, not to nothing.
  EXPECT_EQ(doc.getAllPages()[2].getObjGen(),
            annots.getArrayItem(0).getKey("/Dest").getArrayItem(0).getObjGen());
  EXPECT_EQ("https://x.test/", annots.getArrayItem(1).getKey("/A").getKey("/URI").getUTF8Value());
}

TEST_F(PdfLibraryTest, EncryptedInputImportsAndOutputIsNotEncrypted) {
  TestPdfOptions options;
  options.encrypt = true;
  std::string input = MakePdf("locked.pdf", {"secret"}, options);
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  EXPECT_EQ(2, Import(input));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  QPDF doc;
  doc.processFile(out_.c_str());
  EXPECT_FALSE(doc.isEncrypted());
  EXPECT_EQ(std::vector<std::string>{"secret"}, PageTexts(out_));
}

TEST_F(PdfLibraryTest, DamagedInputIsReportedAndWritesNothing) {
  WriteFileText(dir_.Join("bad.pdf"), "%PDF-1.4\nthis is no PDF at all\n");
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  EXPECT_LT(pdfOpenImportFileA(pdf_, dir_.Join("bad.pdf").c_str(), 0, nullptr), 0);
  EXPECT_TRUE(Reported(kPdfSyntaxError));
  EXPECT_LT(pdfImportPDFFile(pdf_, 1, 1.0, 1.0), 0);
  EXPECT_EQ(0, pdfCloseFile(pdf_));  // no page: the output is not written
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_LT(pdfOpenImportFileA(pdf_, dir_.Join("missing.pdf").c_str(), 0, nullptr), 0);
  EXPECT_TRUE(Reported(kPdfFileError));
}

TEST_F(PdfLibraryTest, RecoverableDamageIsReportedAsWarning) {
  std::string text = ReadFileText(MakePdf("in.pdf", {"kept"}));
  WriteFileText(dir_.Join("broken.pdf"), text.substr(0, text.rfind("startxref")));
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  EXPECT_EQ(2, Import(dir_.Join("broken.pdf")));
  EXPECT_TRUE(Reported(kPdfWarning));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  EXPECT_EQ(std::vector<std::string>{"kept"}, PageTexts(out_));
}

TEST_F(PdfLibraryTest, FailedCloseLeavesTheOldOutput) {
  std::string folder = dir_.Join("sub");
  std::filesystem::create_directory(folder);
  std::string output = folder + "/out.pdf";
  MakeTextPdf(output, {"old"});
  std::string before = ReadFileText(output);
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, output.c_str()));
  Import(MakePdf("in.pdf", {"new"}));
  std::filesystem::rename(folder, dir_.Join("moved"));
  EXPECT_EQ(0, pdfCloseFile(pdf_));
  EXPECT_TRUE(Reported(kPdfFileError));
  EXPECT_EQ(before, ReadFileText(dir_.Join("moved/out.pdf")));
  EXPECT_EQ(std::vector<std::string>{"out.pdf"}, FolderEntries(dir_.Join("moved")));
}

TEST_F(PdfLibraryTest, FailedCloseInReadOnlyFolderLeavesTheOldOutput) {
  std::string folder = dir_.Join("ro");
  std::filesystem::create_directory(folder);
  std::string output = folder + "/out.pdf";
  MakeTextPdf(output, {"old"});
  std::string before = ReadFileText(output);
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, output.c_str()));
  Import(MakePdf("in.pdf", {"new"}));
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (std::FILE* probe = std::fopen((folder + "/probe").c_str(), "wb")) {
    std::fclose(probe);
    GTEST_SKIP() << "folder permissions do not bind this user";
  }
  EXPECT_EQ(0, pdfCloseFile(pdf_));
  EXPECT_EQ(before, ReadFileText(output));
  EXPECT_EQ(std::vector<std::string>{"out.pdf"}, FolderEntries(folder));
}

TEST_F(PdfLibraryTest, DeleteWithoutCloseWritesNothing) {
  MakeTextPdf(out_, {"old"});
  std::string before = ReadFileText(out_);
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  Import(MakePdf("in.pdf", {"new"}));
  pdfDeletePDF(pdf_);
  pdf_ = nullptr;
  EXPECT_EQ(before, ReadFileText(out_));
  EXPECT_EQ(2u, FolderEntries(dir_.path()).size());  // out.pdf and in.pdf
}

TEST_F(PdfLibraryTest, CreateFailsWhereNoFileCanBeMade) {
  EXPECT_EQ(0, pdfCreateNewPDFA(pdf_, dir_.Join("missing/out.pdf").c_str()));
  EXPECT_EQ(0, pdfCreateNewPDFA(pdf_, dir_.path().c_str()));
  EXPECT_TRUE(Reported(kPdfFileError));
}

TEST_F(PdfLibraryTest, ImagePageShowsTheImageFillingThePage) {
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 800, 600, 255));
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  ASSERT_TRUE(AddImagePage(dir_.Join("a.png"), 800, 600));
  ASSERT_TRUE(pdfCloseFile(pdf_));

  QPDF doc;
  doc.processFile(out_.c_str());
  QPDFPageObjectHelper page(doc.getAllPages()[0]);
  EXPECT_EQ("[ 0 0 800 600 ]", page.getObjectHandle().getKey("/MediaBox").unparse());
  EXPECT_EQ("q 800 0 0 600 0 0 cm /Im0 Do Q\n", PageContent(page));
  QPDFObjectHandle image = FirstImage(doc).getDict();
  EXPECT_EQ("/Image", image.getKey("/Subtype").getName());
  EXPECT_EQ("/DeviceRGB", image.getKey("/ColorSpace").getName());
  EXPECT_EQ("/FlateDecode", image.getKey("/Filter").getName());
  EXPECT_FALSE(image.hasKey("/SMask"));
}

TEST_F(PdfLibraryTest, TopDownPlacementMeasuresFromThePageTop) {
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 8, 6, 255));
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  pdfAppend(pdf_);
  pdfSetPageCoords(pdf_, 1);
  pdfSetBBox(pdf_, 4, 0, 0, 800, 600);
  ASSERT_TRUE(pdfInsertImageExA(pdf_, 10, 20, 100, 50, dir_.Join("a.png").c_str(), 1));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  QPDF doc;
  doc.processFile(out_.c_str());
  EXPECT_EQ("q 100 0 0 50 10 530 cm /Im0 Do Q\n", PageContent(doc.getAllPages()[0]));
}

TEST_F(PdfLibraryTest, AlphaBecomesASoftMask) {
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 30, 20, 128));
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  pdfSetPDFVersion(pdf_, 3);
  ASSERT_TRUE(AddImagePage(dir_.Join("a.png"), 30, 20));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  QPDF doc;
  doc.processFile(out_.c_str());
  QPDFObjectHandle mask = FirstImage(doc).getDict().getKey("/SMask");
  ASSERT_TRUE(mask.isStream());
  EXPECT_EQ("/DeviceGray", mask.getDict().getKey("/ColorSpace").getName());
  auto alpha = mask.getStreamData();
  EXPECT_EQ(std::string(600, '\x80'),
            std::string(reinterpret_cast<const char*>(alpha->getBuffer()), alpha->getSize()));
  EXPECT_EQ("%PDF-1.4", ReadFileText(out_).substr(0, 8));  // soft masks need 1.4
}

TEST_F(PdfLibraryTest, JpegDataIsPassedThrough) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("a.jpg"), 40, 30));
  ASSERT_TRUE(pdfCreateNewPDFA(pdf_, out_.c_str()));
  ASSERT_TRUE(AddImagePage(dir_.Join("a.jpg"), 40, 30));
  ASSERT_TRUE(pdfCloseFile(pdf_));
  QPDF doc;
  doc.processFile(out_.c_str());
  QPDFObjectHandle image = FirstImage(doc);
  EXPECT_EQ("/DCTDecode", image.getDict().getKey("/Filter").getName());
  EXPECT_EQ("/DeviceGray", image.getDict().getKey("/ColorSpace").getName());
  auto raw = image.getRawStreamData();
  EXPECT_EQ(ReadFileText(dir_.Join("a.jpg")),
            std::string(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize()));
}

TEST_F(PdfLibraryTest, UnreadableImageGivesNoImageAndNoPage) {
  WriteFileText(dir_.Join("garbage.png"), "not an image at all");
  EXPECT_EQ(0, pdfGetImageCountA(pdf_, dir_.Join("garbage.png").c_str()));
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 300, 200, 255));
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("a.jpg"), 300, 200));
  for (const char* name : {"a.png", "a.jpg"}) {
    std::string whole = ReadFileText(dir_.Join(name));
    WriteFileText(dir_.Join("cut"), whole.substr(0, whole.size() / 2));
    EXPECT_EQ(0, AddImagePage(dir_.Join("cut"), 300, 200)) << name;
    EXPECT_EQ(0, pdfGetPageCount(pdf_)) << name;
  }
}

TEST(OnPDFErrorTest, WritesTheLineOfTheFirstTypeFlag) {
  ScopedProgramFolder folder;
  folder.EnableLog();
  EXPECT_EQ(0, OnPDFError(nullptr, 5, "xref rebuilt", kPdfWarning | kPdfFatalError));
  OnPDFError(nullptr, 0, "bad token", kPdfSyntaxError);
  OnPDFError(nullptr, 0, "no such file", kPdfFileError | kPdfFatalError);
  OnPDFError(nullptr, 0, "plain", 0);
  std::string log = ReadFileText(folder.Log());
  EXPECT_NE(std::string::npos, log.find("Warning: xref rebuilt\n"));
  EXPECT_NE(std::string::npos, log.find("Syntax error!: bad token\n"));
  EXPECT_NE(std::string::npos, log.find("File error: no such file\n"));
  EXPECT_NE(std::string::npos, log.find(" plain\n"));
  EXPECT_EQ(std::string::npos, log.find("Fatal error"));
}

}  // namespace
