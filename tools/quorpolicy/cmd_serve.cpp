// quorpolicy serve: an access policy service for SMTP servers.
//
//   quorpolicy serve --list FIRST.list [--list NEXT.list ...]
//                    [--listen ADDR:PORT [--allow-from CIDR,...] |
//                     --socket PATH [--socket-mode MODE] [--socket-group GROUP]]
//                    [--check sender|recipient|both] [--reject-text TEXT]
//                    [--black-action REJECT|DEFER_IF_PERMIT|WARN]
//                    [--prepend-header NAME] [--recipient-delimiter CHARS]
//                    [--log-decisions] [--max-connections N] [--allow-shrink]
//                    [--user NAME]
//
// Loads the list files as `quorpolicy match` does, freezes them, and answers
// every request of the policy delegation protocol (see PolicyProtocol.h) by
// deciding the sender (and/or the recipient), each address brought to the
// lists' compared form first (AddressNorm.h): black-listed gives the black
// action ("action=REJECT <text>" by default), white-listed "action=OK" (or a
// PREPEND of the decision header), not listed "action=DUNNO". A request the
// service does not understand is logged and its connection closed without an
// answer, so that the SMTP server applies its own default.
//
// Worker threads, listen backlog, time-outs and keep-alive come from the
// policy server's settings in <QUOR_HOME>/config/quor.ini when QUOR_HOME is
// set and the file exists (read, validated and logged as the policy server
// reads them), built-in defaults otherwise; command-line options override
// both.
//
// Signals: SIGHUP loads the lists again beside the running ones, on a thread
// of its own, and swaps them in; requests in flight finish on the lists they
// started with. A list that fails to load, is still being written (no line
// end after its last line) or would lose more than half of its entries
// (unless --allow-shrink) keeps the old lists. SIGHUPs that arrive during a
// load give one more load. SIGTERM and SIGINT cancel a load in progress, stop
// accepting, let every open request finish and exit 0. Once a minute one line
// reports the requests, decisions and latency of the past minute.
//
// Limits: at most --max-connections connections are open (by default what the
// descriptor limit leaves); more are closed at once and counted. When accept
// fails (the descriptor limit reached after all), new connections wait for
// up to a second, and the log says so once per episode. A request must arrive
// whole within the receive time-out. A TCP address other than loopback needs
// --allow-from; connections from elsewhere are closed at once and counted.
//
// A UNIX socket that still answers belongs to a running server and ends the
// start; a stale one is replaced, and on exit the socket is removed only if
// the file is still this process's. --user drops root's privileges once the
// socket is bound and the lists are loaded.
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "QuorHome.h"
#include "QuorPolicyServerInterface.h"
#include "tools/quorpolicy/Command.h"
#include "lists/ListSet.h"
#include "service/PolicyProtocol.h"

namespace quor::tool {
namespace {

using lists::ListSet;
using service::BlackAction;
using service::CheckWhat;
using service::DecideOptions;
using service::ParsedRequest;
using service::PolicyDecision;
using service::RequestBuffer;
using Clock = std::chrono::steady_clock;
using P = QuorPolicyServerInterface;

// One line on standard error with a UTC time stamp; whole lines, so that
// threads do not interleave within one.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  std::fprintf(stderr, "%s quorpolicy serve: %s\n", stamp, text);
}

struct ServeOptions {
  std::vector<std::string> lists;
  std::string listen = "127.0.0.1:10040";
  std::string socketPath;
  std::string check = "sender";
  std::string rejectText;
  std::string blackAction = "REJECT";
  std::string prependHeader;
  std::string recipientDelimiter;
  bool logDecisions = false;
  std::optional<unsigned> threads, backlog, recvTimeout, sendTimeout;
  std::optional<std::string> keepAlive;
  unsigned statsSeconds = 60;

