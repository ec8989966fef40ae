// One client connection: reads requests, answers them from the lists in use,
// and keeps the time-outs. A session lives on a strand of its own, so its
// handlers never run at the same time; it owns itself through the
// shared_ptr its handlers hold and ends when the connection closes.
#ifndef QUORPOLICY_SERVICE_DETAIL_SESSION_H_
#define QUORPOLICY_SERVICE_DETAIL_SESSION_H_

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "service/Log.h"
#include "service/PolicyProtocol.h"
#include "service/detail/Asio.h"
#include "service/detail/Shared.h"

namespace quor::service::detail {

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Ends the connection when it waits for a request; a connection in the
  // middle of one ends after answering it.
  virtual void stop() = 0;
};

// Open connections, so that a stop can reach them. Thread-safe.
class SessionSet {
 public:
  void add(const std::shared_ptr<SessionBase>& s) {
    std::lock_guard<std::mutex> lock(_mutex);
    _sessions.insert(s);
  }
  void remove(const std::shared_ptr<SessionBase>& s) {
    std::lock_guard<std::mutex> lock(_mutex);
    _sessions.erase(s);
  }
  void stopAll() {
    std::vector<std::shared_ptr<SessionBase>> all;
    {
      std::lock_guard<std::mutex> lock(_mutex);
      all.assign(_sessions.begin(), _sessions.end());
    }
    for (const auto& s : all) s->stop();
  }

 private:
  std::mutex _mutex;
  std::unordered_set<std::shared_ptr<SessionBase>> _sessions;
};

template <typename Socket>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Socket>> {
 public:
  Session(Socket socket, Shared& shared, SessionSet& sessions)
      : _socket(std::move(socket)),
        _timer(_socket.get_executor()),
        _shared(shared),
        _sessions(sessions) {}

  void start() {
    _sessions.add(this->shared_from_this());
    asio::dispatch(_socket.get_executor(), [self = this->shared_from_this()] { self->read(); });
  }

  void stop() override {
    asio::post(_socket.get_executor(), [self = this->shared_from_this()] {
      self->_stopRequested = true;
      if (!self->_writing && !self->_buffer.pending()) self->close();
    });
  }

 private:
  void read() {
    if (_closed) return;
    if (_stopRequested && !_buffer.pending()) return close();
    // The time-out covers a whole request, not each read: a client that
    // trickles its bytes is let go like one that sends nothing.
    const unsigned limit = _shared.net.recvTimeoutSecs;
    if (!_requestDeadline && limit > 0)
      _requestDeadline = Clock::now() + std::chrono::seconds(limit);
    if (_requestDeadline) arm(*_requestDeadline, limit, true);
    _socket.async_read_some(asio::buffer(_in),
                            [self = this->shared_from_this()](ErrorCode ec, std::size_t n) {
                              self->_timer.cancel();
                              if (ec) return self->close();
                              if (!self->_started) self->_started.emplace(Clock::now());
                              self->_buffer.append(std::string_view(self->_in.data(), n));
                              self->answer();
                            });
  }

  // Answers every complete request received so far, then writes them. A
  // request the server does not understand ends the connection without an
  // answer, so that the SMTP server applies its own default.
  void answer() {
    std::string out;
    while (auto parsed = _buffer.next()) {
      if (parsed->kind != ParsedRequest::Request) {
        say("request from %s not understood, connection closed without an answer: %s",
            peer().c_str(), parsed->error.c_str());
        _shared.stats.malformed();
        return close();
      }
      // The lists at the time of the request; a reload swaps in new ones
      // for later requests while this one finishes on these.
      const std::shared_ptr<const lists::ListSet> lists = _shared.lists.current();
      const std::shared_ptr<const lists::DbPolicy> db = _shared.db.load();
      const PolicyDecision d = decide(lists.get(), db.get(), parsed->request, _shared.decision);
      if (_shared.logDecisions || d.kind == PolicyDecision::Reject) {
        say("%s", decisionLogLine(lists.get(), parsed->request, d).c_str());
      }
      _kinds.push_back(d.kind);
      out += d.action;
      out += "\n\n";
    }
    if (out.empty()) return read();
    write(std::move(out));
  }

  std::string peer() {
    std::string name = "local client";
    if constexpr (std::is_same_v<typename Socket::protocol_type, asio::ip::tcp>) {
      ErrorCode ec;
      const auto endpoint = _socket.remote_endpoint(ec);
      if (!ec) name = endpoint.address().to_string();
    }
    return name;
  }

  void write(std::string out) {
    _out = std::move(out);
    _writing = true;
    const unsigned limit = _shared.net.sendTimeoutSecs;
    if (limit > 0) arm(Clock::now() + std::chrono::seconds(limit), limit, false);
    asio::async_write(_socket, asio::buffer(_out),
                      [self = this->shared_from_this()](ErrorCode ec, std::size_t) {
                        self->_timer.cancel();
                        self->_writing = false;
                        if (ec) return self->close();
                        self->written();
                      });
  }

  // The answers are out: they count, and the next request's time starts.
  void written() {
    const auto latency = Clock::now() - _started.value_or(Clock::now());
    for (const auto kind : _kinds) _shared.stats.record(kind, latency);
    _kinds.clear();
    _started.reset();
    _requestDeadline.reset();
    if (_buffer.pending()) _started.emplace(Clock::now());
    read();
  }

  void arm(Clock::time_point until, unsigned seconds, bool reading) {
    _timer.expires_at(until);
    _timer.async_wait([self = this->shared_from_this(), seconds, reading](ErrorCode ec) {
      if (ec) return;  // cancelled: the operation finished in time
      const char* what = !reading                  ? "answer not taken"
                         : self->_buffer.pending() ? "request not complete"
                                                   : "no request";
      say("connection closed: %s within %u s", what, seconds);
      self->close();
    });
  }

  void close() {
    if (_closed) return;
    _closed = true;
    ErrorCode ignored;
    _timer.cancel();
    _socket.shutdown(asio::socket_base::shutdown_both, ignored);
    _socket.close(ignored);
    _shared.open.fetch_sub(1, std::memory_order_relaxed);
    _sessions.remove(this->shared_from_this());
  }

  Socket _socket;
  asio::steady_timer _timer;
  Shared& _shared;
  SessionSet& _sessions;
  std::array<char, 8192> _in{};
  RequestBuffer _buffer;
  std::string _out;
  std::vector<PolicyDecision::Kind> _kinds;
  std::optional<Clock::time_point> _started;
  std::optional<Clock::time_point> _requestDeadline;
  bool _writing = false;
  bool _stopRequested = false;
  bool _closed = false;
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_SESSION_H_
