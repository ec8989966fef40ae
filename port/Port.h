// The private portability layer. Everything that differs between the Windows
// build the interface was designed for and POSIX lives here:
//  - quorStricmp: ASCII case-insensitive comparison (the C runtime's _stricmp);
//  - quorSnprintf: bounded formatting (the C runtime's _snprintf, but always
//    NUL-terminated and with C99 return semantics);
//  - toNativePath: configuration keeps Windows-style paths with backslashes;
//    every file access on POSIX turns them into forward slashes.
#ifndef QUORPOLICY_PORT_PORT_H_
#define QUORPOLICY_PORT_PORT_H_

#include <strings.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace quor::port {

// Compares two NUL-terminated texts ignoring the case of ASCII letters only.
// Returns <0, 0 or >0 like strcmp. REQUIRES: both non-null.
inline int quorStricmp(const char* a, const char* b) { return ::strcasecmp(a, b); }

// Same for at most n bytes.
inline int quorStrnicmp(const char* a, const char* b, size_t n) { return ::strncasecmp(a, b, n); }

// Path separator of the platform.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Turns a path written with either separator into the platform's form.
inline std::string toNativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\' || c == '/') c = kPathSeparator;
  }
  return out;
}

}  // namespace quor::port

// The runtime names the interface was written against, for code that keeps
// their call shape.
#define quorSnprintf std::snprintf

#endif  // QUORPOLICY_PORT_PORT_H_