  // Connections, the socket file, reloads and privileges.
  std::optional<unsigned> maxConnections;
  std::string socketMode = "0660";
  std::string socketGroup;
  std::vector<std::string> allowFrom;
  bool allowShrink = false;
  std::string user;
};

// The network settings the server runs with.
struct NetSettings {
  unsigned int backlog = 100;
  bool keepAlive = true;
  unsigned int recvTimeoutSecs = 60;
  unsigned int sendTimeoutSecs = 60;
  unsigned int threads = 10;
};

// An installation root without a settings file (the package's fresh one) runs
// on the built-in settings; a settings file that cannot be read or is wrong
// stops the start.
NetSettings readSettings(const ServeOptions& o) {
  NetSettings s;
  if (getQuorHome() != nullptr) {
    const std::string file = std::string(getQuorHome()) + "/config/quor.ini";
    std::error_code ec;
    // Only "no such file" counts as absent: a folder that cannot be searched
    // goes on to the reader and fails there.
    if (std::filesystem::symlink_status(file, ec).type() == std::filesystem::file_type::not_found) {
      say("no settings file %s: running on the built-in settings", file.c_str());
    } else {
      // The reader fills only what it reads; the rest keeps these values.
      unsigned int port = 5060, maxThreads = 50, cacheTTL = 1440;
      P::Protocol protocol = P::HTTP;
      const QuorErrC rc =
          P::getSettingsFromDatabase(s.backlog, s.keepAlive, port, protocol, s.recvTimeoutSecs,
                                     s.sendTimeoutSecs, s.threads, maxThreads, cacheTTL, false);
      if (rc != 0) {
        throw CommandError(kExitFailure, "serve: the policy server settings in " + file +
                                             " could not be read (code " + std::to_string(rc) +
                                             ")");
      }
    }
  }
  if (o.threads) s.threads = *o.threads;
  if (o.backlog) s.backlog = *o.backlog;
  if (o.recvTimeout) s.recvTimeoutSecs = *o.recvTimeout;
  if (o.sendTimeout) s.sendTimeoutSecs = *o.sendTimeout;
  if (o.keepAlive) s.keepAlive = *o.keepAlive == "yes";
  return s;
}

// Requests, decisions and latency since the last report. Lock-free: every
// worker adds to the same counters.
class Stats {
 public:
  void record(PolicyDecision::Kind kind, Clock::duration latency) {
    _requests.fetch_add(1, std::memory_order_relaxed);
    _byKind[kind].fetch_add(1, std::memory_order_relaxed);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(latency).count();
    _buckets[bucketOf(us < 1 ? 1 : static_cast<std::uint64_t>(us))].fetch_add(
        1, std::memory_order_relaxed);
  }
  void malformed() { _malformed.fetch_add(1, std::memory_order_relaxed); }

  // One report line; resets the counters.
  std::string take(unsigned seconds) {
    std::array<std::uint64_t, kBuckets> counts{};
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
      counts[i] = _buckets[i].exchange(0, std::memory_order_relaxed);
      total += counts[i];
    }
    const auto requests = _requests.exchange(0, std::memory_order_relaxed);
    const auto ok = _byKind[PolicyDecision::Ok].exchange(0, std::memory_order_relaxed);
    const auto reject = _byKind[PolicyDecision::Reject].exchange(0, std::memory_order_relaxed);
    const auto dunno = _byKind[PolicyDecision::Dunno].exchange(0, std::memory_order_relaxed);
    const auto bad = _malformed.exchange(0, std::memory_order_relaxed);
    std::string line = "last " + std::to_string(seconds) + " s: " + std::to_string(requests) +
                       " requests (OK " + std::to_string(ok) + ", REJECT " +
                       std::to_string(reject) + ", DUNNO " + std::to_string(dunno) +
                       ", malformed " + std::to_string(bad) + ")";
    if (total > 0) {
      line += "; latency p50 " + std::to_string(percentile(counts, total, 50)) + " us, p99 " +
              std::to_string(percentile(counts, total, 99)) + " us, max " +
              std::to_string(percentile(counts, total, 100)) + " us";
    }
    return line;
  }

 private:
  // Four buckets per power of two: a percentile is known to within 19%.
  static constexpr std::size_t kBuckets = 4 * 40;
  static std::size_t bucketOf(std::uint64_t us) {
    std::size_t octave = 63 - static_cast<std::size_t>(__builtin_clzll(us));
    const std::uint64_t quarter = octave >= 2 ? (us >> (octave - 2)) & 3 : 0;
    return std::min(kBuckets - 1, octave * 4 + quarter);
  }
  // The upper bound of the bucket that holds the given percentile.
  static std::uint64_t percentile(const std::array<std::uint64_t, kBuckets>& counts,
                                  std::uint64_t total, unsigned pct) {
    const std::uint64_t rank = (total * pct + 99) / 100;
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
      seen += counts[i];
      if (seen >= rank && counts[i] > 0) {
        const std::size_t octave = i / 4, quarter = i % 4;
        if (octave < 2) return std::uint64_t{1} << (octave + 1);
        return (std::uint64_t{4 + quarter + 1}) << (octave - 2);
      }
    }
    return 0;
  }

  std::atomic<std::uint64_t> _requests{0}, _malformed{0};
  std::array<std::atomic<std::uint64_t>, 3> _byKind{};
  std::array<std::atomic<std::uint64_t>, kBuckets> _buckets{};
};

