#include "config/settings.h"

#include <cstring>

#include "config/log.h"
#include "config/path_macros.h"

namespace {

// Texts of the document information were read into 1024-byte buffers.
const int kInfoSize = 1024;

}  // namespace

DocumentInfo ReadDocumentInfo(SettingsFile& f) {
  DocumentInfo info;
  info.pdfVersion = f.Text("Options", "PDFVersion", "1.7", kInfoSize);
  info.producer = f.Text("Options", "Producer", "", kInfoSize);
  info.creator = f.Text("Options", "Creator", "", kInfoSize);
  info.subject = f.Text("Options", "Subject", "", kInfoSize);
  info.title = f.Text("Options", "Title", "", kInfoSize);
  info.author = f.Text("Options", "Author", "", kInfoSize);
  info.keywords = f.Text("Options", "Keywords", "", kInfoSize);
  return info;
}

JobSettings ReadJobSettings(SettingsFile& f) {
  JobSettings s;
  s.info = ReadDocumentInfo(f);
  s.appendDuringPrinting = f.Int("Options", "AppendPDFDuringPrinting", 1) != 0;
  s.lockWaitSeconds = f.Int("Options", "LockWaitLimit", 120);
  if (s.lockWaitSeconds <= 0) s.lockWaitSeconds = 120;
  s.pdfPaperSize = f.Text("Options", "PDFPaperSize", "");
  s.ghostscriptTimeLimit = f.Int("Options", "GhostscriptTimeLimit", 600);
  s.appendMethod = f.Int("Options", "AppendPDFMethod", 1);
  s.deleteTempFiles = f.Int("Options", "DeleteTempFiles", 1) != 0;
  std::string target = f.Text("Options", "SyncPDFFileToFlashDrive", "");
  s.syncTarget = ExpandPathMacros(target);
  return s;
}

JobSettings CurrentJobSettings() {
  SettingsFile& file = ProgramSettings();
  JobSettings settings = ReadJobSettings(file);
  file.Save();
  return settings;
}

bool ReadSettingWhole(SettingsFile& file, const char* key, int size, std::string* value) {
  value->clear();
  file.Find("Options", key, value);
  if (static_cast<int>(value->size()) >= size) {
    OutLog("[ERROR] The setting %s is %d bytes long, more than %d; it is not used.\n", key,
           static_cast<int>(value->size()), size - 1);
    value->clear();
    return false;
  }
  file.Set("Options", key, *value);
  return true;
}

int ReadSettingInt(const char* section, const char* key, int defaultValue) {
  SettingsFile& file = ProgramSettings();
  int value = file.Int(section, key, defaultValue);
  file.Save();
  return value;
}

int ReadSettingString(const char* section, const char* key, const char* defaultValue, char* buffer,
                      int size) {
  if (!buffer || size <= 0) return 0;
  SettingsFile& file = ProgramSettings();
  std::string value = file.Text(section, key, defaultValue, size);
  file.Save();
  memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<int>(value.size());
}

std::string ReadSettingText(const char* section, const char* key, const char* defaultValue) {
  SettingsFile& file = ProgramSettings();
  std::string value = file.Text(section, key, defaultValue, 4096);
  file.Save();
  return value;
}
