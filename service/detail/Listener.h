// Accepts connections and hands them to sessions: the client must be allowed
// and the connection limit not reached, else the connection is closed at
// once and counted. Accepting that fails (mostly: out of descriptors) pauses
// for 100 ms, doubling up to a second, with one log line at the start and
// one at the end of each episode.
//
// Thread safety: runs on a strand of its own, so accepting, pausing and
// closing never overlap; close() may be called from any thread.
#ifndef QUORPOLICY_SERVICE_DETAIL_LISTENER_H_
#define QUORPOLICY_SERVICE_DETAIL_LISTENER_H_

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "service/Log.h"
#include "service/detail/Asio.h"
#include "service/detail/Session.h"
#include "service/detail/Shared.h"

namespace quor::service::detail {

template <typename Acceptor>
class Listener {
 public:
  Listener(asio::io_context& io, Acceptor acceptor, Shared& shared, SessionSet& sessions)
      : _io(io),
        _strand(asio::make_strand(io)),
        _acceptor(std::move(acceptor)),
        _pause(_strand),
        _shared(shared),
        _sessions(sessions) {}

  void accept() {
    _acceptor.async_accept(asio::make_strand(_io),
                           asio::bind_executor(_strand, [this](ErrorCode ec, auto socket) {
                             this->accepted(ec, std::move(socket));
                           }));
  }

  void close() {
    asio::post(_strand, [this] {
      _closed = true;
      _pause.cancel();
      ErrorCode ignored;
      _acceptor.close(ignored);
    });
  }

 private:
  template <typename Socket>
  void accepted(const ErrorCode& ec, Socket socket) {
    if (_closed) return;
    if (ec == asio::error::connection_aborted) return accept();  // the client gave up
    if (ec) {
      if (ec != asio::error::operation_aborted && !_shared.stopping) pause(ec);
      return;
    }
    if (_failures > 0) {
      say("accepting again after %llu failed accepts in %lld ms",
          static_cast<unsigned long long>(_failures),
          static_cast<long long>(
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - _since)
                  .count()));
      _failures = 0;
      _delay = {};
    }
    if (admit(socket)) {
      std::make_shared<Session<Socket>>(std::move(socket), _shared, _sessions)->start();
    } else {
      ErrorCode ignored;
      socket.close(ignored);
    }
    accept();
  }

  // Accepting fails mostly when the process is out of descriptors; trying
  // again at once would fail again at once. New connections wait in the
  // backlog meanwhile, and the log says so once per episode.
  void pause(const ErrorCode& ec) {
    if (_failures++ == 0) {
      _since = Clock::now();
      say("accept failed: %s; pausing new connections (%zu open)", ec.message().c_str(),
          _shared.open.load());
    }
    _delay = std::clamp(_delay * 2, kMinPause, kMaxPause);
    _pause.expires_after(_delay);
    _pause.async_wait([this](ErrorCode waitEc) {
      if (!waitEc && !_closed) accept();
    });
  }

  // Whether a new connection may stay: its client is allowed and the limit
  // is not reached. Counts it as open when it may.
  template <typename Socket>
  bool admit(Socket& socket) {
    if constexpr (std::is_same_v<Acceptor, asio::ip::tcp::acceptor>) {
      ErrorCode ec;
      const auto peer = socket.remote_endpoint(ec);
      if (ec) return false;
      if (!_shared.allowFrom.empty() &&
          std::none_of(_shared.allowFrom.begin(), _shared.allowFrom.end(),
                       [&](const AddressBlock& b) { return b.contains(peer.address()); })) {
        _shared.connections.notAllowed.fetch_add(1, std::memory_order_relaxed);
        return false;
      }
      socket.set_option(asio::socket_base::keep_alive(_shared.net.keepAlive), ec);
      socket.set_option(asio::ip::tcp::no_delay(true), ec);
    }
    if (_shared.open.load() >= _shared.maxConnections) {
      _shared.connections.overLimit.fetch_add(1, std::memory_order_relaxed);
      if (!_atLimit) {
        say("%zu connections open, the limit: more are closed at once", _shared.maxConnections);
      }
      _atLimit = true;
      return false;
    }
    _atLimit = false;
    _shared.open.fetch_add(1, std::memory_order_relaxed);
    return true;
  }

  static constexpr std::chrono::milliseconds kMinPause{100}, kMaxPause{1000};

  asio::io_context& _io;
  asio::strand<asio::io_context::executor_type> _strand;
  Acceptor _acceptor;
  asio::steady_timer _pause;
  Shared& _shared;
  SessionSet& _sessions;
  bool _closed = false;
  bool _atLimit = false;
  std::uint64_t _failures = 0;  // in the current episode
  Clock::time_point _since;
  std::chrono::milliseconds _delay{0};
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_LISTENER_H_