// Connections closed as soon as they were accepted, since the last report.
struct ConnectionCounts {
  std::atomic<std::uint64_t> overLimit{0}, notAllowed{0};

  // The part of the report line; empty when none were closed.
  std::string take() {
    const auto over = overLimit.exchange(0, std::memory_order_relaxed);
    const auto refused = notAllowed.exchange(0, std::memory_order_relaxed);
    if (over == 0 && refused == 0) return "";
    return "; connections closed at once: " + std::to_string(over) + " over the limit, " +
           std::to_string(refused) + " not allowed";
  }
};

// One block of client addresses, as in "192.0.2.0/24" or "2001:db8::/32".
// IPv4 is kept as IPv4-mapped IPv6, so that one comparison serves both.
struct AddressBlock {
  asio::ip::address_v6::bytes_type bytes{};
  unsigned bits = 0;

  static asio::ip::address_v6 mapped(const asio::ip::address& a) {
    return a.is_v4() ? asio::ip::make_address_v6(asio::ip::v4_mapped, a.to_v4()) : a.to_v6();
  }
  bool contains(const asio::ip::address& a) const {
    const auto other = mapped(a).to_bytes();
    for (unsigned i = 0; i < bits; ++i) {
      const unsigned mask = 0x80u >> (i % 8);
      if ((bytes[i / 8] & mask) != (other[i / 8] & mask)) return false;
    }
    return true;
  }
};

// "ADDRESS/BITS" or a bare address; host bits set are refused as a likely
// typing error.
AddressBlock parseAddressBlock(const std::string& text) {
  const auto slash = text.find('/');
  std::error_code ec;
  const auto address = asio::ip::make_address(text.substr(0, slash), ec);
  const unsigned width = address.is_v4() ? 32 : 128;
  unsigned bits = width;
  if (!ec && slash != std::string::npos) {
    const char* first = text.data() + slash + 1;
    const char* last = text.data() + text.size();
    const auto [end, err] = std::from_chars(first, last, bits);
    if (first == last || err != std::errc() || end != last || bits > width) {
      ec = std::make_error_code(std::errc::invalid_argument);
    }
  }
  if (ec)
    throw CommandError(kExitBadInput, "serve: --allow-from: '" + text + "' is not ADDRESS/BITS");
  AddressBlock block;
  block.bytes = AddressBlock::mapped(address).to_bytes();
  block.bits = bits + (width == 32 ? 96 : 0);
  for (unsigned i = block.bits; i < 128; ++i) {
    if ((block.bytes[i / 8] & (0x80u >> (i % 8))) != 0) {
      throw CommandError(kExitBadInput,
                         "serve: --allow-from: '" + text + "' has bits set after its prefix");
    }
  }
  return block;
}

bool isLoopback(const asio::ip::address& a) {
  if (a.is_v4()) return a.to_v4().is_loopback();
  const auto v6 = a.to_v6();
  return v6.is_loopback() ||
         (v6.is_v4_mapped() && asio::ip::make_address_v4(asio::ip::v4_mapped, v6).is_loopback());
}

// What every connection shares.
struct Shared {
  std::atomic<std::shared_ptr<const ListSet>> lists;
  DecideOptions decision;
  bool logDecisions = false;
  NetSettings net;
  Stats stats;
  std::atomic<bool> stopping{false};

  // Connection limits.
  std::size_t maxConnections = 1;
  std::atomic<std::size_t> open{0};
  std::vector<AddressBlock> allowFrom;  // empty: every client
  ConnectionCounts connections;
};

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Ends the connection when it waits for a request; a connection in the
  // middle of one ends after answering it.
  virtual void stop() = 0;
};

