#include "delivery/append_driver.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/path_macros.h"
#include "config/settings.h"
#include "config/temp_names.h"
#include "delivery/converters.h"
#include "delivery/job_journal.h"
#include "delivery/page_writers.h"
#include "pdf/incremental_update.h"
#include "pdf/output_end.h"
#include "pdf/pdf_file_info.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace {

// A kept job that failed this often moves to the failed folder.
const int kMaxAttempts = 3;
// The sync instance retries a kept job at most this often (append runs
// retry whenever they run: a new job is worth a new try).
const long long kSyncRetrySeconds = 60;

// The run's own print job.
struct Job {
  std::string input;      // the spool file
  std::string converted;  // its PDF
  std::string digest;     // of the spool file
  Status conversion = Status::Failure("not converted yet");
  std::string machineFault;  // why the machine, not the job, kept it from converting
};

// What a delivery attempt came to.
enum class Delivery {
  kArrived,      // the pages are in the output; the job leaves the journal
  kGone,         // dropped or moved to the failed folder; leaves the journal
  kKept,         // stays in the journal; the output cannot take pages now
  kBadContent,   // stays in the journal; the job itself could not be converted
  kMachine,      // stays in the journal, not counted: no room, read-only, I/O error
  kNotByConfig,  // the configured method adds nothing
};

// The jobs after one that the output could not take wait behind it, so that
// print order is kept; a job whose own content fails holds nobody up.
bool Blocks(Delivery result) {
  return result == Delivery::kKept || result == Delivery::kMachine ||
         result == Delivery::kNotByConfig;
}

// Room kept beside the journal, given up when the journal cannot be written
// otherwise, so that a job can still be entered on a full disk.
const int64_t kJournalReserveBytes = 256 * 1024;
// How much of the reserve one write of the journal may take.
const int64_t kReservePiece = 32 * 1024;

std::string ReservePath(const std::string& output) { return JournalPath(output) + ".reserve"; }

std::string FolderOf(const std::string& path) {
  std::string folder = platform::DirName(path);
  return folder.empty() ? std::string(".") : folder;
}

std::string WithoutFinalSeparator(std::string path) {
  while (path.size() > 1 && platform::IsPathSeparator(path.back())) path.pop_back();
  return path;
}

bool SamePath(const std::string& a, const std::string& b) {
  return !a.empty() && (a == b || platform::IsSameFile(a, b));
}

// "" when the folder can take `bytes` more now, else why not: a failure
// there is the machine's, and the job waits for it without losing a try.
std::string MachineTrouble(const std::string& folder, int64_t bytes) {
  std::string why;
  if (platform::HasRoomFor(folder, bytes, &why)) return std::string();
  return "\"" + folder + "\" cannot take it now: " + why;
}

// A whole write is checked by counting the pages of the file it wrote.
Status HoldsPages(const std::string& output, int expected) {
  std::string why;
  int pages = GetPDFFilePageCount(output.c_str(), &why);
  if (pages == expected) return Status();
  return Status::Failure(pages < 0 ? "it cannot be read as a PDF: " + why
                                   : "it holds " + std::to_string(pages) + " pages, not " +
                                         std::to_string(expected));
}

// True when the kept spool file is still the job that was kept: a plain
// file with the content it had. Anything else at its name is left alone.
bool IsKeptJobFile(const std::string& job, const std::string& digest) {
  return platform::IsPlainRegularFile(job) && !digest.empty() &&
         GetFileDigest(job.c_str()) == digest;
}

// The output's end, read without the lock while Ghostscript converts the
// run's own job, so that reading it is off the job's way. Under the lock it
// stands in for a new read only while the output is still the very file it
// read, unwritten since. Where an open file cannot be replaced, it is not
// read early: others may replace the output while the job converts.
class EarlyEnd {
 public:
  // Runs while Ghostscript does, in the middle of waiting for it: nothing
  // may escape from here, or the interpreter would be left unwaited for.
  void Read(const std::string& output) noexcept {
    if (platform::kOpenFileBlocksReplacing) return;
    try {
      platform::FileStamp before = platform::StampOf(output);
      if (!before.exists || !platform::IsPlainRegularFile(output) || !end_.Read(output)) return;
      if (platform::StampOf(output) == before) stamp_ = before;
    } catch (const std::exception&) {
      // read again under the lock, where a failure is reported
    }
  }
  // The end, once, when the output is still the file it read; else nullptr.
  OutputEnd* Take(const std::string& output) {
    bool fits = stamp_.exists && platform::IsPlainRegularFile(output) &&
                platform::StampOf(output) == stamp_;
    stamp_ = platform::FileStamp();
    return fits ? &end_ : nullptr;
  }

