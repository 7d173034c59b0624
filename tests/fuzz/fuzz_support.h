// What every fuzz target shares: a scratch folder for the files the target
// writes, which is also the program's own folder (settings, log), and a check
// that stops the run with a message naming the broken promise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>
#include <vector>

#include "pdf/pdf_library.h"
#include "platform/platform.h"

#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) fuzz::CheckFailed(#condition, __FILE__, __LINE__); \
  } while (0)

namespace fuzz {

[[noreturn]] inline void CheckFailed(const char* what, const char* file, int line) {
  // The run scripts tell known failures from new ones by this line.
  std::fprintf(stderr, "FUZZ CHECK FAILED: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  std::abort();
}

/// The process's scratch folder, made on first use under $TMPDIR (or /tmp)
/// and removed at a normal exit. The program folder is moved into it, so the
/// config.ini and log that the code under test touches stay there too.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvelin-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      std::perror("mkdtemp");
      std::abort();
    }
    platform::SetModuleFileNameForTesting(pattern + "/tarvelin");
    static std::string removeAtExit;
    removeAtExit = pattern;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return pattern;
  }();
  return dir;
}

/// Path of a name inside the scratch folder.
inline std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

/// The input written as `name` into the scratch folder, whose every other
/// file but the program's settings is removed first, so one input never
/// sees what an earlier one left.
inline std::string Input(const std::string& name, const uint8_t* data, size_t size) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec)) {
    std::string file = entry.path().filename().string();
    if (file != "config.ini" && file != "config.ini.lock") std::filesystem::remove_all(entry, ec);
  }
  std::string path = ScratchPath(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  FUZZ_CHECK(out.good());
  return path;
}

/// A file's bytes ("" when it cannot be read).
inline std::string Content(const std::string& path) {
  std::string content;
  platform::ReadWholeFile(path, &content);
  return content;
}

/// A new document that will be written to `output`.
inline PDF* NewPdf(const std::string& output) {
  PDF* pdf = pdfNewPDF();
  FUZZ_CHECK(pdf != nullptr);
  FUZZ_CHECK(pdfCreateNewPDFA(pdf, output.c_str()));
  return pdf;
}

/// Closes and deletes the document; whether it was written.
inline bool Close(PDF* pdf) {
  int written = pdfCloseFile(pdf);
  pdfDeletePDF(pdf);
  return written != 0;
}

/// The pages of a written document, read back by qpdf into `check`; a
/// document that does not read back stops the run.
inline std::vector<QPDFPageObjectHelper> ReadBack(QPDF& check, const std::string& path) {
  check.setSuppressWarnings(true);
  try {
    check.processFile(path.c_str());
    return QPDFPageDocumentHelper(check).getAllPages();
  } catch (const std::exception&) {
    CheckFailed("the written document reads back", __FILE__, __LINE__);
  }
}

}  // namespace fuzz