// Open connections, so that a stop can reach them.
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
                            [self = this->shared_from_this()](std::error_code ec, std::size_t n) {
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
        std::string peer = "local client";
        if constexpr (std::is_same_v<typename Socket::protocol_type, asio::ip::tcp>) {
          std::error_code ec;
          const auto endpoint = _socket.remote_endpoint(ec);
          if (!ec) peer = endpoint.address().to_string();
        }
        say("request from %s not understood, connection closed without an answer: %s", peer.c_str(),
            parsed->error.c_str());
        _shared.stats.malformed();
        return close();
      }
      // The lists at the time of the request; a reload swaps in new ones
      // for later requests while this one finishes on these.
      const std::shared_ptr<const ListSet> lists = _shared.lists.load();
      const PolicyDecision d = decide(*lists, parsed->request, _shared.decision);
      if (_shared.logDecisions || d.kind == PolicyDecision::Reject) {
        say("%s", decisionLogLine(*lists, parsed->request, d).c_str());
      }
      _kinds.push_back(d.kind);
      out += d.action;
      out += "\n\n";
    }
    if (out.empty()) return read();
    write(std::move(out));
  }

  void write(std::string out) {
    _out = std::move(out);
    _writing = true;
    const unsigned limit = _shared.net.sendTimeoutSecs;
    if (limit > 0) arm(Clock::now() + std::chrono::seconds(limit), limit, false);
    asio::async_write(_socket, asio::buffer(_out),
                      [self = this->shared_from_this()](std::error_code ec, std::size_t) {
                        self->_timer.cancel();
                        self->_writing = false;
                        if (ec) return self->close();
                        const auto latency = Clock::now() - self->_started.value_or(Clock::now());
                        for (const auto kind : self->_kinds)
                          self->_shared.stats.record(kind, latency);
                        self->_kinds.clear();
                        self->_started.reset();
                        self->_requestDeadline.reset();
                        if (self->_buffer.pending()) self->_started.emplace(Clock::now());
                        self->read();
                      });
  }

  void arm(Clock::time_point until, unsigned seconds, bool reading) {
    _timer.expires_at(until);
    _timer.async_wait([self = this->shared_from_this(), seconds, reading](std::error_code ec) {
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
    std::error_code ignored;
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

// Accepts connections and hands them to sessions. Runs on a strand of its
// own: accepting, pausing and closing never overlap.
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
    _acceptor.async_accept(
        asio::make_strand(_io),
        asio::bind_executor(_strand, [this](std::error_code ec, auto socket) {
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
            using Socket = std::decay_t<decltype(socket)>;
            std::make_shared<Session<Socket>>(std::move(socket), _shared, _sessions)->start();
          } else {
            std::error_code ignored;
            socket.close(ignored);
          }
          accept();
        }));
  }

  void close() {
    asio::post(_strand, [this] {
      _closed = true;
      _pause.cancel();
      std::error_code ignored;
      _acceptor.close(ignored);
    });
  }

 private:
  // Accepting fails mostly when the process is out of descriptors; trying
  // again at once would fail again at once. New connections wait in the
  // backlog meanwhile, and the log says so once per episode.
  void pause(const std::error_code& ec) {
    if (_failures++ == 0) {
      _since = Clock::now();
      say("accept failed: %s; pausing new connections (%zu open)", ec.message().c_str(),
          _shared.open.load());
    }
    _delay = std::clamp(_delay * 2, kMinPause, kMaxPause);
    _pause.expires_after(_delay);
    _pause.async_wait([this](std::error_code waitEc) {
      if (!waitEc && !_closed) accept();
    });
  }

  // Whether a new connection may stay: its client is allowed and the limit
  // is not reached. Counts it as open when it may.
  template <typename Socket>
  bool admit(Socket& socket) {
    if constexpr (std::is_same_v<Acceptor, asio::ip::tcp::acceptor>) {
      std::error_code ec;
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

// "127.0.0.1:10040", "[::1]:10040", "localhost:10040".
asio::ip::tcp::endpoint parseListen(asio::io_context& io, const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) {
    throw CommandError(kExitBadInput, "serve: --listen wants ADDRESS:PORT, not '" + text + "'");
  }
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  std::error_code ec;
  asio::ip::tcp::resolver resolver(io);
  const auto results = resolver.resolve(host, port, asio::ip::resolver_base::numeric_service, ec);
  if (ec || results.empty()) {
    throw CommandError(kExitBadInput, "serve: cannot resolve --listen " + text + ": " +
                                          (ec ? ec.message() : std::string("no address")));
  }
  return results.begin()->endpoint();
}

ListSet::Options loadOptions() {
  ListSet::Options load;
  load.warn = [](const std::string& text) { say("warning: %s", text.c_str()); };
  load.requireLineEnd = true;
  return load;
}

// Loads the lists again on request, on a thread of its own so that signals
// are handled while a large list loads. Requests that arrive during a load
// collapse into one more load; stop() cancels a load in progress.
class Reloader {
 public:
  Reloader(const ServeOptions& options, Shared& shared) : _options(options), _shared(shared) {
    _thread = std::thread([this] { run(); });
  }
  Reloader(const Reloader&) = delete;
  Reloader& operator=(const Reloader&) = delete;
  ~Reloader() {
    stop();
    _thread.join();
  }

  void request() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_loading) say("reload asked for while one runs: one more follows");
    _wanted = true;
    _wake.notify_one();
  }
  void stop() {
    _cancel = true;
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
    _wake.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
      _wake.wait(lock, [this] { return _wanted || _stopping; });
      if (_stopping) return;
      _wanted = false;
      _loading = true;
      lock.unlock();
      reload();
      lock.lock();
      _loading = false;
    }
  }

  void reload() {
    const auto start = Clock::now();
    // The lists in use stay alive until the new ones are in place, for the
    // shrink check.
    std::shared_ptr<const ListSet> current = _shared.lists.load();
    ListSet::Options load = loadOptions();
    if (!_options.allowShrink) load.shrinkFrom = current.get();
    load.cancel = &_cancel;
    say("reloading the lists");
    try {
      std::shared_ptr<const ListSet> fresh = ListSet::load(_options.lists, load);
      const std::size_t entries = fresh->entries();
      _shared.lists.store(std::move(fresh));
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      // The old lists are freed here (unless a request still holds them), so
      // that the line below marks the end of the reload.
      current.reset();
      say("lists reloaded: %zu entries in %lld ms", entries, static_cast<long long>(ms.count()));
    } catch (const std::exception& e) {
      if (_cancel) {
        say("reload abandoned: stopping");
      } else {
        say("reload failed, keeping the lists in use: %s", e.what());
      }
    }
  }

  const ServeOptions& _options;
  Shared& _shared;
  std::atomic<bool> _cancel{false};
  std::mutex _mutex;
  std::condition_variable _wake;
  bool _wanted = false;    // guarded by _mutex
  bool _stopping = false;  // guarded by _mutex
  bool _loading = false;   // guarded by _mutex
  std::thread _thread;
};