 private:
  OutputEnd end_;
  platform::FileStamp stamp_;
};

// The journal of one output and everything done with its lock held: every
// job is entered before its conversion and leaves only once its pages are in
// the output (or it has failed for good), so a run that dies at any moment
// leaves its job to the next run, and jobs arrive in the order they came.
// The journal and the files it names are believed only as far as this
// program could have written them: another account may write beside the
// output.
class OutputSession {
 public:
  OutputSession(const std::string& output, const JobSettings& settings, intptr_t lockHandle)
      : output_(output), settings_(settings), lockHandle_(lockHandle) {}

  // Reads the journal and finishes (or rolls back) a commit that a run which
  // died left behind. False when the journal cannot be written.
  bool Open() {
    // An update of the output cut short by a crash is cut off before
    // anything else reads the output.
    bool recovered = false;
    std::string why;
    if (!RecoverInterruptedAppend(output_, &recovered, &why)) {
      OutLog("[ERROR] An interrupted append to \"%s\" cannot be undone: %s.\n", output_.c_str(),
             why.c_str());
      return false;
    }
    if (recovered) {
      OutLog("[INFO] An append to \"%s\" was cut short; the file was cut back to its old end.\n",
             output_.c_str());
    } else if (!why.empty()) {
      OutLog("[ERROR] %s.\n", why.c_str());
    }
    ReadJournal();
    CollectLeftovers();
    if (journal_.hasCommit) RecoverCommit();
    // Half-written outputs of killed runs would pile up beside the output.
    platform::RemoveStaleSiblingTemps(output_);
    platform::RemoveStaleSiblingTemps(JournalPath(output_));
    KeepReserve();
    return Save();
  }

  // True when the job was committed by a run that died before its clean-up.
  bool AlreadyCommitted(const Job& job) const {
    return !recoveredJob_.empty() && recoveredJob_ == job.input && recoveredDigest_ == job.digest;
  }

  // Enters the run's job before its conversion. False when the same job is
  // being delivered by another live run, or the journal cannot be written.
  bool Register(const Job& job) {
    for (KeptJob& kept : journal_.kept) {
      if (kept.job != job.input || kept.digest != job.digest) continue;
      if (kept.owner != 0 && kept.owner != platform::ProcessId() &&
          platform::IsProcessRunning(kept.owner)) {
        OutLog("[INFO] The job \"%s\" is being delivered by process %d.\n", job.input.c_str(),
               kept.owner);
        return false;
      }
      // Delivered again (by the port monitor or by hand) while kept: this
      // run takes it over.
      if (kept.converted != job.converted) DropConverted(&kept);
      kept.owner = platform::ProcessId();
      kept.converted = job.converted;
      return Save();
    }
    KeptJob kept;
    kept.lastTry = time(nullptr);
    kept.job = job.input;
    kept.converted = job.converted;
    kept.digest = job.digest;
    kept.cause = "not delivered yet";
    kept.owner = platform::ProcessId();
    journal_.kept.push_back(kept);
    return Save();
  }

  // Delivers the journal's jobs, oldest first, the run's own (when given)
  // among them from its fresh conversion. With onlyDue, a job tried less
  // than a minute ago waits. A job that cannot be delivered for a reason on
  // the output's side, or that waits, stops the round: the jobs after it
  // wait behind it.
  void Deliver(const Job* own, bool onlyDue) {
    const std::vector<KeptJob> pending = journal_.kept;
    std::vector<KeptJob> stay;
    bool blocked = false;
    for (size_t i = 0; i < pending.size(); ++i) {
      KeptJob kept = pending[i];
      current_ = stay.size();
      bool isOwn = own && kept.owner == platform::ProcessId() && kept.job == own->input;
      // The run that converts a job now delivers it, and the jobs after it.
      if (!isOwn && kept.owner != 0 && platform::IsProcessRunning(kept.owner)) blocked = true;
      bool due = isOwn || !onlyDue || time(nullptr) - kept.lastTry >= kSyncRetrySeconds;
      if (!due) blocked = true;
      Delivery result = Delivery::kKept;
      bool tried = isOwn || !blocked;
      if (isOwn) {
        result = DeliverOwnJob(&kept, *own, blocked);
      } else if (tried) {
        result = DeliverKeptJob(&kept);
      }
      if (tried) blocked = blocked || Blocks(result);
      bool stays = result == Delivery::kKept || result == Delivery::kBadContent ||
                   result == Delivery::kMachine;
      if (stays || (result == Delivery::kNotByConfig && !isOwn)) stay.push_back(kept);
      journal_.kept = stay;
      journal_.kept.insert(journal_.kept.end(), pending.begin() + static_cast<long>(i) + 1,
                           pending.end());
      // The commit record and the job's entry go in one write: a crash
      // between two writes would leave a delivered job listed.
      journal_.hasCommit = false;
      Save();
    }
  }

