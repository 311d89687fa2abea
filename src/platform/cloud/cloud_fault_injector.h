#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_service.h"

namespace qlt {

// Makes the requests of a cloud service misbehave, one planned fault per
// request, taken in the order they were planned. Thread-safe.
class CloudFaultInjector {
 public:
  // The next `count` requests fail as a whole with `error`.
  void failNextRequests(const Error& error, int count = 1);
  // The next `count` requests that name any of `recordIDs` fail for those
  // records with `error` (a partial failure); their other records are
  // handled as usual.
  void failRecords(const std::set<RecordID>& recordIDs, const Error& error, int count = 1);
  // The next `count` requests are answered after `delay`.
  void delayNextRequests(std::chrono::milliseconds delay, int count = 1);
  // The next `count` requests are never answered: their operations stay
  // executing until cancelled.
  void withholdNextRequests(int count = 1);
  // Forgets every planned fault.
  void reset();

  // Requests seen so far, faulty or not.
  size_t requestCount() const;

  // What the service does with one request naming `recordIDs`.
  struct Fault {
    std::optional<Error> requestError;
    CloudPartialErrors recordErrors;
    std::chrono::milliseconds delay{0};
    bool withhold = false;
  };
  Fault takeFault(const std::vector<RecordID>& recordIDs);
  // The request's answer when `fault` ends it before the server looks at
  // it: waits out a delay or a withheld answer (giving up when cancelled).
  [[nodiscard]] static std::optional<Error> apply(const Fault& fault, const CloudCancellation& cancellation);

 private:
  struct Plan {
    enum class Kind { Fail, FailRecords, Delay, Withhold } kind;
    int remaining;
    std::optional<Error> error;
    std::set<RecordID> recordIDs;
    std::chrono::milliseconds delay{0};
  };

  mutable std::mutex mutex_;
  std::deque<Plan> plans_;
  size_t requestCount_ = 0;
};

}  // namespace qlt
