#include "console/Sessions.h"

#include <sodium.h>

#include <algorithm>

namespace quor::console {
namespace {
// A failure table of attackers cycling names or addresses stays bounded.
constexpr std::size_t kMaxTracked = 10000;
constexpr unsigned kMaxDoublings = 5;  // 250 ms * 2^5 = 8 s
}  // namespace

std::string randomToken() {
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char hex[sizeof bytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  return hex;
}

SessionStore::SessionStore(std::chrono::seconds idle, std::size_t maxSessions)
    : _idle(idle), _max(std::max<std::size_t>(maxSessions, 1)) {}

std::string SessionStore::open(std::uint32_t adminId) {
  std::string key = randomToken();
  Session session{adminId, randomToken()};
  std::lock_guard<std::mutex> lock(_mutex);
  const Clock::time_point now = _now();
  if (_sessions.size() >= _max) {
    auto oldest = std::min_element(
        _sessions.begin(), _sessions.end(),
        [](const auto& a, const auto& b) { return a.second.lastUsed < b.second.lastUsed; });
    _sessions.erase(oldest);
  }
  _sessions[key] = Entry{std::move(session), now};
  return key;
}

std::optional<Session> SessionStore::use(const std::string& key) {
  std::lock_guard<std::mutex> lock(_mutex);
  auto it = _sessions.find(key);
  if (it == _sessions.end()) return std::nullopt;
  const Clock::time_point now = _now();
  if (now - it->second.lastUsed > _idle) {
    _sessions.erase(it);
    return std::nullopt;
  }
  it->second.lastUsed = now;
  return it->second.session;
}

void SessionStore::close(const std::string& key) {
  std::lock_guard<std::mutex> lock(_mutex);
  _sessions.erase(key);
}

std::chrono::milliseconds SignInThrottle::fail(const std::string& name, const std::string& client) {
  std::lock_guard<std::mutex> lock(_mutex);
  if (_byName.size() > kMaxTracked) _byName.clear();
  if (_byClient.size() > kMaxTracked) _byClient.clear();
  const unsigned n = std::max(++_byName[name], ++_byClient[client]);
  return std::chrono::milliseconds(250) * (1u << std::min(n - 1, kMaxDoublings));
}

void SignInThrottle::succeed(const std::string& name) {
  std::lock_guard<std::mutex> lock(_mutex);
  _byName.erase(name);
}

}  // namespace quor::console