// How many connections may be open when --max-connections is not given: the
// descriptor limit less what the process holds now and a few for reloads.
std::size_t defaultMaxConnections() {
  constexpr std::size_t kSpare = 4;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 10000;
  std::size_t held = 32;  // when the open descriptors cannot be counted
  std::error_code ec;
  std::filesystem::directory_iterator it("/proc/self/fd", ec), end;
  if (!ec) {
    held = 0;
    for (; it != end; it.increment(ec)) {
      if (ec) break;
      ++held;
    }
  }
  const auto cur = static_cast<std::size_t>(limit.rlim_cur);
  return cur > held + kSpare ? cur - held - kSpare : 1;
}

// The UNIX socket file this process bound, so that exit removes only that.
struct SocketFile {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
};

// A socket file that still answers belongs to a running server: the start
// ends. One that refuses connections is left from a run that did not clean up
// and is removed. Anything else at the path is left for bind to report.
void claimSocketPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return;
  asio::io_context probe;
  asio::local::stream_protocol::socket socket(probe);
  std::error_code ec;
  socket.open(asio::local::stream_protocol(), ec);
  // Non-blocking: a live server with a full backlog must not hold us here.
  if (!ec) socket.non_blocking(true, ec);
  if (!ec) socket.connect(asio::local::stream_protocol::endpoint(path), ec);
  if (!ec || ec == asio::error::would_block || ec == asio::error::try_again) {
    throw CommandError(kExitFailure,
                       "serve: " + path + " is the socket of a running server; not taking it over");
  }
  if (ec != asio::error::connection_refused) {
    throw CommandError(kExitFailure,
                       "serve: cannot probe the socket " + path + ": " + ec.message());
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw CommandError(kExitFailure, "serve: cannot remove the stale socket " + path + ": " +
                                         std::strerror(errno));
  }
}

// Gives the bound socket file its mode and group, and notes which file it is.
SocketFile finishSocketFile(const std::string& path, mode_t mode, std::optional<gid_t> group) {
  if (::chmod(path.c_str(), mode) != 0 ||
      (group && ::chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0)) {
    const std::string why = std::strerror(errno);
    ::unlink(path.c_str());  // just bound: ours
    throw CommandError(kExitFailure, "serve: cannot set the mode or group of " + path + ": " + why);
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    throw CommandError(kExitFailure, "serve: " + path + " vanished after binding");
  }
  return SocketFile{path, st.st_dev, st.st_ino};
}

