// File-system primitives that differ between platforms, for the common
// runtime library's settings writer, named locks and credential key file:
//  - FileLock: an exclusive advisory lock on a lock file, shared between
//    processes (flock on POSIX; the lock is released when the object dies or
//    the process ends, so a crashed writer never leaves it held);
//  - replaceFileDurably: writes a whole file through a temporary file in the
//    same folder, flushes it to disk and renames it over the target, so that
//    readers and a crash see either the old or the new contents;
//  - createPrivateFile: creates a file readable by its owner only;
//  - readTerminalNoEcho: reads one line from the terminal without echo.
// All paths are native paths (see toNativePath in Port.h).
#ifndef QUORPOLICY_PORT_PORTFILE_H_
#define QUORPOLICY_PORT_PORTFILE_H_

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

namespace quor::port {

// Holds an exclusive lock on `path` (created when missing, mode 0644) from a
// successful lock() until unlock() or destruction. Two FileLock objects on
// the same path exclude each other, in one process or in two.
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
    int fd = ::open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
    int fd = ::open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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

// Replaces the file at `path` with `contents`. The new file keeps the mode of
// the old one (0644 when there was none). Returns 0, or the errno of the step
// that failed; on failure the old file is untouched and no temporary remains.
inline int replaceFileDurably(const std::string& path, std::string_view contents) {
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string dir = ".";
  if (auto slash = path.find_last_of('/'); slash != std::string::npos) {
    dir = slash == 0 ? "/" : path.substr(0, slash);
  }
  std::string tmpl = path + ".tmpXXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return errno;
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    return err;
  };
  if (::fchmod(fd, mode) != 0) return fail(errno);
  if (!detail::writeAll(fd, contents)) return fail(errno);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return err;
  }
  if (::rename(tmpl.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return err;
  }
  // Make the rename itself durable.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

// Creates `path` with owner-only permissions (0600) and writes `contents`.
// Returns 0, EEXIST when the file already exists, or another errno.
inline int createPrivateFile(const std::string& path, std::string_view contents) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  bool ok = detail::writeAll(fd, contents) && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
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
