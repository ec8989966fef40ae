// File-system primitives that differ between platforms, for the common
// runtime library's settings writer, named locks and credential key file:
//  - FileLock: an exclusive advisory lock on a lock file, shared between
//    processes (flock on POSIX; the lock is released when the object dies or
//    the process ends, so a crashed writer never leaves it held);
//  - replaceFileDurably: writes a whole file through a temporary file in the
//    same folder, flushes it to disk and renames it over the target, so that
//    readers and a crash see either the old or the new contents;
//  - removeStaleTemporaries: removes what interrupted replacements left;
//  - resolveLinks: the file a path finally names, symbolic links followed;
//  - createPrivateFileAtomically: publishes a whole owner-only file under a
//    name only when no file has that name yet;
//  - readTerminalNoEcho: reads one line from the terminal without echo.
// All paths are native paths (see toNativePath in Port.h).
#ifndef QUORPOLICY_PORT_PORTFILE_H_
#define QUORPOLICY_PORT_PORTFILE_H_

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <dirent.h>
#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

namespace quor::port {

// Holds an exclusive lock on `path` (created when missing, mode 0644) from a
// successful lock() until unlock() or destruction. Two FileLock objects on
// the same path exclude each other, in one process or in two. The lock file
// is opened read-only, so a lock file made by another account (root running
// an administration command) still serves the account that owns the data.
class FileLock {
 public:
  explicit FileLock(std::string path) : _path(std::move(path)) {}
  ~FileLock() { unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Blocks until the lock is held. Returns 0, or the errno of the failure
  // (e.g. EACCES/EROFS when the lock file cannot be created).
  int lock() {
    if (_fd >= 0) return 0;
    int fd = ::open(_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int err = errno;
        ::close(fd);
        return err;
      }
    }
    _fd = fd;
    return 0;
  }

  // Returns 0, or EWOULDBLOCK when another holder has the lock.
  int tryLock() {
    if (_fd >= 0) return 0;
    int fd = ::open(_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      ::close(fd);
      return err;
    }
    _fd = fd;
    return 0;
  }

  // Returns 0, or -1 when the lock was not held.
  int unlock() {
    if (_fd < 0) return -1;
    ::flock(_fd, LOCK_UN);
    ::close(_fd);
    _fd = -1;
    return 0;
  }

  bool held() const { return _fd >= 0; }
  const std::string& path() const { return _path; }

 private:
  std::string _path;
  int _fd = -1;
};

namespace detail {
inline bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}
}  // namespace detail

// Temporary files of replaceFileDurably are named "<path>.tmp" followed by
// six letters or digits.
inline constexpr std::string_view kTempInfix = ".tmp";
inline constexpr std::size_t kTempRandomChars = 6;

namespace detail {
inline std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

inline void syncFolder(const std::string& dir) {
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

// Writes `contents` to a new temporary file "<path>.tmpXXXXXX" with `mode`
// and flushes it to disk. Returns 0 with its name in `tmp`, or an errno
// (then no temporary remains). When `owner` is given, the file gets that
// owner and group first; failing that (EPERM for a user who may not give
// files away) is a failure.
inline int writeTemporary(const std::string& path, std::string_view contents, mode_t mode,
                          const struct stat* owner, std::string& tmp) {
  tmp = path + std::string(kTempInfix) + std::string(kTempRandomChars, 'X');
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return errno;
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return err;
  };
  struct stat mine {};
  if (::fstat(fd, &mine) != 0) return fail(errno);
  // Changing the owner clears set-id bits, so the mode comes after it.
  if (owner != nullptr && (mine.st_uid != owner->st_uid || mine.st_gid != owner->st_gid) &&
      ::fchown(fd, owner->st_uid, owner->st_gid) != 0) {
    return fail(errno);
  }
  if (::fchmod(fd, mode) != 0) return fail(errno);
  if (!writeAll(fd, contents)) return fail(errno);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return err;
  }
  return 0;
}
}  // namespace detail

// The file that `path` finally names: symbolic links are followed (relative
// ones from the folder of the link) until a name that is not a link. A path
// that does not exist is returned as it is. Returns 0, or an errno (ENOENT
// for a link to nothing, ELOOP for too many links).
inline int resolveLinks(const std::string& path, std::string& target) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) {
    target = resolved;
    return 0;
  }
  int err = errno;
  struct stat st {};
  if (err == ENOENT && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    target = path;
    return 0;
  }
  return err;
}

// Replaces the file at `path` with `contents`. The new file keeps the owner,
// group and mode of the old one (a new file gets the writer's and 0644).
// Returns 0, or the errno of the step that failed (EPERM when the owner or
// group cannot be kept); on failure the old file is untouched and no
// temporary remains. REQUIRES: `path` is not a symbolic link (see
// resolveLinks): the link itself would be replaced.
inline int replaceFileDurably(const std::string& path, std::string_view contents) {
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  const mode_t mode = existed ? (old.st_mode & 07777) : 0644;
  std::string tmp;
  if (int err = detail::writeTemporary(path, contents, mode, existed ? &old : nullptr, tmp);
      err != 0) {
    return err;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return err;
  }
  // Make the rename itself durable.
  detail::syncFolder(detail::folderOf(path));
  return 0;
}

// Removes the temporary files that replaceFileDurably left for `path` when
// it was interrupted (by a crash, a kill or a power cut). Temporaries of other
// files are left alone. REQUIRES: the caller holds the lock that every
// writer of `path` holds while it replaces the file, so that no temporary
// found is still being written.
inline void removeStaleTemporaries(const std::string& path) {
  const std::string dir = detail::folderOf(path);
  const std::string prefix =
      (path.find('/') == std::string::npos ? path : path.substr(path.find_last_of('/') + 1)) +
      std::string(kTempInfix);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const struct dirent* e = ::readdir(d)) {
    std::string_view name(e->d_name);
    if (name.size() != prefix.size() + kTempRandomChars || name.substr(0, prefix.size()) != prefix) {
      continue;
    }
    bool random = true;
    for (char c : name.substr(prefix.size())) {
      random = random && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    }
    const std::string full = dir + "/" + std::string(name);
    struct stat st {};
    if (random && ::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(full.c_str());
  }
  ::closedir(d);
}

// Publishes `contents` as the file `path` with owner-only permissions
// (0600), whole or not at all: the data is written and flushed under a
// temporary name and then linked to `path`, so that no reader ever sees a
// partial file and, when several processes race, the first link wins.
// Returns 0, EEXIST when a file of that name already exists (this call then
// changed nothing), or another errno.
inline int createPrivateFileAtomically(const std::string& path, std::string_view contents) {
  std::string tmp;
  if (int err = detail::writeTemporary(path, contents, 0600, nullptr, tmp); err != 0) return err;
  int err = ::link(tmp.c_str(), path.c_str()) == 0 ? 0 : errno;
  ::unlink(tmp.c_str());
  if (err == 0) detail::syncFolder(detail::folderOf(path));
  return err;
}

// True when standard input is a terminal.
inline bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

// Reads one line from standard input, without echo when it is a terminal.
// The line end is not stored. Returns false at end of input.
inline bool readLineNoEcho(std::string& line) {
  bool tty = stdinIsTerminal();
  struct termios saved {};
  if (tty && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  } else {
    tty = false;
  }
  bool got = static_cast<bool>(std::getline(std::cin, line));
  if (tty) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
  }
  if (got && !line.empty() && line.back() == '\r') line.pop_back();
  return got;
}

}  // namespace quor::port

#endif  // QUORPOLICY_PORT_PORTFILE_H_
