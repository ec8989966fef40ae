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

// True for the SQLSTATEs that mean the link to the server is gone: the
// connection exceptions (class 08) and the server's own shutdown notices
// (57P01 to 57P03). A connection that reported one is not lent again.
bool isLinkFailure(const std::string& state);

}  // namespace quor::dataaccess::detail

#endif  // QUORPOLICY_DATAACCESS_DETAIL_FAILURE_H_