  // The output's end read while the run's own job converted.
  void UseEarlyEnd(std::unique_ptr<EarlyEnd> early) { early_ = std::move(early); }

  // Whether the run's own job was still in the journal, and what became of it.
  bool OwnFound() const { return ownFound_; }
  Delivery OwnResult() const { return ownResult_; }
  // True when the own job made the output by a copy (there was none).
  bool OwnCopied() const { return ownCopied_; }

  // A name for a converted PDF, made while the lock is held, so that it is
  // entered in the journal before any other run can look for leftovers.
  std::string NewConvertedName() {
    char converted[platform::kMaxPathLength];
    CountedTempFileName(sizeof(converted), converted, ".pdf");
    return converted;
  }

  // Why the machine keeps a job from converting into the working temporary
  // folder now, or "".
  std::string ConversionTrouble() { return MachineTrouble(TempFolder(), kRoomForConversion); }

 private:
  // Reads the journal; one that is damaged or not this program's own is set
  // aside, and nothing it names is touched.
  void ReadJournal() {
    std::string why;
    JournalRead read = ReadJobJournal(output_, &journal_, &why);
    std::string path = JournalPath(output_);
    if (read == JournalRead::kRead) {
      saved_ = platform::PathEntryExists(path);
      if (saved_) savedText_ = FormatJobJournal(journal_);
      return;
    }
    journal_ = JobJournal();
    bool untrusted = read == JournalRead::kUntrusted;
    std::string aside, error;
    if (platform::SetFileAside(path, untrusted ? ".untrusted" : ".damaged", &aside, &error)) {
      OutLog("[ERROR] The journal \"%s\" %s (%s); it was set aside as \"%s\"%s.\n", path.c_str(),
             untrusted ? "is not this program's own" : "is damaged", why.c_str(), aside.c_str(),
             untrusted ? " and nothing it names is touched" : "");
    } else {
      OutLog("[ERROR] The journal \"%s\" %s (%s) and cannot be set aside: %s; it is ignored.\n",
             path.c_str(), untrusted ? "is not this program's own" : "is damaged", why.c_str(),
             error.c_str());
    }
  }

  // Writes the journal when it differs from what is on the disk: every write
  // forces the file to the disk, and most steps change nothing. On a full
  // disk the reserve beside the journal is given up, a piece at a time, to
  // make room for it.
  bool Save(platform::NameOnDisk name = platform::NameOnDisk::kNow) {
    std::string text = FormatJobJournal(journal_);
    if (saved_ && text == savedText_) return true;
    std::string error;
    bool written = WriteJobJournal(output_, journal_, &error, name);
    while (!written && ShrinkReserve()) written = WriteJobJournal(output_, journal_, &error, name);
    if (!written) {
      saveError_ = error;
      OutLog("[ERROR] %s.\n", error.c_str());
      return false;
    }
    saved_ = true;
    savedText_ = text;
    return true;
  }

  // Frees a piece of the reserve. False when there is nothing (of ours) left.
  bool ShrinkReserve() {
    std::string reserve = ReservePath(output_), why;
    int64_t size = platform::FileSize(reserve);
    if (size <= 0 || !platform::IsOwnFile(reserve, output_, &why)) return false;
    int64_t left = std::max<int64_t>(0, size - kReservePiece);
    if (!platform::TruncateFile(reserve, left, &why)) return false;
    OutLog("[INFO] %lld bytes of \"%s\" were given up to make room for the journal.\n",
           static_cast<long long>(size - left), reserve.c_str());
    return true;
  }

  // Makes the reserve beside the journal whole again where there is room.
  void KeepReserve() {
    std::string reserve = ReservePath(output_), error;
    int64_t size = platform::FileSize(reserve);
    if (size == kJournalReserveBytes) return;
    if (size < 0 && !platform::PathEntryExists(reserve)) {
      platform::NewFile file;
      if (file.Create(reserve, 0600, &error) != 1 || !file.SyncAndClose(&error)) return;
      size = 0;
    }
    if (size < 0 || size > kJournalReserveBytes || !platform::IsOwnFile(reserve, output_, &error)) {
      return;  // not ours: left alone, and never given up
    }
    std::string zeros(static_cast<size_t>(kJournalReserveBytes - size), '\0');
    if (!platform::AppendAndSync(reserve, zeros, &error)) platform::TruncateFile(reserve, size);
  }

