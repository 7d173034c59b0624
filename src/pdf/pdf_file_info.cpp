#include "pdf/pdf_file_info.h"

#include <exception>
#include <fstream>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <vector>

#include "pdf/pdf_tail.h"

int GetPDFFilePageCount(const char* path, std::string* error) {
  if (!path || !*path) {
    if (error) *error = "no file name";
    return -1;
  }
  // The /Count of the pages tree's root, read from the file's end, costs
  // the same for any size. It is taken only when every node on the last
  // branch, where appended pages go, holds what its /Count says; a tree that
  // miscounts there would hide the last pages from readers that trust the
  // /Count. Otherwise the file is parsed and its pages found by qpdf's walk
  // of the tree, the pages a whole write of it keeps.
  PdfTail tail;
  std::string ignored;
  std::vector<int> branch;
  int count = tail.Open(path, &ignored) && tail.LastBranch(&branch, &ignored)
                  ? tail.PageCount(&ignored)
                  : -1;
  if (count >= 0) return count;
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path);
    return static_cast<int>(pdf.getAllPages().size());
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return -1;
  }
}

std::string GetFileDigest(const char* path) {
  std::ifstream in(path ? path : "", std::ios::binary);
  if (!in) return std::string();
  auto sha = QPDFCryptoProvider::getImpl();
  sha->SHA2_init(256);
  std::vector<char> buffer(65536);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize n = in.gcount();
    if (n > 0)
      sha->SHA2_update(reinterpret_cast<unsigned char*>(buffer.data()), static_cast<size_t>(n));
  }
  if (in.bad()) return std::string();
  sha->SHA2_finalize();
  std::string raw = sha->SHA2_digest();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : raw) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return hex;
}
