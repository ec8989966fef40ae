// Sessions of the web console, and the slowing down of failed sign-ins.
//
// A session is kept on the server, keyed by 256 random bits (libsodium),
// which the browser holds in an HttpOnly cookie. Each session has its own
// CSRF token, which every state-changing request repeats in a header. A
// session ends when signed out or when unused for the idle time.
//
// Failed sign-ins are counted per administrator name and per client address;
// the answer to a failed attempt waits the longer of the two delays, which
// doubles with each failure up to a bound. A success clears the name's count.
//
// Thread safety: both classes may be used from any thread (one mutex each).
#ifndef QUORPOLICY_CONSOLE_SESSIONS_H_
#define QUORPOLICY_CONSOLE_SESSIONS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quor::console {

struct Session {
  std::uint32_t adminId = 0;
  std::string csrf;
};

// 32 random bytes as 64 lowercase hex digits.
std::string randomToken();

class SessionStore {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SessionStore(std::chrono::seconds idle, std::size_t maxSessions = 10000);

  // A new session's key; the oldest session goes when the store is full.
  std::string open(std::uint32_t adminId);
  // The session of `key` when it exists and has not been idle too long; its
  // idle time starts again.
  std::optional<Session> use(const std::string& key);
  void close(const std::string& key);

  // For tests: the clock the store reads.
  void setClock(std::function<Clock::time_point()> now) { _now = std::move(now); }

 private:
  struct Entry {
    Session session;
    Clock::time_point lastUsed;
  };
  std::mutex _mutex;
  std::map<std::string, Entry> _sessions;
  std::chrono::seconds _idle;
  std::size_t _max;
  std::function<Clock::time_point()> _now = [] { return Clock::now(); };
};

class SignInThrottle {
 public:
  // How long the answer to a failed attempt by `name` from `client` waits,
  // counting this failure.
  std::chrono::milliseconds fail(const std::string& name, const std::string& client);
  void succeed(const std::string& name);

 private:
  std::mutex _mutex;
  std::map<std::string, unsigned> _byName;
  std::map<std::string, unsigned> _byClient;
};

}  // namespace quor::console

#endif  // QUORPOLICY_CONSOLE_SESSIONS_H_
