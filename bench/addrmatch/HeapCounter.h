// Heap accounting of the benchmark binary: every global operator new and
// delete of the process is replaced (HeapCounter.cpp) to keep the number of
// live bytes, counted as the usable size of each block. Memory taken with
// malloc directly is not seen here; mallocInUse() covers it.
#ifndef QUORPOLICY_BENCH_ADDRMATCH_HEAPCOUNTER_H_
#define QUORPOLICY_BENCH_ADDRMATCH_HEAPCOUNTER_H_

#include <cstdint>

namespace quor::bench {

// Bytes currently held through operator new.
std::int64_t liveNewBytes();
// Bytes the C allocator reports in use (operator new included).
std::int64_t mallocInUse();

}  // namespace quor::bench

#endif  // QUORPOLICY_BENCH_ADDRMATCH_HEAPCOUNTER_H_
