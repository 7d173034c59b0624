#include "delivery/job_journal.h"

#include <cstdlib>

#include "platform/names.h"
#include "platform/platform.h"

namespace {

const char kHeader[] = "tarvelin-journal 1";

// Fields are separated by tabs and records by line ends, so those (and the
// escape character itself) are written as %XX.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
      static const char kHex[] = "0123456789ABCDEF";
      unsigned char u = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || platform::HexDigitValue(text[i + 1]) < 0 ||
        platform::HexDigitValue(text[i + 2]) < 0) {
      return false;
    }
    *out += static_cast<char>(platform::HexDigitValue(text[i + 1]) * 16 +
                              platform::HexDigitValue(text[i + 2]));
    i += 2;
  }
  return true;
}

bool SplitFields(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    std::string field;
    if (!Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start),
                  &field)) {
      return false;
    }
    fields->push_back(field);
    if (tab == std::string::npos) return true;
    start = tab + 1;
  }
}

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = atoll(text.c_str());
  return true;
}

bool ParseCount(const std::string& text, int* value) {
  long long n = 0;
  if (!ParseNumber(text, &n) || n > 0x7FFFFFFF) return false;
  *value = static_cast<int>(n);
  return true;
}

bool ParseRecord(const std::vector<std::string>& f, JobJournal* journal) {
  if (f[0] == "kept" && f.size() == 8) {
    KeptJob kept;
    if (!ParseCount(f[1], &kept.attempts) || !ParseNumber(f[2], &kept.lastTry) ||
        !ParseCount(f[7], &kept.owner)) {
      return false;
    }
    kept.job = f[3];
    kept.converted = f[4];
    kept.digest = f[5];
    kept.cause = f[6];
    journal->kept.push_back(kept);
    return true;
  }
  if (f[0] == "leftover" && f.size() == 3) {
    Leftover left;
    if (!ParseNumber(f[1], &left.since)) return false;
    left.path = f[2];
    journal->leftovers.push_back(left);
    return true;
  }
  if (f[0] == "commit" && f.size() >= 6 && !journal->hasCommit) {
    PendingCommit& c = journal->commit;
    c.target = f[1];
    if (!ParseCount(f[2], &c.pagesBefore) || !ParseCount(f[3], &c.pagesAfter)) return false;
    c.job = f[4];
    c.digest = f[5];
    c.files.assign(f.begin() + 6, f.end());
    journal->hasCommit = true;
    return true;
  }
  return false;
}

}  // namespace

std::string JournalPath(const std::string& outputPdf) { return outputPdf + ".journal"; }

std::string FormatJobJournal(const JobJournal& journal) {
  std::string text = std::string(kHeader) + "\n";
  for (const KeptJob& k : journal.kept) {
    text += "kept\t" + std::to_string(k.attempts) + "\t" + std::to_string(k.lastTry) + "\t" +
            Escape(k.job) + "\t" + Escape(k.converted) + "\t" + Escape(k.digest) + "\t" +
            Escape(k.cause) + "\t" + std::to_string(k.owner) + "\n";
  }
  if (journal.hasCommit) {
    const PendingCommit& c = journal.commit;
    text += "commit\t" + Escape(c.target) + "\t" + std::to_string(c.pagesBefore) + "\t" +
            std::to_string(c.pagesAfter) + "\t" + Escape(c.job) + "\t" + Escape(c.digest);
    for (const std::string& file : c.files) text += "\t" + Escape(file);
    text += "\n";
  }
  for (const Leftover& left : journal.leftovers) {
    text += "leftover\t" + std::to_string(left.since) + "\t" + Escape(left.path) + "\n";
  }
  return text;
}

bool ParseJobJournal(const std::string& text, JobJournal* journal) {
  *journal = JobJournal();
  size_t start = 0;
  bool first = true;
  std::vector<std::string> fields;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // a cut record: the file is damaged
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kHeader) return false;
      first = false;
      continue;
    }
    if (!SplitFields(line, &fields) || !ParseRecord(fields, journal)) {
      *journal = JobJournal();
      return false;
    }
  }
  return !first || text.empty();
}

JournalRead ReadJobJournal(const std::string& outputPdf, JobJournal* journal, std::string* why) {
  *journal = JobJournal();
  std::string text;
  switch (platform::ReadOwnRecord(JournalPath(outputPdf), outputPdf, &text, why)) {
    case platform::Trust::kMissing:
      return JournalRead::kRead;
    case platform::Trust::kUntrusted:
      return JournalRead::kUntrusted;
    case platform::Trust::kUnreadable:
      return JournalRead::kDamaged;
    case platform::Trust::kTrusted:
      break;
  }
  if (ParseJobJournal(text, journal)) return JournalRead::kRead;
  *why = "it is not a journal of this program";
  return JournalRead::kDamaged;
}

bool WriteJobJournal(const std::string& outputPdf, const JobJournal& journal, std::string* error,
                     platform::NameOnDisk name) {
  std::string path = JournalPath(outputPdf);
  if (journal.kept.empty() && !journal.hasCommit && journal.leftovers.empty()) {
    std::string why;
    if (!platform::PathExists(path) || platform::DeleteFile(path, &why)) return true;
    *error = "could not delete \"" + path + "\": " + why;
    return false;
  }
  std::string why;
  if (platform::WriteFileAtomically(path, FormatJobJournal(journal), &why, name)) return true;
  *error = "could not write \"" + path + "\": " + why;
  return false;
}