  // The working temporary folder, without its final separator.
  const std::string& TempFolder() {
    if (tempFolder_.empty()) {
      char folder[platform::kMaxPathLength];
      MyGetTempPath(sizeof(folder), folder);
      tempFolder_ = WithoutFinalSeparator(folder);
    }
    return tempFolder_;
  }

  // True for a name of this program's converted PDFs: "fileNNNNNN.pdf" in
  // the working or the system temporary folder.
  bool IsConvertedName(const std::string& path) {
    std::string base = platform::BaseName(path);
    if (base.size() < 14 || base.compare(0, 4, "file") != 0 ||
        base.compare(base.size() - 4, 4, ".pdf") != 0 ||
        base.find_first_not_of("0123456789", 4) != base.size() - 4) {
      return false;
    }
    std::string folder = FolderOf(path);
    return SamePath(folder, TempFolder()) ||
           SamePath(folder, WithoutFinalSeparator(platform::SystemTempPath()));
  }

  // True for a converted PDF that this program made and nobody else may
  // have changed: only such a file is ever taken for a job's pages or
  // deleted on a record's word.
  bool IsOwnConverted(const std::string& path) {
    std::string why;
    return IsConvertedName(path) && platform::IsOwnFile(path, output_, &why);
  }

  // Forgets the job's converted PDF and deletes it when it is the
  // program's own. When the run converting it died, its Ghostscript may
  // still write the file: its name is kept as a leftover for later runs.
  void DropConverted(KeptJob* kept) {
    if (kept->converted.empty()) return;
    if (IsOwnConverted(kept->converted)) DeleteFileLogged(kept->converted.c_str());
    if (kept->owner != 0 && kept->owner != platform::ProcessId() &&
        IsConvertedName(kept->converted)) {
      journal_.leftovers.push_back(
          Leftover{static_cast<long long>(time(nullptr)), kept->converted});
    }
    kept->converted.clear();
  }

  // Deletes the converted PDFs that Ghostscripts of dead runs wrote after
  // their run was found dead; a name is watched as long as Ghostscript may
  // run.
  void CollectLeftovers() {
    if (journal_.leftovers.empty()) return;
    long long limit = settings_.ghostscriptTimeLimit > 0 ? settings_.ghostscriptTimeLimit : 600;
    std::vector<Leftover> watched;
    for (const Leftover& left : journal_.leftovers) {
      if (platform::PathEntryExists(left.path) && IsOwnConverted(left.path)) {
        DeleteFileLogged(left.path.c_str());
      }
      if (time(nullptr) - left.since < limit) watched.push_back(left);
    }
    journal_.leftovers = watched;
  }

  // Pages counted equal to the commit's promise mean the commit landed
  // before its run died: only its clean-up is left. Otherwise the target
  // still holds its old pages, and the job is still in the journal.
  void RecoverCommit() {
    const PendingCommit c = journal_.commit;
    journal_.hasCommit = false;
    bool toOutput = SamePath(c.target, output_);
    if (!toOutput && !SamePath(c.target, settings_.syncTarget)) {
      OutLog(
          "[ERROR] The commit in \"%s\" names \"%s\", which is neither \"%s\" nor the drive's "
          "copy; nothing it names is touched.\n",
          JournalPath(output_).c_str(), c.target.c_str(), output_.c_str());
      return;
    }
    int pages = platform::PathExists(c.target) ? GetPDFFilePageCount(c.target.c_str()) : 0;
    if (pages != c.pagesAfter || pages <= c.pagesBefore) return;
    std::string what = !c.job.empty() ? c.job : c.files.empty() ? std::string() : c.files[0];
    OutLog(
        "[INFO] The pages of \"%s\" reached \"%s\" before the run that wrote them ended; "
        "cleaning up.\n",
        what.c_str(), c.target.c_str());
    for (const std::string& file : c.files) {
      // A commit to the drive's copy deletes the output it moved; one to
      // the output, the job's spool file and its converted PDF.
      bool ours = toOutput
                      ? IsOwnConverted(file) || (file == c.job && IsKeptJobFile(file, c.digest))
                      : SamePath(file, output_);
      if (ours) {
        DeleteFileLogged(file.c_str());
      } else if (platform::PathEntryExists(file)) {
        OutLog(
            "[ERROR] The commit in \"%s\" names \"%s\" for deletion, which is not its own; it is "
            "left alone.\n",
            JournalPath(output_).c_str(), file.c_str());
      }
    }
    for (size_t i = 0; i < journal_.kept.size(); ++i) {
      const KeptJob& kept = journal_.kept[i];
      if (kept.job == c.job && kept.digest == c.digest) {
        journal_.kept.erase(journal_.kept.begin() + static_cast<long>(i));
        break;
      }
    }
    recoveredJob_ = c.job;
    recoveredDigest_ = c.digest;
  }

