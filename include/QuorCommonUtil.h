// Small text checks of the common library.
#ifndef QUORPOLICY_INCLUDE_QUORCOMMONUTIL_H_
#define QUORPOLICY_INCLUDE_QUORCOMMONUTIL_H_

#include "QuorExport.h"

// True when `text` is non-null, non-empty and holds decimal digits only.
QUOR_COMMON_API bool isNum(const char* text);

// True when isNum(text) and its value lies in 1 to 65535.
QUOR_COMMON_API bool isValidPort(const char* text);

#endif  // QUORPOLICY_INCLUDE_QUORCOMMONUTIL_H_
