#include "app/printer_app/saved_state.h"

#include <cups/cups.h>
#include <pappl/pappl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/platform.h"

namespace {

// The extensions PAPPL gives the documents it spools (raster jobs stream
// straight to the printer and are never spooled).
const char* const kDocumentExtensions[] = {".pdf", ".ps", ".jpg", ".jpeg", ".png"};

// A state line's options ("a=\"1\" b=\"2\""), parsed, and written back
// as PAPPL writes them.
class LineOptions {
 public:
  explicit LineOptions(const std::string& text)
      : count_(cupsParseOptions(text.c_str(), 0, &options_)) {}
  ~LineOptions() { cupsFreeOptions(count_, options_); }
  LineOptions(const LineOptions&) = delete;
  LineOptions& operator=(const LineOptions&) = delete;

  std::string Get(const char* name) const {
    const char* value = cupsGetOption(name, count_, options_);
    return value ? value : "";
  }
  int Number(const char* name) const { return atoi(Get(name).c_str()); }
  void Set(const char* name, const std::string& value) {
    count_ = cupsAddOption(name, value.c_str(), count_, &options_);
  }
  std::string Text() const {
    std::string text;
    for (int i = 0; i < count_; ++i) {
      text += std::string(" ") + options_[i].name + "=\"";
      for (const char* c = options_[i].value; *c; ++c) {
        if (*c == '"' || *c == '\\') text += '\\';
        text += *c;
      }
      text += '"';
    }
    return text;
  }

 private:
  cups_option_t* options_ = nullptr;
  int count_ = 0;
};

// A job line ("Job created=... id=... state=...") mended, or as it was.
std::string RepairedJob(const std::string& line, int printerId,
                        const std::map<std::pair<int, int>, std::string>& documents) {
  LineOptions job(line.substr(4));
  int state = job.Number("state");
  if (state == IPP_JSTATE_PROCESSING) {
    job.Set("state", std::to_string(IPP_JSTATE_PENDING));
    return "Job" + job.Text();
  }
  bool waiting = state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD;
  if (!waiting || !job.Get("filename").empty()) return line;
  auto document = documents.find({printerId, job.Number("id")});
  if (document == documents.end() || !LooksWhole(document->second)) return line;
  job.Set("filename", document->second);
  // A job held on the client's request stays held; one that was only
  // waiting for its document is ready now.
  if (!(strtol(job.Get("state_reasons").c_str(), nullptr, 10) &
        PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED)) {
    job.Set("state", std::to_string(IPP_JSTATE_PENDING));
  }
  return "Job" + job.Text();
}

}  // namespace

std::map<std::pair<int, int>, std::string> SpoolDocuments(const std::string& spoolFolder) {
  std::map<std::pair<int, int>, std::string> documents;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(spoolFolder, error)) {
    std::string name = entry.path().filename().string();
    int printerId = 0, jobId = 0, end = 0;
    if (sscanf(name.c_str(), "p%5dj%9d-%n", &printerId, &jobId, &end) != 2 || end == 0) continue;
    std::string ext = entry.path().extension().string();
    for (const char* known : kDocumentExtensions) {
      if (ext == known && platform::IsPlainRegularFile(entry.path().string())) {
        documents[{printerId, jobId}] = entry.path().string();
      }
    }
  }
  return documents;
}

bool LooksWhole(const std::string& document) {
  std::string text;
  if (!platform::ReadWholeFile(document, &text)) return false;
  std::string ext = std::filesystem::path(document).extension().string();
  std::string tail = text.substr(text.size() > 1024 ? text.size() - 1024 : 0);
  if (ext == ".pdf" || ext == ".ps") return tail.find("%%EOF") != std::string::npos;
  if (ext == ".jpg" || ext == ".jpeg") {
    return text.size() > 2 && text.compare(text.size() - 2, 2, "\xFF\xD9") == 0;
  }
  return ext == ".png" && text.size() > 12 && text.compare(text.size() - 8, 4, "IEND") == 0;
}

std::string RepairSavedState(const std::string& text,
                             const std::map<std::pair<int, int>, std::string>& documents) {
  std::string repaired;
  std::istringstream lines(text);
  int printerId = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 9, "<Printer ") == 0) {
      printerId = LineOptions(line.substr(9, line.size() - 10)).Number("id");
    } else if (line.compare(0, 4, "Job ") == 0) {
      line = RepairedJob(line, printerId, documents);
    }
    repaired += line + "\n";
  }
  return repaired;
}
