// Entry point of the QuorPolicy shared library.
//
// On Windows the loader calls DllMain; the library asks not to be told about
// threads attaching and detaching, since it keeps no per-thread state. The
// library's static objects are built by the C++ runtime before DllMain (and
// on POSIX before the library's first use), in the order their translation
// units define.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#else
namespace {
// Identifies the build in `strings libQuorPolicy.so` output.
[[maybe_unused]] const char kLibraryIdent[] = "QuorPolicy " QUORPOLICY_VERSION_TEXT;
}  // namespace
#endif