  // The run's own job, at its place among the kept ones.
  Delivery DeliverOwnJob(KeptJob* kept, const Job& own, bool blocked) {
    ownFound_ = true;
    kept->owner = 0;
    Delivery result = Delivery::kKept;
    if (!own.conversion) {
      result = own.machineFault.empty() ? ConversionFailed(kept, own.conversion.reason())
                                        : MachineFault(kept, own.machineFault);
    } else if (!blocked) {
      result = Commit(kept, true);
    } else {
      kept->cause = "An earlier job is not delivered yet";
    }
    ownResult_ = result;
    if (result == Delivery::kKept || result == Delivery::kBadContent ||
        result == Delivery::kMachine) {
      std::string where = "\"" + kept->job + "\"";
      if (!kept->converted.empty()) where += " and \"" + kept->converted + "\"";
      OutLog("[ERROR] %s; the job stays in %s and is delivered by a later run.\n",
             kept->cause.c_str(), where.c_str());
    }
    return result;
  }

  // Tries a job that an earlier run kept, or whose run died.
  Delivery DeliverKeptJob(KeptJob* kept) {
    // The converted PDF of a run that died may be cut short.
    if (kept->owner != 0) {
      DropConverted(kept);
      kept->owner = 0;
    }
    bool hasConverted = !kept->converted.empty() && IsOwnConverted(kept->converted) &&
                        GetPDFFilePageCount(kept->converted.c_str()) > 0;
    if (!hasConverted) kept->converted.clear();
    if (!hasConverted && !IsKeptJobFile(kept->job, kept->digest)) {
      if (platform::PathEntryExists(kept->job)) {
        OutLog(
            "[ERROR] The kept job \"%s\" is no longer the file that was kept; it is dropped from "
            "\"%s\" and left alone.\n",
            kept->job.c_str(), JournalPath(output_).c_str());
      } else {
        OutLog("[ERROR] The kept job \"%s\" is gone; it is dropped from \"%s\".\n",
               kept->job.c_str(), JournalPath(output_).c_str());
      }
      return Delivery::kGone;
    }
    OutLog("[INFO] Delivering the kept job \"%s\" (tried %d times: %s).\n", kept->job.c_str(),
           kept->attempts, kept->cause.c_str());
    Delivery result = hasConverted ? Delivery::kArrived : ConvertKeptJob(kept);
    if (result == Delivery::kArrived) result = Commit(kept, false);
    if (result == Delivery::kMachine) {
      OutLog("[ERROR] %s; the job \"%s\" stays and is delivered later.\n", kept->cause.c_str(),
             kept->job.c_str());
    }
    return result;
  }

  // Converts a kept job anew. Its converted name is entered in the journal
  // first, so that a run killed during the conversion leaves no file that no
  // record names. kArrived when the conversion succeeded.
  Delivery ConvertKeptJob(KeptJob* kept) {
    std::string converted = NewConvertedName();
    if (converted.empty()) {
      std::string trouble = ConversionTrouble();
      return trouble.empty() ? ConversionFailed(kept, "no name for its converted PDF")
                             : MachineFault(kept, trouble);
    }
    kept->converted = converted;
    kept->owner = platform::ProcessId();
    journal_.kept[current_] = *kept;
    Save();
    std::string machine;
    Status converting =
        ConvertDocumentToPDF(kept->job.c_str(), converted.c_str(), settings_, &machine);
    kept->owner = 0;
    if (converting) return Delivery::kArrived;
    return machine.empty() ? ConversionFailed(kept, converting.reason())
                           : MachineFault(kept, machine);
  }

  // The counted name was made before the conversion: an empty or partial
  // file may be left there.
  Delivery ConversionFailed(KeptJob* kept, const std::string& why) {
    if (IsOwnConverted(kept->converted)) platform::DeleteFile(kept->converted);
    kept->converted.clear();
    kept->cause = why;
    Delivery result = Failed(kept);
    return result == Delivery::kKept ? Delivery::kBadContent : result;
  }

  // The machine kept the job from going on (no room, a read-only or failing
  // disk): it waits, and the try is not counted against it.
  Delivery MachineFault(KeptJob* kept, const std::string& why) {
    kept->lastTry = time(nullptr);
    kept->cause = why + " (the machine's fault, not the job's: not counted as a failed try)";
    return Delivery::kMachine;
  }

