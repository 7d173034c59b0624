// The printer application's intake: documents of accepted jobs, kept in a
// private folder until their pages are in the output PDF, and delivered in
// the order of their job ids (the order the printer accepted them), however
// the server happens to hand them over.
#pragma once

#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"

/// The road a job takes to its output is made for one job at a time in a
/// process: every delivery, and every look at an output, holds this.
std::mutex& RoadMutex();

/// The output's pages, read from its end (the whole file only when its end
/// cannot tell), so that a growing output costs each job the same; 0 for no
/// output, -1 for one that cannot be read.
int PagesOf(const std::string& output);

/// A job's way into the output, as the printer's page shows it.
struct DeliveredJob {
  int jobId = 0;
  std::string who;    ///< the job's user and name
  int firstPage = 0;  ///< its pages in the output; 0 when it did not arrive
  int lastPage = 0;
  time_t when = 0;
};

class OrderedIntake {
 public:
  /// The ids of the jobs older than the given id that the server still has
  /// pending or in process: those not taken in yet go first.
  using OlderJobPending = std::function<std::vector<int>(int jobId)>;

  OrderedIntake(std::string folder, std::string output, JobSettings settings,
                OlderJobPending olderJobPending);
  ~OrderedIntake();
  OrderedIntake(const OrderedIntake&) = delete;
  OrderedIntake& operator=(const OrderedIntake&) = delete;

  /// Makes the private folder and picks up what a stopped server left there;
  /// then starts delivering. False with *why when the folder cannot be used.
  bool Start(std::string* why);

  /// Keeps a copy of a job's document (extension ext, e.g. "pdf") for
  /// delivery, forced to the disk before this returns. A job taken in before
  /// (the server hands it over again after a restart) is not taken twice.
  /// who names the job (its user and name) for the printer's page.
  bool Take(int jobId, const std::string& document, const std::string& ext, const std::string& who,
            std::string* why);

  bool IsTaken(int jobId);
  /// The highest job id ever taken in, 0 for none.
  int LastTaken();
  const std::string& output() const { return output_; }
  const JobSettings& settings() const { return settings_; }
  /// The last jobs delivered or tried, newest first.
  std::deque<DeliveredJob> Recent();

 private:
  void Deliver();
  void DeliverOne(int jobId, const std::string& path);
  std::string PathOf(int jobId, const std::string& ext) const;

  std::string folder_, output_, ledger_;
  JobSettings settings_;
  OlderJobPending olderJobPending_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<int> taken_;                 ///< every job id in the ledger
  std::map<int, std::string> waiting_;  ///< job id -> document, not yet delivered
  std::map<int, std::string> who_;      ///< job id -> user and name, while waiting
  std::deque<DeliveredJob> recent_;
  bool stopping_ = false;
  std::thread worker_;
};
