// quorpolicy serve: an access policy service for SMTP servers.
//
//   quorpolicy serve --list FIRST.list [--list NEXT.list ...]
//                    [--listen ADDR:PORT | --socket PATH]
//                    [--check sender|recipient|both] [--reject-text TEXT]
//
// Loads the list files as `quorpolicy match` does, freezes them, and answers
// every request of the policy delegation protocol (see PolicyProtocol.h) by
// deciding the sender (and/or the recipient): black-listed gives
// "action=REJECT <text>", white-listed "action=OK", not listed "action=DUNNO".
//
// Worker threads, listen backlog, time-outs and keep-alive come from the
// policy server's settings in <QUOR_HOME>/config/quor.ini when QUOR_HOME is
// set (read, validated and logged as the policy server reads them), built-in
// defaults otherwise; command-line options override both.
//
// Signals: SIGHUP loads the lists again beside the running ones and swaps
// them in; requests in flight finish on the lists they started with, and a
// list that fails to load keeps the old lists. SIGTERM and SIGINT stop
// accepting, let every open request finish and exit 0. Once a minute one line
// reports the requests, decisions and latency of the past minute.
#include <sys/stat.h>
#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
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
#include "tools/quorpolicy/ListSet.h"
#include "tools/quorpolicy/PolicyProtocol.h"