  // Puts the job's pages into the output by the configured method, with the
  // commit recorded first.
  Delivery Commit(KeptJob* kept, bool isOwn) {
    bool exists = platform::PathExists(output_);
    WritePages write = ChooseWriter(exists, settings_.appendMethod);
    if (!write) return Delivery::kNotByConfig;
    bool deleteTempFiles = settings_.deleteTempFiles;
    kept->lastTry = time(nullptr);
    std::string failed = "The pages of \"" + kept->job + "\" did not reach \"" + output_ + "\"";
    std::string why = "no pages";
    // The output's end is read once: the writer builds on it, and the end it
    // writes is checked against it.
    OutputEnd fresh;
    Status read;
    OutputEnd& end = *EndForCommit(isOwn, exists, &fresh, &read);
    int before = !exists ? 0 : read ? end.pages() : -1;
    if (!read) why = read.reason();
    int extra = before < 0 ? 0 : GetPDFFilePageCount(kept->converted.c_str(), &why);
    if (before < 0 || extra < 1) {
      kept->cause = failed + (before < 0 ? " (it cannot be read as a PDF: " + why + ")"
                                         : " (its converted PDF: " + why + ")");
      return Failed(kept);
    }
    if (!RecordCommit(*kept, before, before + extra, deleteTempFiles)) {
      return MachineFault(kept, failed + " (the journal cannot be written: " + saveError_ + ")");
    }
    const char* converted = kept->converted.c_str();
    // A method's own word is not enough: the output must hold exactly the
    // old pages and the new ones.
    bool updated = false;
    Status written = write(converted, output_.c_str(), settings_, lockHandle_,
                           exists ? &end : nullptr, &updated);
    Status landed = updated ? end.CheckUpdate(before + extra) : HoldsPages(output_, before + extra);
    if (landed) {
      // The spool file goes only while it is still the job that was kept.
      if (deleteTempFiles) {
        DeleteFileLogged(converted);
        if (IsKeptJobFile(kept->job, kept->digest)) DeleteFileLogged(kept->job.c_str());
      }
      if (isOwn) ownCopied_ = !exists;
      return Delivery::kArrived;
    }
    // A whole write needs room for the old pages and the new ones.
    int64_t needed = std::max<int64_t>(platform::FileSize(output_), 0) +
                     std::max<int64_t>(platform::FileSize(kept->converted), 0) + kRoomForConversion;
    std::string trouble = MachineTrouble(FolderOf(output_), needed);
    if (!trouble.empty()) return MachineFault(kept, failed + ": " + trouble);
    // The writer's own reason, else what the output holds now.
    std::string reason = !written ? written.reason() : landed.reason();
    kept->cause = (exists ? failed : "Could not create \"" + output_ + "\"") + ": " + reason;
    return Failed(kept);
  }

  // The end a commit builds on: the one read while the own job converted,
  // when it still fits, else one read here under the lock into fresh. The
  // early one serves the own job only, and is let go of before anything
  // else writes the output.
  OutputEnd* EndForCommit(bool isOwn, bool exists, OutputEnd* fresh, Status* read) {
    OutputEnd* taken = isOwn && exists && early_ ? early_->Take(output_) : nullptr;
    if (!taken) early_.reset();
    *read = taken || !exists ? Status() : fresh->Read(output_);
    return taken ? taken : fresh;
  }

  // Records, before the output is replaced, which job is committed and how
  // many pages the output has once it has landed.
  bool RecordCommit(const KeptJob& kept, int before, int after, bool deleteTempFiles) {
    PendingCommit& c = journal_.commit;
    c = PendingCommit();
    c.target = output_;
    c.pagesBefore = before;
    c.pagesAfter = after;
    c.job = kept.job;
    c.digest = kept.digest;
    if (deleteTempFiles) c.files = {kept.converted, kept.job};
    journal_.hasCommit = true;
    // Every writer forces the output's folder, where the journal is, to
    // the disk before the output changes: the record's name goes with it.
    if (Save(platform::NameOnDisk::kWithTheFolder)) return true;
    journal_.hasCommit = false;
    return false;
  }

