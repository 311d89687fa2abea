#include "platform/cloud/cloud_fault_injector.h"

namespace qlt {

void CloudFaultInjector::failNextRequests(const Error& error, int count) {
  if (count <= 0) return;
  std::lock_guard lock(mutex_);
  plans_.push_back({Plan::Kind::Fail, count, error, {}, {}});
}

void CloudFaultInjector::failRecords(const std::set<RecordID>& recordIDs, const Error& error, int count) {
  if (count <= 0 || recordIDs.empty()) return;
  std::lock_guard lock(mutex_);
  plans_.push_back({Plan::Kind::FailRecords, count, error, recordIDs, {}});
}

void CloudFaultInjector::delayNextRequests(std::chrono::milliseconds delay, int count) {
  if (count <= 0) return;
  std::lock_guard lock(mutex_);
  plans_.push_back({Plan::Kind::Delay, count, std::nullopt, {}, delay});
}

void CloudFaultInjector::withholdNextRequests(int count) {
  if (count <= 0) return;
  std::lock_guard lock(mutex_);
  plans_.push_back({Plan::Kind::Withhold, count, std::nullopt, {}, {}});
}

void CloudFaultInjector::reset() {
  std::lock_guard lock(mutex_);
  plans_.clear();
}

size_t CloudFaultInjector::requestCount() const {
  std::lock_guard lock(mutex_);
  return requestCount_;
}

CloudFaultInjector::Fault CloudFaultInjector::takeFault(const std::vector<RecordID>& recordIDs) {
  std::lock_guard lock(mutex_);
  ++requestCount_;
  Fault fault;
  for (auto plan = plans_.begin(); plan != plans_.end(); ++plan) {
    if (plan->kind == Plan::Kind::FailRecords) {
      for (const RecordID& recordID : recordIDs)
        if (plan->recordIDs.count(recordID)) fault.recordErrors.insert_or_assign(recordID, *plan->error);
      if (fault.recordErrors.empty()) continue;
    } else if (plan->kind == Plan::Kind::Fail) {
      fault.requestError = plan->error;
    } else if (plan->kind == Plan::Kind::Delay) {
      fault.delay = plan->delay;
    } else {
      fault.withhold = true;
    }
    if (--plan->remaining == 0) plans_.erase(plan);
    break;
  }
  return fault;
}

std::optional<Error> CloudFaultInjector::apply(const Fault& fault, const CloudCancellation& cancellation) {
  if (fault.withhold) {
    cancellation.wait();
    return cloudOperationCancelledError();
  }
  if (fault.delay.count() > 0 && cancellation.waitFor(fault.delay)) return cloudOperationCancelledError();
  if (cancellation.isCancelled()) return cloudOperationCancelledError();
  return fault.requestError;
}

}  // namespace qlt
