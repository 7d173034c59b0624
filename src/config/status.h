// The result of an operation that can fail: success, or the reason it failed
// in the words a user reads in the log (the system's error text,
// Ghostscript's or qpdf's own message where there is one). The one result
// convention of pdf/, printer/ and delivery/.
#pragma once

#include <string>
#include <utility>

class Status {
 public:
  Status() = default;  ///< success
  static Status Failure(std::string reason) {
    Status failed;
    failed.ok_ = false;
    failed.reason_ = reason.empty() ? std::string("unknown reason") : std::move(reason);
    return failed;
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  /// Empty for success.
  const std::string& reason() const { return reason_; }

  /// The same failure with context in front: "what: reason".
  Status Within(const std::string& what) const {
    return ok_ ? *this : Failure(what + ": " + reason_);
  }

 private:
  bool ok_ = true;
  std::string reason_;
};
