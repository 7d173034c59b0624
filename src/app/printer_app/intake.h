// The printer application's intake: documents of accepted jobs, kept in a
// private folder until their pages are in the output PDF, and delivered in
// the order of their job ids (the order the printer accepted them), however
// the server happens to hand them over.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"

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
  bool Take(int jobId, const std::string& document, const std::string& ext, std::string* why);

  bool IsTaken(int jobId);
  /// The highest job id ever taken in, 0 for none.
  int LastTaken();
  const std::string& output() const { return output_; }

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
  bool stopping_ = false;
  std::thread worker_;
};