void removeSocketFile(const SocketFile& file) {
  struct stat st {};
  if (::lstat(file.path.c_str(), &st) != 0 || st.st_dev != file.dev || st.st_ino != file.ino) {
    return;  // another server's now, or gone
  }
  if (::unlink(file.path.c_str()) != 0) {
    say("cannot remove the socket %s: %s", file.path.c_str(), std::strerror(errno));
  }
}

mode_t parseSocketMode(const std::string& text) {
  unsigned mode = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data(), last, mode, 8);
  if (text.empty() || ec != std::errc() || end != last || mode > 0777) {
    throw CommandError(kExitBadInput, "serve: --socket-mode wants an octal mode such as 0660");
  }
  return static_cast<mode_t>(mode);
}

std::optional<gid_t> parseSocketGroup(const std::string& name) {
  if (name.empty()) return std::nullopt;
  const group* g = ::getgrnam(name.c_str());
  if (g == nullptr) throw CommandError(kExitBadInput, "serve: --socket-group: no group " + name);
  return g->gr_gid;
}

// Leaves root for `user` once everything privileged is done. Runs before any
// other thread exists.
void dropPrivileges(const std::string& user) {
  if (user.empty()) {
    if (::geteuid() == 0) say("warning: running as root; --user NAME would drop to NAME");
    return;
  }
  const passwd* pw = ::getpwnam(user.c_str());
  if (pw == nullptr) throw CommandError(kExitBadInput, "serve: --user: no user " + user);
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  if (::geteuid() != 0) {
    if (::geteuid() == uid) return;
    throw CommandError(kExitFailure,
                       "serve: --user " + user + " needs the service started as root");
  }
  if (::initgroups(user.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
    throw CommandError(kExitFailure, "serve: cannot become " + user + ": " + std::strerror(errno));
  }
  if (::getuid() != uid || ::geteuid() != uid || ::getgid() != gid || ::getegid() != gid ||
      (uid != 0 && ::setuid(0) == 0)) {
    throw CommandError(kExitFailure, "serve: the privileges of root were not given up");
  }
  say("running as %s (uid %u, gid %u)", user.c_str(), static_cast<unsigned>(uid),
      static_cast<unsigned>(gid));
}

void runServe(const ServeOptions& options) {
  if (options.lists.empty()) {
    throw CommandError(kExitBadInput, "serve: at least one --list FILE is required");
  }
  if (options.rejectText.find_first_of("\r\n") != std::string::npos) {
    throw CommandError(kExitBadInput, "serve: --reject-text must be one line");
  }
  const mode_t socketMode = parseSocketMode(options.socketMode);
  const std::optional<gid_t> socketGroup = parseSocketGroup(options.socketGroup);
  // Signals are taken over first: a reload or stop asked for while the lists
  // load is acted on once the server runs, instead of ending the process.
  asio::io_context control(1);
  asio::signal_set signals(control, SIGHUP, SIGTERM, SIGINT);

  Shared shared;
  shared.decision.what = options.check == "recipient" ? CheckWhat::Recipient
                         : options.check == "both"    ? CheckWhat::Both
                                                      : CheckWhat::Sender;
  shared.decision.rejectText = options.rejectText;
  shared.decision.blackAction = options.blackAction == "WARN" ? BlackAction::Warn
                                : options.blackAction == "DEFER_IF_PERMIT"
                                    ? BlackAction::DeferIfPermit
                                    : BlackAction::Reject;
  shared.decision.prependHeader = options.prependHeader;
  shared.decision.delimiters = options.recipientDelimiter;
  shared.decision.details = options.logDecisions;
  shared.logDecisions = options.logDecisions;
  shared.net = readSettings(options);
  for (const std::string& block : options.allowFrom) {
    shared.allowFrom.push_back(parseAddressBlock(block));
  }

  const auto loadStart = Clock::now();
  shared.lists.store(ListSet::load(options.lists, loadOptions()));
  const auto loadMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - loadStart);

  asio::io_context io(static_cast<int>(shared.net.threads));
  SessionSet sessions;
  std::string where;
  std::optional<SocketFile> socketFile;
  std::unique_ptr<Listener<asio::ip::tcp::acceptor>> tcp;
  std::unique_ptr<Listener<asio::local::stream_protocol::acceptor>> local;
  try {
    if (!options.socketPath.empty()) {
      claimSocketPath(options.socketPath);
      asio::local::stream_protocol::acceptor acceptor(io);
      const asio::local::stream_protocol::endpoint endpoint(options.socketPath);
      acceptor.open(endpoint.protocol());
      acceptor.bind(endpoint);
      // Mode and group are set before listening: nobody connects meanwhile.
      socketFile = finishSocketFile(options.socketPath, socketMode, socketGroup);
      acceptor.listen(static_cast<int>(shared.net.backlog));
      local = std::make_unique<Listener<asio::local::stream_protocol::acceptor>>(
          io, std::move(acceptor), shared, sessions);
      where = options.socketPath;
    } else {
      const auto endpoint = parseListen(io, options.listen);
      if (!isLoopback(endpoint.address()) && shared.allowFrom.empty()) {
        throw CommandError(kExitBadInput, "serve: --listen " + options.listen +
                                              " is not a loopback address: give --allow-from "
                                              "CIDR[,CIDR...] for the clients allowed");
      }
      asio::ip::tcp::acceptor acceptor(io);
      acceptor.open(endpoint.protocol());
      acceptor.set_option(asio::socket_base::reuse_address(true));
      acceptor.bind(endpoint);
      acceptor.listen(static_cast<int>(shared.net.backlog));
      tcp = std::make_unique<Listener<asio::ip::tcp::acceptor>>(io, std::move(acceptor), shared,
                                                                sessions);
      where = options.listen;
    }
  } catch (const std::system_error& e) {
    if (socketFile) removeSocketFile(*socketFile);
    throw CommandError(kExitFailure,
                       "serve: cannot listen on " +
                           (options.socketPath.empty() ? options.listen : options.socketPath) +
                           ": " + e.code().message());
  }
  try {
    dropPrivileges(options.user);
  } catch (const CommandError&) {
    if (socketFile) removeSocketFile(*socketFile);
    throw;
  }
  shared.maxConnections =
      options.maxConnections ? *options.maxConnections : defaultMaxConnections();
  if (tcp) tcp->accept();
  if (local) local->accept();

  // Signals and the statistics run on this thread, reloads on the
  // reloader's, requests on the workers: a reload never holds up an answer,
  // nor a stop.
  std::optional<Reloader> reloader;
  reloader.emplace(options, shared);
  asio::steady_timer statsTimer(control);
  asio::steady_timer stopDeadline(control);
  auto work = asio::make_work_guard(io);

  std::function<void()> waitSignal;
  waitSignal = [&] {
    signals.async_wait([&](std::error_code ec, int signal) {
      if (ec) return;
      if (signal == SIGHUP) {
        reloader->request();
        return waitSignal();
      }
      say("stopping: no new connections; open requests are finished");
      shared.stopping = true;
      reloader->stop();
      signals.cancel();
      statsTimer.cancel();
      if (tcp) tcp->close();
      if (local) local->close();
      // A client that never finishes its request does not keep us forever.
      stopDeadline.expires_after(std::chrono::seconds(
          std::max(1u, std::max(shared.net.recvTimeoutSecs, shared.net.sendTimeoutSecs))));
      stopDeadline.async_wait([&](std::error_code waitEc) {
        if (!waitEc) io.stop();
      });
      sessions.stopAll();
      work.reset();
    });
  };
  waitSignal();

  std::function<void()> report;
  report = [&] {
    statsTimer.expires_after(std::chrono::seconds(options.statsSeconds));
    statsTimer.async_wait([&](std::error_code ec) {
      if (ec) return;
      say("%s%s", shared.stats.take(options.statsSeconds).c_str(),
          shared.connections.take().c_str());
      report();
    });
  };
  report();

  say("listening on %s: %zu lists, %zu entries (loaded in %lld ms), %u worker threads, "
      "checking %s",
      where.c_str(), shared.lists.load()->size(), shared.lists.load()->entries(),
      static_cast<long long>(loadMs.count()), shared.net.threads, options.check.c_str());
  say("connection limit: %zu", shared.maxConnections);

  std::vector<std::thread> workers;
  for (unsigned i = 0; i < shared.net.threads; ++i) workers.emplace_back([&io] { io.run(); });
  std::thread controlThread([&control] { control.run(); });
  for (auto& w : workers) w.join();
  // Every worker has returned: nothing is open any more.
  asio::post(control, [&stopDeadline] { stopDeadline.cancel(); });
  controlThread.join();
  reloader.reset();  // a load in progress was cancelled: this is short
  if (socketFile) removeSocketFile(*socketFile);
  say("stopped");
}

