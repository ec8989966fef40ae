// A temporary installation root for the common runtime tests: makes a fresh
// folder with config/ inside, points QUOR_HOME at it and removes both when
// it goes away (restoring the previous QUOR_HOME).
#ifndef QUORPOLICY_TESTS_QUORCOMMON_TEMPROOT_H_
#define QUORPOLICY_TESTS_QUORCOMMON_TEMPROOT_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace quor::test {

class TempRoot {
 public:
  TempRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorcommonXXXXXX").string();
    char* made = ::mkdtemp(tmpl.data());
    if (made == nullptr) std::abort();
    _root = made;
    std::filesystem::create_directories(_root / "config");
    if (const char* old = std::getenv("QUOR_HOME")) _previous = old;
    ::setenv("QUOR_HOME", _root.c_str(), 1);
  }
  ~TempRoot() {
    if (_previous) {
      ::setenv("QUOR_HOME", _previous->c_str(), 1);
    } else {
      ::unsetenv("QUOR_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(_root, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& root() const { return _root; }
  std::filesystem::path config(const std::string& name) const { return _root / "config" / name; }

  static void write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path _root;
  std::optional<std::string> _previous;
};

// Runs `body` in a forked child that exits with body's result; returns the
// child's pid (negative if the fork failed).
template <class Body>
pid_t spawnChild(Body&& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// Waits for `pid` and returns its exit status, or -1 if it never started or
// did not exit normally.
inline int waitExit(pid_t pid) {
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_QUORCOMMON_TEMPROOT_H_
