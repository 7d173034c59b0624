// The journal beside an output PDF: print jobs kept for a later delivery,
// and the commit in progress, so that a run that dies mid-way leaves enough
// behind for the next one to finish its work without printing a job twice.
// Only a run that holds the output's lock reads or writes it.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

/// A print job whose pages have not reached the output yet.
struct KeptJob {
  int attempts = 0;       ///< deliveries tried and failed
  long long lastTry = 0;  ///< time of the last try (seconds since 1970)
  std::string job;        ///< the spool file
  /// Its converted PDF (may be gone); only trusted when no run owns the job.
  std::string converted;
  std::string digest;  ///< of the spool file's content
  std::string cause;   ///< why the last delivery failed
  /// The process id of the run that is converting it now, 0 for none. A job
  /// whose owner died is converted anew.
  int owner = 0;
};

/// Pages on their way into a target file: written before the target is
/// replaced, cleared once the files it names are cleaned up.
struct PendingCommit {
  std::string target;              ///< the file that receives the pages
  int pagesBefore = 0;             ///< its pages before (0: it did not exist)
  int pagesAfter = 0;              ///< its pages once the commit has landed
  std::string job;                 ///< the spool file being committed, if any
  std::string digest;              ///< its content's digest
  std::vector<std::string> files;  ///< to delete once the pages have landed
};

/// A converted PDF whose run died while its Ghostscript may still be
/// writing it: removed by every run that holds the lock until `since` is
/// longer ago than Ghostscript may take.
struct Leftover {
  long long since = 0;  ///< when its run was found dead (seconds since 1970)
  std::string path;
};

struct JobJournal {
  std::vector<KeptJob> kept;  ///< oldest first
  bool hasCommit = false;
  PendingCommit commit;
  std::vector<Leftover> leftovers;
};

/// The journal of an output PDF: "<output>.journal".
std::string JournalPath(const std::string& outputPdf);

/// What reading a journal came to.
enum class JournalRead {
  kRead,       ///< read (a missing journal is an empty one)
  kUntrusted,  ///< not this program's own: another account's, a link, open to others
  kDamaged,    ///< unreadable or not a journal
};

/// Reads the journal beside the output. Only a journal that the output's
/// owner (or this process's user) wrote and nobody else may change is read;
/// otherwise the journal is empty and *why says what is wrong with it.
JournalRead ReadJobJournal(const std::string& outputPdf, JobJournal* journal, std::string* why);

/// Replaces the journal atomically, or removes it when there is nothing in
/// it. Returns false, with the reason in *error, when it cannot be written.
/// `name` says when its new name must be on the disk.
bool WriteJobJournal(const std::string& outputPdf, const JobJournal& journal, std::string* error,
                     platform::NameOnDisk name = platform::NameOnDisk::kNow);

/// The journal's text form, and back (tests and the fuzzer use them).
std::string FormatJobJournal(const JobJournal& journal);
bool ParseJobJournal(const std::string& text, JobJournal* journal);