  // Counts a failed try; the last allowed one moves the job's files to the
  // failed folder beside the output. Only the job's own files are moved.
  Delivery Failed(KeptJob* kept) {
    kept->lastTry = time(nullptr);
    if (++kept->attempts < kMaxAttempts) return Delivery::kKept;
    std::string folder = FolderOf(output_) + platform::kPathSeparator + "failed";
    std::string why;
    if (!platform::PathEntryExists(folder)) platform::CreateOneDirectory(folder);
    // A folder (or a link) planted under that name must not receive jobs.
    if (!platform::IsOwnFolder(folder, output_, &why)) {
      OutLog(
          "[ERROR] The folder \"%s\" is not this program's own (%s); the job \"%s\" stays in the "
          "journal.\n",
          folder.c_str(), why.c_str(), kept->job.c_str());
      return Delivery::kKept;
    }
    std::string moved;
    std::vector<std::string> files;
    if (IsKeptJobFile(kept->job, kept->digest)) files.push_back(kept->job);
    if (IsOwnConverted(kept->converted)) files.push_back(kept->converted);
    for (const std::string& file : files) {
      std::string target = folder + platform::kPathSeparator + platform::BaseName(file);
      for (int n = 1; platform::PathEntryExists(target); ++n) {
        target =
            folder + platform::kPathSeparator + platform::BaseName(file) + "." + std::to_string(n);
      }
      std::string error;
      if (!platform::LinkOrCopyFile(file, target, &error)) {
        OutLog("[ERROR] Could not move \"%s\" to \"%s\": %s; it stays in the journal.\n",
               file.c_str(), target.c_str(), error.c_str());
        return Delivery::kKept;
      }
      platform::DeleteFile(file);
      moved += (moved.empty() ? "\"" : ", \"") + target + "\"";
    }
    OutLog("[ERROR] The job \"%s\" failed %d times (%s); it was moved to %s.\n", kept->job.c_str(),
           kept->attempts, kept->cause.c_str(),
           moved.empty() ? "nowhere (its files are gone)" : moved.c_str());
    return Delivery::kGone;
  }

  std::string output_;
  const JobSettings& settings_;
  intptr_t lockHandle_;
  std::unique_ptr<EarlyEnd> early_;
  std::string tempFolder_;
  JobJournal journal_;
  size_t current_ = 0;  // the index in journal_.kept of the job Deliver is at
  bool saved_ = false;  // the journal on the disk is savedText_
  std::string savedText_;
  std::string saveError_;
  bool ownFound_ = false;
  bool ownCopied_ = false;
  Delivery ownResult_ = Delivery::kKept;
  std::string recoveredJob_, recoveredDigest_;
};

// A job that is the output itself (or a link to it) would be deleted as
// spool file once its pages were appended to itself.
bool IsUsableJob(const char* input, const char* output) {
  // Windows' "A" calls reach no further: such a job would seem missing.
  if (strlen(input) > static_cast<size_t>(platform::kLongestOpenablePath)) {
    OutLog(
        "[ERROR] The job \"%s\" has a path of %d bytes, longer than the %d this system opens; "
        "it is not appended.\n",
        input, static_cast<int>(strlen(input)), platform::kLongestOpenablePath);
    return false;
  }
  if (!platform::PathExists(input)) {
    OutLog("[ERROR] The job \"%s\" does not exist.\n", input);
    return false;
  }
  if (platform::IsSameFile(input, output)) {
    OutLog("[ERROR] The job \"%s\" is the output PDF \"%s\" itself; it is not appended.\n", input,
           output);
    return false;
  }
  if (!platform::IsPlainRegularFile(input)) {
    OutLog("[ERROR] The job \"%s\" is not a regular file; it is not appended.\n", input);
    return false;
  }
  return true;
}

}  // namespace

std::string OutputLockPath(const std::string& outputPdf) { return outputPdf + ".lock"; }

int OutputLockWaitMs(const JobSettings& settings) {
  return (settings.lockWaitSeconds > 0 ? settings.lockWaitSeconds : 120) * 1000;
}

