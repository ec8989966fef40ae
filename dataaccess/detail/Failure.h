// How the data-access library reports failures: a `const char*` thrown from a
// per-thread buffer that stays valid until the next failure on that thread.
#ifndef QUORPOLICY_DATAACCESS_DETAIL_FAILURE_H_
#define QUORPOLICY_DATAACCESS_DETAIL_FAILURE_H_

#include <string>

#include "QuorExport.h"

namespace quor::dataaccess::detail {

// Stores `text` in the thread's failure buffer and throws its address.
[[noreturn]] void throwFailure(std::string text);

// The same with printf-style formatting.
[[noreturn]] void throwFailuref(const char* format, ...) QUOR_PRINTF_FORMAT(1, 2);

}  // namespace quor::dataaccess::detail

#endif  // QUORPOLICY_DATAACCESS_DETAIL_FAILURE_H_
