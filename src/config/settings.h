// The settings a run reads from "config.ini": typed records read once at the
// start of a run and handed down, and single reads for the rare other uses.
// Every value read is written back, so the file lists every key the program
// reads with the value it used.
#pragma once

#include <string>

#include "config/settings_file.h"

/// The document information that every output PDF written by the merger
/// carries; texts are cut to 1023 bytes.
struct DocumentInfo {
  std::string pdfVersion;  ///< "" leaves the library's own
  std::string producer, creator, subject, title, author, keywords;
};

/// What a print job's road reads, from the "Options" section.
struct JobSettings {
  DocumentInfo info;
  bool appendDuringPrinting = true;  ///< AppendPDFDuringPrinting: 0 only converts
  int appendMethod = 1;              ///< AppendPDFMethod: 1 merger, 2 page tool, 3 concatenation
  bool deleteTempFiles = true;       ///< DeleteTempFiles
  int lockWaitSeconds = 120;         ///< LockWaitLimit, 120 when not positive
  int ghostscriptTimeLimit = 600;    ///< GhostscriptTimeLimit in seconds
  std::string pdfPaperSize;          ///< PDFPaperSize for the PostScript conversion
  std::string syncTarget;            ///< SyncPDFFileToFlashDrive, macros expanded
  /// Not a setting: the printer application's documents, already a PDF or
  /// an image, go in as they are instead of through Ghostscript.
  bool documentsAsTheyAre = false;
};

/// Reads the document information from the settings file (recorded for it).
DocumentInfo ReadDocumentInfo(SettingsFile& file);
/// Reads a job's settings from the settings file (recorded for it).
JobSettings ReadJobSettings(SettingsFile& file);
/// A job's settings from this run's settings file, written back at once.
JobSettings CurrentJobSettings();

/// Reads a path setting of section "Options" that must fit a buffer of size
/// bytes. A longer value is never cut, used or written back: it is logged as
/// an error and false returned. Otherwise the value is recorded like every
/// read, and true returned.
bool ReadSettingWhole(SettingsFile& file, const char* key, int size, std::string* value);

/// Single reads on this run's settings file, each written back at once.
/// A whole number (default when missing or empty):
int ReadSettingInt(const char* section, const char* key, int defaultValue);
/// A text cut to size-1 bytes, copied into buffer; returns the bytes copied.
int ReadSettingString(const char* section, const char* key, const char* defaultValue, char* buffer,
                      int size);
/// A text of at most 4095 bytes.
std::string ReadSettingText(const char* section, const char* key, const char* defaultValue);