void registerServe(CLI::App& app) {
  auto o = std::make_shared<ServeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "serve", "Answer the access policy requests of SMTP servers from list files");
  cmd->add_option("-l,--list", o->lists,
                  "A list file; repeat for several lists, the strongest first")
      ->allow_extra_args(false);
  auto* listen = cmd->add_option("--listen", o->listen, "TCP address and port to listen on")
                     ->default_str("127.0.0.1:10040");
  cmd->add_option("--socket", o->socketPath, "UNIX socket to listen on instead")->excludes(listen);
  cmd->add_option("--check", o->check, "Which address decides")
      ->check(CLI::IsMember({"sender", "recipient", "both"}))
      ->default_str("sender");
  cmd->add_option("--reject-text", o->rejectText,
                  "Text of the answers to black-listed addresses (default: \"sender address "
                  "rejected by policy\", or recipient)");
  cmd->add_option("--black-action", o->blackAction,
                  "Answer to black-listed addresses: REJECT, DEFER_IF_PERMIT (a temporary "
                  "refusal) or WARN (logged by the SMTP server only)")
      ->transform(CLI::IsMember({"REJECT", "DEFER_IF_PERMIT", "WARN"}, CLI::ignore_case))
      ->default_str("REJECT");
  cmd->add_option("--prepend-header", o->prependHeader,
                  "Header NAME added to accepted listed mail (\"NAME: white-listed\", or "
                  "black-listed under WARN) instead of OK or WARN")
      ->check([](const std::string& name) -> std::string {
        if (name.empty()) return "a header name must not be empty";
        for (const char c : name) {
          if (c <= ' ' || c > '~' || c == ':') return "not a header name: " + name;
        }
        return "";
      });
  cmd->add_option("--recipient-delimiter", o->recipientDelimiter,
                  "Characters that start an address extension (Postfix's recipient_delimiter): "
                  "user+tag@d, when not listed as such, is decided as user@d")
      ->check([](const std::string& chars) -> std::string {
        for (const char c : chars) {
          if (c <= ' ' || c > '~' || c == '@' || c == '.') return "not a delimiter: " + chars;
        }
        return "";
      });
  cmd->add_flag("--log-decisions", o->logDecisions,
                "Log every decision (black-listed ones are always logged)");
  cmd->add_option("--threads", o->threads, "Worker threads")->check(CLI::Range(1u, 1000u));
  cmd->add_option("--backlog", o->backlog, "Listen backlog")->check(CLI::Range(0u, 1000u));
  cmd->add_option("--recv-timeout", o->recvTimeout, "Seconds to wait for a request (0: forever)")
      ->check(CLI::Range(0u, 300u));
  cmd->add_option("--send-timeout", o->sendTimeout, "Seconds to wait for an answer to be taken")
      ->check(CLI::Range(0u, 300u));
  cmd->add_option("--keep-alive", o->keepAlive, "TCP keep-alive")
      ->check(CLI::IsMember({"yes", "no"}));
  cmd->add_option("--stats-interval", o->statsSeconds, "Seconds between statistics lines")
      ->check(CLI::Range(1u, 86400u))
      ->group("");
  cmd->add_option("--max-connections", o->maxConnections,
                  "Open connections at most; more are closed at once (default: what the "
                  "descriptor limit leaves)")
      ->check(CLI::Range(1u, 1000000u));
  cmd->add_option("--allow-from", o->allowFrom,
                  "Client addresses allowed over TCP, as CIDR[,CIDR...]; needed for --listen "
                  "on an address other than loopback")
      ->delimiter(',')
      ->excludes(cmd->get_option("--socket"));
  cmd->add_option("--socket-mode", o->socketMode, "Permissions of the --socket file")
      ->default_str("0660");
  cmd->add_option("--socket-group", o->socketGroup, "Group of the --socket file");
  cmd->add_flag("--allow-shrink", o->allowShrink,
                "Let a reload load a list that lost more than half of its entries");
  cmd->add_option("--user", o->user,
                  "Drop root's privileges for this user once the socket and lists are open");
  cmd->callback([o] { runServe(*o); });
}

const CommandRegistration kRegistration(25, registerServe);

}  // namespace
}  // namespace quor::tool
