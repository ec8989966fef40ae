// What the service counts between two statistics lines: requests by
// decision, requests not understood, the latency of answers, and connections
// closed as soon as they were accepted.
//
// Thread safety: lock-free; every worker adds to the same counters, and one
// thread takes the report.
#ifndef QUORPOLICY_SERVICE_DETAIL_STATS_H_
#define QUORPOLICY_SERVICE_DETAIL_STATS_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/PolicyProtocol.h"

namespace quor::service::detail {

// Requests, decisions and latency since the last report.
class Stats {
 public:
  void record(PolicyDecision::Kind kind, std::chrono::steady_clock::duration latency);
  void malformed() { _malformed.fetch_add(1, std::memory_order_relaxed); }

  // "last N s: R requests (OK a, REJECT b, DUNNO c, malformed d)" and, when
  // any request was answered, the latency's p50, p99 and maximum. Resets the
  // counters.
  std::string take(unsigned seconds);

 private:
  // Four buckets per power of two: a percentile is known to within 19%.
  static constexpr std::size_t kBuckets = 4 * 40;
  static std::size_t bucketOf(std::uint64_t us);
  // The upper bound of the bucket that holds the given percentile.
  static std::uint64_t percentile(const std::array<std::uint64_t, kBuckets>& counts,
                                  std::uint64_t total, unsigned pct);

  std::atomic<std::uint64_t> _requests{0}, _malformed{0};
  std::array<std::atomic<std::uint64_t>, 3> _byKind{};
  std::array<std::atomic<std::uint64_t>, kBuckets> _buckets{};
};

// Connections closed as soon as they were accepted, since the last report.
struct ConnectionCounts {
  std::atomic<std::uint64_t> overLimit{0}, notAllowed{0};

  // The part of the report line; empty when none were closed. Resets both.
  std::string take();
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_STATS_H_
