// How QuorNamedObj::getIds builds a list. When the progress trace is read it
// walks the objects step by step, entity by entity, so that the trace shows
// every step; otherwise it accounts for each object once and asks the rule
// statement once for all objects. Both give the same list and the same error
// and warning messages. Benchmarks and tests force the step-by-step walk to
// compare the two on the same data.
#ifndef QUORPOLICY_POLICYOBJ_DETAIL_LISTPATH_H_
#define QUORPOLICY_POLICYOBJ_DETAIL_LISTPATH_H_

#include <atomic>

namespace quor::policyobj::detail {

inline std::atomic<bool> gStepwiseListsForced{false};

// While true, getIds walks step by step even when nobody reads the trace.
inline void forceStepwiseLists(bool on) { gStepwiseListsForced.store(on, std::memory_order_relaxed); }
inline bool stepwiseListsForced() { return gStepwiseListsForced.load(std::memory_order_relaxed); }

}  // namespace quor::policyobj::detail

#endif  // QUORPOLICY_POLICYOBJ_DETAIL_LISTPATH_H_
