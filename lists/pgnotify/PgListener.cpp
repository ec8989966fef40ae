#include "lists/pgnotify/PgListener.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

namespace quor::lists {
namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
// While nothing arrives, the loop wakes this often; it has nothing to do
// then but is never stuck in one wait for long.
constexpr std::chrono::seconds kIdleWake{30};

struct Finish {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, Finish>;

std::string errorOf(PGconn* c) {
  std::string text = c != nullptr ? PQerrorMessage(c) : "out of memory";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "unknown failure" : text;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string libpqConninfo(const std::vector<std::pair<std::string, std::string>>& odbcAttributes) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"servername", "host"},   {"server", "host"},   {"host", "host"}, {"port", "port"},
      {"database", "dbname"},   {"username", "user"}, {"uid", "user"},  {"user", "user"},
      {"password", "password"}, {"pwd", "password"}};
  std::string out;
  for (const auto& [key, value] : odbcAttributes) {
    const std::string k = lowerAscii(key);
    for (const auto& [odbc, libpq] : kNames) {
      if (k != odbc) continue;
      out += (out.empty() ? "" : " ") + std::string(libpq) + "='";
      for (const char c : value) {
        if (c == '\\' || c == '\'') out.push_back('\\');
        out.push_back(c);
      }
      out += "'";
    }
  }
  return out;
}

PgListener::PgListener(std::string conninfo, Options options, Callbacks callbacks)
    : _conninfo(std::move(conninfo)),
      _options(std::move(options)),
      _callbacks(std::move(callbacks)) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make a pipe");
  _wakeRead = fds[0];
  _wakeWrite = fds[1];
  _thread = std::thread([this] { run(); });
}

PgListener::~PgListener() {
  stop();
  ::close(_wakeRead);
  ::close(_wakeWrite);
}

void PgListener::stop() {
  if (!_stopping.exchange(true)) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(_wakeWrite, &c, 1);
  }
  if (_thread.joinable()) _thread.join();
}

int PgListener::waitFor(int fd, short events, std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{_wakeRead, POLLIN, 0}, {fd, events, 0}};
  const int count = fd >= 0 ? 2 : 1;
  const int ms = static_cast<int>(std::max<long long>(0, timeout.count()));
  const int r = ::poll(fds, count, ms);
  if (_stopping.load() || (r > 0 && fds[0].revents != 0)) return -1;
  if (r <= 0) return 0;  // timed out (or interrupted: the caller waits again)
  return fds[1].revents != 0 ? 1 : 0;
}

bool PgListener::listenOnce(bool afterLoss, std::string& why) {
  // The caller's connection string first; the keepalive settings after it
  // win over its own.
  const char* keys[] = {"dbname",
                        "connect_timeout",
                        "keepalives",
                        "keepalives_idle",
                        "keepalives_interval",
                        "keepalives_count",
                        nullptr};
  const std::string timeout = std::to_string(kConnectTimeout.count());
  const char* values[] = {_conninfo.c_str(), timeout.c_str(), "1", "30", "10", "3", nullptr};
  Connection c(PQconnectStartParams(keys, values, 1));
  if (c == nullptr || PQstatus(c.get()) == CONNECTION_BAD) {
    why = errorOf(c.get());
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) {
      why = errorOf(c.get());
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ready =
        waitFor(PQsocket(c.get()), state == PGRES_POLLING_READING ? POLLIN : POLLOUT, left);
    if (ready < 0) return false;
    if (ready == 0 && left.count() <= 0) {
      why = "connecting took longer than " + timeout + " s";
      return false;
    }
    if (ready > 0) state = PQconnectPoll(c.get());
  }

  // The server's notices (for example on a terminated backend) are not
  // for the log of whoever listens: a loss is reported through `lost`.
  PQsetNoticeProcessor(
      c.get(), [](void*, const char*) {}, nullptr);
  char* channel = PQescapeIdentifier(c.get(), _options.channel.c_str(), _options.channel.size());
  if (channel == nullptr) {
    why = errorOf(c.get());
    return false;
  }
  const std::string listen = std::string("LISTEN ") + channel;
  PQfreemem(channel);
  PGresult* result = PQexec(c.get(), listen.c_str());
  const bool listening = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  if (!listening) {
    why = errorOf(c.get());
    return false;
  }
  _pid = PQbackendPID(c.get());
  if (_callbacks.connected) _callbacks.connected(afterLoss);

  while (true) {
    const int ready = waitFor(PQsocket(c.get()), POLLIN, kIdleWake);
    if (ready < 0) break;
    if (ready == 0) continue;
    if (PQconsumeInput(c.get()) == 0 || PQstatus(c.get()) == CONNECTION_BAD) {
      why = errorOf(c.get());
      break;
    }
    while (PGnotify* n = PQnotifies(c.get())) {
      const std::string payload = n->extra != nullptr ? n->extra : "";
      PQfreemem(n);
      if (_callbacks.notified) _callbacks.notified(payload);
    }
  }
  _pid = 0;
  return true;
}

void PgListener::run() {
  bool afterLoss = false;
  bool reported = false;
  std::chrono::milliseconds wait = _options.firstRetry;
  while (!_stopping.load()) {
    std::string why;
    const bool listened = listenOnce(afterLoss, why);
    if (_stopping.load()) break;
    if (listened) {
      reported = false;
      wait = _options.firstRetry;
    }
    if (!reported && _callbacks.lost) _callbacks.lost(why);
    reported = true;
    afterLoss = true;
    if (waitFor(-1, 0, wait) < 0) break;
    wait = std::min(wait * 2, _options.maxRetry);
  }
}

}  // namespace quor::lists
