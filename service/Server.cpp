#include "service/Server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/Log.h"
#include "service/detail/Asio.h"
#include "service/detail/DbFeed.h"
#include "service/detail/Listener.h"
#include "service/detail/Network.h"
#include "service/detail/Process.h"
#include "service/detail/Reloader.h"
#include "service/detail/Session.h"
#include "service/detail/Shared.h"
#include "service/detail/SocketFile.h"

namespace quor::service {

using namespace detail;  // NOLINT(google-build-using-namespace): this file is their user

namespace {

const char* checkName(CheckWhat what) {
  switch (what) {
    case CheckWhat::Recipient:
      return "recipient";
    case CheckWhat::Both:
      return "both";
    case CheckWhat::Sender:
      break;
  }
  return "sender";
}

}  // namespace

void checkOptions(const Options& options) {
  if (options.lists.empty() && !options.db) {
    throw StartError(StartError::BadOptions, "at least one --list FILE (or --db) is required");
  }
  if (options.decision.rejectText.find_first_of("\r\n") != std::string::npos) {
    throw StartError(StartError::BadOptions, "--reject-text must be one line");
  }
  if (options.net.threads == 0) {
    throw StartError(StartError::BadOptions, "at least one worker thread is required");
  }
  if (options.statsSeconds == 0) {
    throw StartError(StartError::BadOptions, "the statistics interval must be at least 1 s");
  }
}

// One run of the server: what it holds from the start to the stop. The
// members are in the order they are needed; they are destroyed in reverse,
// listeners and sessions before the I/O they run on.
class Server::Run {
 public:
  // Signals are taken over first: a reload or stop asked for while the lists
  // load is acted on once the server runs, instead of ending the process.
  explicit Run(const Options& options)
      : _options(options),
        _signals(_control, SIGHUP, SIGTERM, SIGINT),
        _io(static_cast<int>(options.net.threads)) {}

  void run() {
    load();
    listen();
    try {
      dropPrivileges(_options.user);
    } catch (const StartError&) {
      if (_socketFile) removeSocketFile(*_socketFile);
      throw;
    }
    _shared.maxConnections = _options.maxConnections.value_or(defaultMaxConnections());
    if (_tcp) _tcp->accept();
    if (_local) _local->accept();
    serve();
  }

 private:
  // The settings every connection shares, and the first generation of lists.
  void load() {
    _shared.decision = _options.decision;
    _shared.logDecisions = _options.logDecisions;
    _shared.net = _options.net;
    for (const std::string& block : _options.allowFrom) {
      _shared.allowFrom.push_back(parseAddressBlock(block));
    }
    const auto start = Clock::now();
    if (!_options.lists.empty()) {
      _shared.lists.replace(lists::ListSet::load(_options.lists, loadOptions()));
    }
    if (_options.db) {
      _dbFeed.emplace(*_options.db, _shared);
      _dbFeed->loadFirst();
    }
    _loadMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  }

  void listen() {
    const bool local = !_options.socketPath.empty();
    try {
      if (local) {
        listenLocal();
      } else {
        listenTcp();
      }
    } catch (const boost::system::system_error& e) {
      if (_socketFile) removeSocketFile(*_socketFile);
      throw StartError(StartError::Failed, "cannot listen on " +
                                               (local ? _options.socketPath : _options.listen) +
                                               ": " + e.code().message());
    }
  }

  void listenLocal() {
    const std::string& path = _options.socketPath;
    claimSocketPath(path);
    asio::local::stream_protocol::acceptor acceptor(_io);
    const asio::local::stream_protocol::endpoint endpoint(path);
    acceptor.open(endpoint.protocol());
    acceptor.bind(endpoint);
    // Mode and group are set before listening: nobody connects meanwhile.
    _socketFile = finishSocketFile(path, _options.socketMode, _options.socketGroup);
    acceptor.listen(static_cast<int>(_options.net.backlog));
    _local = std::make_unique<Listener<asio::local::stream_protocol::acceptor>>(
        _io, std::move(acceptor), _shared, _sessions);
    _where = path;
  }

