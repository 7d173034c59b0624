#include "app/printer_app/intake.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "config/log.h"
#include "delivery/append_driver.h"
#include "pdf/output_end.h"
#include "platform/platform.h"

namespace {

const char kTempSuffix[] = ".tmp";

// The job id of an intake file's name ("J00000042.pdf" or "J00000042.pdf.tmp"), or 0.
int JobIdOf(const std::string& name) {
  if (name.size() < 10 || name[0] != 'J') return 0;
  for (size_t i = 1; i < 9; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
  }
  return name[9] == '.' ? atoi(name.substr(1, 8).c_str()) : 0;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::mutex& RoadMutex() {
  static std::mutex road;
  return road;
}

OrderedIntake::OrderedIntake(std::string folder, std::string output, JobSettings settings,
                             OlderJobPending olderJobPending)
    : folder_(std::move(folder)),
      output_(std::move(output)),
      ledger_(folder_ + "/taken"),
      settings_(std::move(settings)),
      olderJobPending_(std::move(olderJobPending)) {
  settings_.documentsAsTheyAre = true;
  settings_.deleteTempFiles = true;
}

OrderedIntake::~OrderedIntake() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::string OrderedIntake::PathOf(int jobId, const std::string& ext) const {
  char name[32];
  snprintf(name, sizeof(name), "J%08d.", jobId);
  return folder_ + "/" + name + ext;
}

bool OrderedIntake::Start(std::string* why) {
  if (!platform::EnsurePrivateFolder(folder_, why)) return false;
  if (!platform::PathEntryExists(ledger_) && !platform::AppendToFile(ledger_, "", 0600, why)) {
    return false;
  }
  std::string ledger;
  if (!platform::ReadWholeFile(ledger_, &ledger, why)) return false;
  std::istringstream ids(ledger);
  for (int id; ids >> id;) taken_.insert(id);
  // A copy finished and recorded before a stop is delivered; one that was
  // not recorded is dropped: the server hands its job over again.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    std::string name = entry.path().filename().string();
    int id = JobIdOf(name);
    if (id <= 0 || !platform::IsPlainRegularFile(entry.path().string())) continue;
    std::string path = entry.path().string();
    if (EndsWith(name, kTempSuffix)) {
      std::string done = path.substr(0, path.size() - strlen(kTempSuffix));
      if (taken_.count(id) && platform::ReplaceFile(path, done)) {
        waiting_[id] = done;
      } else {
        platform::DeleteFile(path);
      }
    } else {
      waiting_[id] = path;
    }
  }
  if (error) {
    *why = "cannot read the folder \"" + folder_ + "\": " + error.message();
    return false;
  }
  if (!waiting_.empty()) {
    OutLog("[INFO] %d jobs left by the last run wait for \"%s\".\n",
           static_cast<int>(waiting_.size()), output_.c_str());
  }
  worker_ = std::thread([this] { Deliver(); });
  return true;
}

bool OrderedIntake::IsTaken(int jobId) {
  std::lock_guard<std::mutex> hold(mutex_);
  return taken_.count(jobId) > 0;
}

int OrderedIntake::LastTaken() {
  std::lock_guard<std::mutex> hold(mutex_);
  return taken_.empty() ? 0 : *taken_.rbegin();
}

std::deque<DeliveredJob> OrderedIntake::Recent() {
  std::lock_guard<std::mutex> hold(mutex_);
  return recent_;
}

bool OrderedIntake::Take(int jobId, const std::string& document, const std::string& ext,
                         const std::string& who, std::string* why) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (taken_.count(jobId)) {
    OutLog("[INFO] Job %d was taken in before; it is not taken twice.\n", jobId);
    return true;
  }
  // Copied, forced to the disk and recorded before it is visible, so that a
  // stop at any moment leaves the job either taken once or not at all.
  std::string path = PathOf(jobId, ext);
  std::string temp = path + kTempSuffix;
  if (!platform::CopyFileAtomically(document, temp, 0600, why) ||
      !platform::SyncFileToDisk(temp, why) ||
      !platform::AppendAndSync(ledger_, std::to_string(jobId) + "\n", why) ||
      !platform::ReplaceFile(temp, path, why)) {
    platform::DeleteFile(temp);
    return false;
  }
  platform::SyncFolder(folder_);
  taken_.insert(jobId);
  waiting_[jobId] = path;
  who_[jobId] = who;
  wake_.notify_all();
  return true;
}

void OrderedIntake::Deliver() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    if (waiting_.empty()) {
      wake_.wait(hold);
      continue;
    }
    auto next = waiting_.begin();
    int jobId = next->first;
    std::string path = next->second;
    hold.unlock();
    // An older job that is still on its way goes first.
    std::vector<int> older = olderJobPending_(jobId);
    hold.lock();
    bool wait = false;
    for (int id : older) wait = wait || !taken_.count(id);
    if (!wait) {
      hold.unlock();
      DeliverOne(jobId, path);
      hold.lock();
    }
    if (wait) {
      wake_.wait_for(hold, std::chrono::milliseconds(50));
    } else {
      waiting_.erase(jobId);
    }
  }
}

int PagesOf(const std::string& output) {
  if (!platform::PathExists(output)) return 0;
  OutputEnd end;
  return end.Read(output) ? end.pages() : -1;
}

void OrderedIntake::DeliverOne(int jobId, const std::string& path) {
  std::unique_lock<std::mutex> road(RoadMutex());
  int before = PagesOf(output_);
  int done = AppendFileToPDFFile(path.c_str(), output_.c_str(), settings_);
  int after = PagesOf(output_);
  DeliveredJob delivered;
  delivered.jobId = jobId;
  delivered.when = time(nullptr);
  if (done && before >= 0 && after > before) {
    OutLog("[INFO] Job %d: %d pages appended to \"%s\" (pages %d-%d).\n", jobId, after - before,
           output_.c_str(), before + 1, after);
    delivered.firstPage = before + 1;
    delivered.lastPage = after;
  } else if (!done) {
    OutLog("[ERROR] Job %d did not reach \"%s\" (the reason is above).\n", jobId, output_.c_str());
  }
  road.unlock();
  std::lock_guard<std::mutex> hold(mutex_);
  delivered.who = who_[jobId];
  who_.erase(jobId);
  recent_.push_front(delivered);
  if (recent_.size() > 20) recent_.pop_back();
}
