#include "service/detail/Stats.h"

#include <algorithm>

namespace quor::service::detail {

void Stats::record(PolicyDecision::Kind kind, std::chrono::steady_clock::duration latency) {
  _requests.fetch_add(1, std::memory_order_relaxed);
  _byKind[kind].fetch_add(1, std::memory_order_relaxed);
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(latency).count();
  _buckets[bucketOf(us < 1 ? 1 : static_cast<std::uint64_t>(us))].fetch_add(
      1, std::memory_order_relaxed);
}

std::string Stats::take(unsigned seconds) {
  std::array<std::uint64_t, kBuckets> counts{};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    counts[i] = _buckets[i].exchange(0, std::memory_order_relaxed);
    total += counts[i];
  }
  const auto requests = _requests.exchange(0, std::memory_order_relaxed);
  const auto ok = _byKind[PolicyDecision::Ok].exchange(0, std::memory_order_relaxed);
  const auto reject = _byKind[PolicyDecision::Reject].exchange(0, std::memory_order_relaxed);
  const auto dunno = _byKind[PolicyDecision::Dunno].exchange(0, std::memory_order_relaxed);
  const auto bad = _malformed.exchange(0, std::memory_order_relaxed);
  std::string line = "last " + std::to_string(seconds) + " s: " + std::to_string(requests) +
                     " requests (OK " + std::to_string(ok) + ", REJECT " + std::to_string(reject) +
                     ", DUNNO " + std::to_string(dunno) + ", malformed " + std::to_string(bad) +
                     ")";
  if (total > 0) {
    line += "; latency p50 " + std::to_string(percentile(counts, total, 50)) + " us, p99 " +
            std::to_string(percentile(counts, total, 99)) + " us, max " +
            std::to_string(percentile(counts, total, 100)) + " us";
  }
  return line;
}

std::size_t Stats::bucketOf(std::uint64_t us) {
  std::size_t octave = 63 - static_cast<std::size_t>(__builtin_clzll(us));
  const std::uint64_t quarter = octave >= 2 ? (us >> (octave - 2)) & 3 : 0;
  return std::min(kBuckets - 1, octave * 4 + quarter);
}

std::uint64_t Stats::percentile(const std::array<std::uint64_t, kBuckets>& counts,
                                std::uint64_t total, unsigned pct) {
  const std::uint64_t rank = (total * pct + 99) / 100;
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += counts[i];
    if (seen >= rank && counts[i] > 0) {
      const std::size_t octave = i / 4, quarter = i % 4;
      if (octave < 2) return std::uint64_t{1} << (octave + 1);
      return (std::uint64_t{4 + quarter + 1}) << (octave - 2);
    }
  }
  return 0;
}

std::string ConnectionCounts::take() {
  const auto over = overLimit.exchange(0, std::memory_order_relaxed);
  const auto refused = notAllowed.exchange(0, std::memory_order_relaxed);
  if (over == 0 && refused == 0) return "";
  return "; connections closed at once: " + std::to_string(over) + " over the limit, " +
         std::to_string(refused) + " not allowed";
}

}  // namespace quor::service::detail