  void listenTcp() {
    const auto endpoint = parseListen(_io, _options.listen);
    if (!isLoopback(endpoint.address()) && _shared.allowFrom.empty()) {
      throw StartError(StartError::BadOptions,
                       "--listen " + _options.listen +
                           " is not a loopback address: give --allow-from CIDR[,CIDR...] for the "
                           "clients allowed");
    }
    asio::ip::tcp::acceptor acceptor(_io);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(static_cast<int>(_options.net.backlog));
    _tcp = std::make_unique<Listener<asio::ip::tcp::acceptor>>(_io, std::move(acceptor), _shared,
                                                               _sessions);
    _where = _options.listen;
  }

  // Signals and the statistics run on the control thread, reloads on the
  // reloader's, requests on the workers: a reload never holds up an answer,
  // nor a stop. Returns once every worker has returned.
  void serve() {
    if (!_options.lists.empty()) _reloader.emplace(_options.lists, _options.allowShrink, _shared);
    if (_dbFeed) _dbFeed->start();
    _work.emplace(asio::make_work_guard(_io));
    waitSignal();
    report();
    const auto lists = _shared.lists.current();
    const auto db = _shared.db.load();
    say("listening on %s: %zu lists, %zu entries%s (loaded in %lld ms), %u worker threads, "
        "checking %s",
        _where.c_str(), lists ? lists->size() : 0, lists ? lists->entries() : 0,
        db ? (", then the policy database's sender lists for the recipient (" +
              std::to_string(db->entries()) + " entries)")
                 .c_str()
           : "",
        _loadMs, _options.net.threads, checkName(_options.decision.what));
    say("connection limit: %zu", _shared.maxConnections);

    std::vector<std::thread> workers;
    for (unsigned i = 0; i < _options.net.threads; ++i) {
      workers.emplace_back([this] { _io.run(); });
    }
    std::thread controlThread([this] { _control.run(); });
    for (auto& w : workers) w.join();
    // Every worker has returned: nothing is open any more.
    asio::post(_control, [this] { _stopDeadline.cancel(); });
    controlThread.join();
    _reloader.reset();  // a load in progress was cancelled: this is short
    _dbFeed.reset();
    if (_socketFile) removeSocketFile(*_socketFile);
    say("stopped");
  }

  void waitSignal() {
    _signals.async_wait([this](ErrorCode ec, int signal) {
      if (ec) return;
      if (signal == SIGHUP) {
        if (_reloader) _reloader->request();
        if (_dbFeed) _dbFeed->request();
        return waitSignal();
      }
      stop();
    });
  }

  void stop() {
    say("stopping: no new connections; open requests are finished");
    _shared.stopping = true;
    if (_reloader) _reloader->stop();
    if (_dbFeed) _dbFeed->stop();
    _signals.cancel();
    _statsTimer.cancel();
    if (_tcp) _tcp->close();
    if (_local) _local->close();
    // A client that never finishes its request does not keep us forever.
    _stopDeadline.expires_after(std::chrono::seconds(
        std::max(1u, std::max(_options.net.recvTimeoutSecs, _options.net.sendTimeoutSecs))));
    _stopDeadline.async_wait([this](ErrorCode ec) {
      if (!ec) _io.stop();
    });
    _sessions.stopAll();
    _work.reset();
  }

  void report() {
    _statsTimer.expires_after(std::chrono::seconds(_options.statsSeconds));
    _statsTimer.async_wait([this](ErrorCode ec) {
      if (ec) return;
      say("%s%s", _shared.stats.take(_options.statsSeconds).c_str(),
          _shared.connections.take().c_str());
      report();
    });
  }

  const Options& _options;
  asio::io_context _control{1};
  asio::signal_set _signals;
  Shared _shared;
  std::optional<DbFeed> _dbFeed;
  long long _loadMs = 0;
  asio::io_context _io;
  SessionSet _sessions;
  std::string _where;
  std::optional<SocketFile> _socketFile;
  std::unique_ptr<Listener<asio::ip::tcp::acceptor>> _tcp;
  std::unique_ptr<Listener<asio::local::stream_protocol::acceptor>> _local;
  std::optional<Reloader> _reloader;
  asio::steady_timer _statsTimer{_control};
  asio::steady_timer _stopDeadline{_control};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> _work;
};

Server::Server(Options options) : _options(std::move(options)) {}

Server::~Server() = default;

void Server::run() {
  checkOptions(_options);
  Run(_options).run();
}

}  // namespace quor::service
