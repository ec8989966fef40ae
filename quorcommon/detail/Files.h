// File helpers shared by the configuration file, the settings stores, the
// resource bundle lookup and the credential key: reading a whole file,
// resolving names under the installation root, and the locked, atomic
// update of one setting.
#ifndef QUORPOLICY_QUORCOMMON_DETAIL_FILES_H_
#define QUORPOLICY_QUORCOMMON_DETAIL_FILES_H_

#include <cstddef>
#include <string>

namespace quor::common::detail {

// Files larger than this are refused rather than read into memory.
inline constexpr std::size_t kMaxConfigFileBytes = 16u << 20;

// Reads the whole file at `path` (any separators). Returns 0, or an errno
// value (EFBIG for a file above kMaxConfigFileBytes).
int readWholeFile(const std::string& path, std::string& contents,
                  std::size_t limit = kMaxConfigFileBytes);

// The installation root from QUOR_HOME without a trailing separator, or an
// empty text when it is unset or empty.
std::string quorHomeDir();

// Where the settings file `file` lives: a name without separators lies in
// <QUOR_HOME>/config/; a path with separators is used as given. Native
// separators. Empty when `file` is null or empty, or when the root is
// needed and unset.
std::string resolveSettingsPath(const char* file);

// Sets section/key to value in the file at `path` (native), keeping every
// other line. When `path` is a symbolic link, the file it links to is
// written and the link stays. Holds an exclusive lock on "<file>.lock"
// while it reads, edits and atomically replaces the file, so concurrent
// writers in any process never lose each other's updates; temporaries left
// by an interrupted earlier write are removed under that lock. The file
// keeps its owner, group and mode. A missing file is created.
// Returns 0, or an errno value (EINVAL when the texts cannot be stored,
// EPERM when the owner or group cannot be kept); on failure the file is
// unchanged.
int updateSettingInFile(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

}  // namespace quor::common::detail

#endif  // QUORPOLICY_QUORCOMMON_DETAIL_FILES_H_