namespace quor::tool {
namespace {

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

// What every connection shares.
struct Shared {
  std::atomic<std::shared_ptr<const ListSet>> lists;
  DecideOptions decision;
  bool logDecisions = false;
  NetSettings net;
  Stats stats;
  std::atomic<bool> stopping{false};
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
    arm(_shared.net.recvTimeoutSecs, "no request");
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
    arm(_shared.net.sendTimeoutSecs, "answer not taken");
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
                        if (self->_buffer.pending()) self->_started.emplace(Clock::now());
                        self->read();
                      });
  }

  void arm(unsigned seconds, const char* what) {
    if (seconds == 0) return;
    _timer.expires_after(std::chrono::seconds(seconds));
    _timer.async_wait([self = this->shared_from_this(), what, seconds](std::error_code ec) {
      if (ec) return;  // cancelled: the operation finished in time
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
  bool _writing = false;
  bool _stopRequested = false;
  bool _closed = false;
};

template <typename Acceptor>
class Listener {
 public:
  Listener(asio::io_context& io, Acceptor acceptor, Shared& shared, SessionSet& sessions)
      : _io(io), _acceptor(std::move(acceptor)), _shared(shared), _sessions(sessions) {}

  void accept() {
    _acceptor.async_accept(asio::make_strand(_io), [this](std::error_code ec, auto socket) {
      if (ec) {
        if (ec != asio::error::operation_aborted && !_shared.stopping) {
          say("accept failed: %s", ec.message().c_str());
          accept();
        }
        return;
      }
      if constexpr (std::is_same_v<Acceptor, asio::ip::tcp::acceptor>) {
        std::error_code ignored;
        socket.set_option(asio::socket_base::keep_alive(_shared.net.keepAlive), ignored);
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
      }
      using Socket = std::decay_t<decltype(socket)>;
      std::make_shared<Session<Socket>>(std::move(socket), _shared, _sessions)->start();
      accept();
    });
  }
  void close() {
    asio::post(_acceptor.get_executor(), [this] {
      std::error_code ignored;
      _acceptor.close(ignored);
    });
  }

 private:
  asio::io_context& _io;
  Acceptor _acceptor;
  Shared& _shared;
  SessionSet& _sessions;
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

std::shared_ptr<const ListSet> loadLists(const std::vector<std::string>& paths) {
  ListSet::Options load;
  load.warn = [](const std::string& text) { say("warning: %s", text.c_str()); };
  return ListSet::load(paths, load);
}

void runServe(const ServeOptions& options) {
  if (options.lists.empty()) {
    throw CommandError(kExitBadInput, "serve: at least one --list FILE is required");
  }
  if (options.rejectText.find_first_of("\r\n") != std::string::npos) {
    throw CommandError(kExitBadInput, "serve: --reject-text must be one line");
  }
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

  const auto loadStart = Clock::now();
  shared.lists.store(loadLists(options.lists));
  const auto loadMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - loadStart);

  asio::io_context io(static_cast<int>(shared.net.threads));
  SessionSet sessions;
  std::string where;
  std::unique_ptr<Listener<asio::ip::tcp::acceptor>> tcp;
  std::unique_ptr<Listener<asio::local::stream_protocol::acceptor>> local;
  try {
    if (!options.socketPath.empty()) {
      // A socket file left by an earlier run would make the bind fail.
      struct stat st {};
      if (::lstat(options.socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        std::filesystem::remove(options.socketPath);
      }
      asio::local::stream_protocol::acceptor acceptor(io);
      const asio::local::stream_protocol::endpoint endpoint(options.socketPath);
      acceptor.open(endpoint.protocol());
      acceptor.bind(endpoint);
      acceptor.listen(static_cast<int>(shared.net.backlog));
      local = std::make_unique<Listener<asio::local::stream_protocol::acceptor>>(
          io, std::move(acceptor), shared, sessions);
      local->accept();
      where = options.socketPath;
    } else {
      const auto endpoint = parseListen(io, options.listen);
      asio::ip::tcp::acceptor acceptor(io);
      acceptor.open(endpoint.protocol());
      acceptor.set_option(asio::socket_base::reuse_address(true));
      acceptor.bind(endpoint);
      acceptor.listen(static_cast<int>(shared.net.backlog));
      tcp = std::make_unique<Listener<asio::ip::tcp::acceptor>>(io, std::move(acceptor), shared,
                                                                sessions);
      tcp->accept();
      where = options.listen;
    }
  } catch (const std::system_error& e) {
    throw CommandError(kExitFailure,
                       "serve: cannot listen on " +
                           (options.socketPath.empty() ? options.listen : options.socketPath) +
                           ": " + e.code().message());
  }

  // Signals, reloads and the statistics run on this thread; requests on the
  // workers, so that a reload never holds up an answer.
  asio::steady_timer statsTimer(control);
  asio::steady_timer stopDeadline(control);
  auto work = asio::make_work_guard(io);

  std::function<void()> waitSignal;
  waitSignal = [&] {
    signals.async_wait([&](std::error_code ec, int signal) {
      if (ec) return;
      if (signal == SIGHUP) {
        const auto start = Clock::now();
        try {
          auto fresh = loadLists(options.lists);
          const std::size_t entries = fresh->entries();
          shared.lists.store(std::move(fresh));
          const auto ms =
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
          say("lists reloaded: %zu entries in %lld ms", entries,
              static_cast<long long>(ms.count()));
        } catch (const CommandError& e) {
          say("reload failed, keeping the lists in use: %s", e.what());
        } catch (const std::exception& e) {
          say("reload failed, keeping the lists in use: %s", e.what());
        }
        return waitSignal();
      }
      say("stopping: no new connections; open requests are finished");
      shared.stopping = true;
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
      say("%s", shared.stats.take(options.statsSeconds).c_str());
      report();
    });
  };
  report();

  say("listening on %s: %zu lists, %zu entries (loaded in %lld ms), %u worker threads, "
      "checking %s",
      where.c_str(), shared.lists.load()->size(), shared.lists.load()->entries(),
      static_cast<long long>(loadMs.count()), shared.net.threads, options.check.c_str());

  std::vector<std::thread> workers;
  for (unsigned i = 0; i < shared.net.threads; ++i) workers.emplace_back([&io] { io.run(); });
  std::thread controlThread([&control] { control.run(); });
  for (auto& w : workers) w.join();
  // Every worker has returned: nothing is open any more.
  asio::post(control, [&stopDeadline] { stopDeadline.cancel(); });
  controlThread.join();
  if (!options.socketPath.empty()) {
    std::error_code ignored;
    std::filesystem::remove(options.socketPath, ignored);
  }
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
  cmd->callback([o] { runServe(*o); });
}

const CommandRegistration kRegistration(25, registerServe);

}  // namespace
}  // namespace quor::tool
