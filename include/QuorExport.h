// Export macros of the three shared libraries: QuorPolicy, QuorDataAccess
// and QuorCommon. Each library is built with its *_BUILDING macro defined;
// users of the installed headers define nothing. On ELF platforms the
// libraries are compiled with hidden visibility, so only what is marked with
// these macros is exported.
#ifndef QUORPOLICY_INCLUDE_QUOREXPORT_H_
#define QUORPOLICY_INCLUDE_QUOREXPORT_H_

#if defined(_WIN32)
#define QUOR_DLL_EXPORT __declspec(dllexport)
#define QUOR_DLL_IMPORT __declspec(dllimport)
#else
#define QUOR_DLL_EXPORT __attribute__((visibility("default")))
#define QUOR_DLL_IMPORT __attribute__((visibility("default")))
#endif

#if defined(QUORPOLICY_BUILDING)
#define QUORPOLICY_API QUOR_DLL_EXPORT
#else
#define QUORPOLICY_API QUOR_DLL_IMPORT
#endif

#if defined(QUORDATAACCESS_BUILDING)
#define QUOR_DATAACCESS_API QUOR_DLL_EXPORT
#else
#define QUOR_DATAACCESS_API QUOR_DLL_IMPORT
#endif

#if defined(QUORCOMMON_BUILDING)
#define QUOR_COMMON_API QUOR_DLL_EXPORT
#else
#define QUOR_COMMON_API QUOR_DLL_IMPORT
#endif

// printf-style argument checking for logging and formatting functions.
#if defined(__GNUC__) || defined(__clang__)
#define QUOR_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define QUOR_PRINTF_FORMAT(fmt, first)
#endif

#endif  // QUORPOLICY_INCLUDE_QUOREXPORT_H_