namespace {

// What entering a job in the output's journal came to.
enum class Entry { kEntered, kAlreadyDelivered, kRefused };

// Enters the job in the output's journal before anything else happens to
// it, so that a run that dies leaves it to the next one. The name of its
// converted PDF is made and entered under the same lock.
Entry EnterJob(Job* job, const char* output, const JobSettings& settings) {
  platform::FileLock lock(OutputLockPath(output), OutputLockWaitMs(settings));
  if (!lock.Held()) {
    OutLog("[ERROR] Could not lock \"%s\": %s; the job stays in \"%s\".\n",
           OutputLockPath(output).c_str(), lock.Error().c_str(), job->input.c_str());
    return Entry::kRefused;
  }
  OutputSession session(output, settings, lock.NativeHandle());
  if (session.Open() && session.AlreadyCommitted(*job)) {
    OutLog("[INFO] The pages of \"%s\" are already in \"%s\".\n", job->input.c_str(), output);
    return Entry::kAlreadyDelivered;
  }
  job->converted = session.NewConvertedName();
  OutLog("CountedTempFileName: \"%s\"\n", job->converted.c_str());
  if (job->converted.empty()) job->machineFault = session.ConversionTrouble();
  return session.Register(*job) ? Entry::kEntered : Entry::kRefused;
}

// With the output locked, delivers the kept jobs and then the run's own.
// Returns the run's result.
int DeliverWithOwnJob(const Job& job, const char* output, const JobSettings& settings,
                      std::unique_ptr<EarlyEnd> early) {
  const char* input = job.input.c_str();
  const char* converted = job.converted.c_str();
  // From the look at the output until its write is done no other run may
  // change or move it; without the lock nothing is touched.
  platform::FileLock lock(OutputLockPath(output), OutputLockWaitMs(settings));
  if (!lock.Held()) {
    OutLog("[ERROR] Could not lock \"%s\": %s; the job stays in \"%s\" and \"%s\".\n",
           OutputLockPath(output).c_str(), lock.Error().c_str(), input, converted);
    return 0;
  }
  OutputSession session(output, settings, lock.NativeHandle());
  session.Open();
  session.UseEarlyEnd(std::move(early));
  session.Deliver(&job, false);
  if (!session.OwnFound()) {
    OutLog("[INFO] The job \"%s\" was delivered by another run.\n", input);
    if (settings.deleteTempFiles) DeleteFileLogged(converted);
    return 1;
  }
  Delivery result = session.OwnResult();
  if (result != Delivery::kArrived && result != Delivery::kNotByConfig) return 0;
  // The first job, copied to become the output, has no exit line.
  if (session.OwnCopied()) return 1;
  OutLog("Exit AppendFileToPDFFile \"%s\" to \"%s\"\n", input, output);
  return 1;
}

}  // namespace

int AppendFileToPDFFile(const char* input, const char* output, const JobSettings& settings) {
  if (!input || !output || !*input || !*output) return 0;
  OutLog("Enter AppendFileToPDFFile \"%s\" to \"%s\"\n", input, output);
  if (!IsUsableJob(input, output)) return 0;
  if (platform::FileSize(input) == 0) {
    OutLog("[INFO] The job \"%s\" is empty; there is nothing to append.\n", input);
    if (settings.deleteTempFiles) DeleteFileLogged(input);
    return 0;
  }
  Job job;
  job.input = input;
  job.digest = GetFileDigest(input);

  // Only converting: the output and its journal are left alone.
  if (!settings.appendDuringPrinting) {
    char converted[platform::kMaxPathLength];
    CountedTempFileName(sizeof(converted), converted, ".pdf");
    OutLog("CountedTempFileName: \"%s\"\n", converted);
    std::string machine;
    if (converted[0] && !ConvertDocumentToPDF(input, converted, settings, &machine)) {
      OutLog("Failed to convert from \"%s\" to \"%s\"\n", input, converted);
      platform::DeleteFile(converted);
    }
    return 0;
  }
  Entry entry = EnterJob(&job, output, settings);
  if (entry != Entry::kEntered) {
    if (!job.converted.empty()) DeleteFileLogged(job.converted.c_str());
    return entry == Entry::kAlreadyDelivered ? 1 : 0;
  }
  const char* converted = job.converted.c_str();
  auto early = std::make_unique<EarlyEnd>();
  if (*converted) {
    job.conversion = ConvertDocumentToPDF(input, converted, settings, &job.machineFault,
                                          [&early, output] { early->Read(output); });
  }
  if (!job.conversion) OutLog("Failed to convert from \"%s\" to \"%s\"\n", input, converted);
  return DeliverWithOwnJob(job, output, settings, std::move(early));
}

int DeliverKeptJobs(const char* output, const JobSettings& settings, intptr_t lockHandle) {
  OutputSession session(output, settings, lockHandle);
  if (!session.Open()) return 0;
  session.Deliver(nullptr, true);
  return 1;
}

bool RecordSyncCommit(const char* source, const std::string& target, int before, int after) {
  JobJournal journal;
  std::string why;
  if (ReadJobJournal(source, &journal, &why) != JournalRead::kRead) {
    OutLog("[ERROR] SyncPDFFileToFlashDrive: the journal of \"%s\" cannot be used: %s.\n", source,
           why.c_str());
    return false;
  }
  journal.hasCommit = !target.empty();
  journal.commit = PendingCommit();
  if (journal.hasCommit) {
    journal.commit.target = target;
    journal.commit.pagesBefore = before;
    journal.commit.pagesAfter = after;
    journal.commit.files = {source};
  }
  std::string error;
  if (WriteJobJournal(source, journal, &error)) return true;
  OutLog("[ERROR] SyncPDFFileToFlashDrive: %s.\n", error.c_str());
  return false;
}
