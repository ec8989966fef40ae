// policy_load: keeps N connections to an access policy service busy and
// reports requests per second and latency percentiles.
//
//   policy_load --target 127.0.0.1:10040 --connections 8 --seconds 5 --senders FILE
//
// Each connection sends one request, waits for its answer, and sends the
// next, cycling through the sender addresses of FILE (one per line) from its
// own starting point. A line "SENDER RECIPIENT" (blank-separated) gives the
// request's recipient too; otherwise it is postmaster@dest.example. With
// --rate R the connections together send at most R requests a second, each
// one on its own even schedule. One thread drives every connection, so the
// client takes one core at most. Prints one line:
//
//   connections=8 requests=123456 seconds=5.00 rps=24691 p50_us=310 p99_us=905 reject=... ok=...
//   dunno=... errors=0
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
// Boost 1.74's coroutine support uses std::exchange without including its
// header; under C++20 it must come first.
#include <utility>

#include <boost/asio.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
using ErrorCode = boost::system::error_code;
using Clock = std::chrono::steady_clock;

struct Totals {
  std::vector<std::uint32_t> latencyUs;  // one per answered request
  std::uint64_t ok = 0, reject = 0, dunno = 0, other = 0, errors = 0;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(asio::io_context& io, const std::vector<std::string>& senders, std::size_t start,
             Totals& totals, Clock::time_point warmEnd, Clock::time_point end,
             Clock::duration every)
      : _socket(io),
        _timer(io),
        _every(every),
        _senders(senders),
        _next(start),
        _totals(totals),
        _warmEnd(warmEnd),
        _end(end) {}

  // Drops the connection: an answer still awaited at the end is not counted.
  void stop() {
    ErrorCode ignored;
    _timer.cancel();
    _socket.close(ignored);
  }

  void start(const asio::ip::tcp::endpoint& target) {
    _socket.async_connect(target, [self = shared_from_this()](ErrorCode ec) {
      if (ec) {
        ++self->_totals.errors;
        std::fprintf(stderr, "policy_load: connect: %s\n", ec.message().c_str());
        return;
      }
      self->_socket.set_option(asio::ip::tcp::no_delay(true));
      self->send();
    });
  }

 private:
  void send() {
    if (Clock::now() >= _end) return;
    if (_every != Clock::duration::zero()) {
      _due = _due == Clock::time_point() ? Clock::now() : _due + _every;
      if (_due > Clock::now()) {
        _timer.expires_at(_due);
        _timer.async_wait([self = shared_from_this()](ErrorCode ec) {
          if (!ec) self->sendNow();
        });
        return;
      }
    }
    sendNow();
  }

  void sendNow() {
    const std::string& line = _senders[_next++ % _senders.size()];
    const auto blank = line.find(' ');
    const std::string sender = line.substr(0, blank);
    const std::string recipient =
        blank == std::string::npos ? "postmaster@dest.example" : line.substr(blank + 1);
    _request =
        "request=smtpd_access_policy\nprotocol_state=RCPT\nprotocol_name=ESMTP\n"
        "client_address=192.0.2.1\nclient_name=client.example\nhelo_name=client.example\n"
        "sender=" +
        sender + "\nrecipient=" + recipient +
        "\nrecipient_count=0\n"
        "queue_id=\nsize=0\n\n";
    _sent = Clock::now();
    asio::async_write(_socket, asio::buffer(_request),
                      [self = shared_from_this()](ErrorCode ec, std::size_t) {
                        if (ec) return self->fail("write", ec);
                        self->receive();
                      });
  }

  void receive() {
    asio::async_read_until(_socket, _in, "\n\n",
                           [self = shared_from_this()](ErrorCode ec, std::size_t n) {
                             if (ec) return self->fail("read", ec);
                             self->answered(n);
                           });
  }

  void answered(std::size_t n) {
    const auto now = Clock::now();
    std::string answer(asio::buffers_begin(_in.data()), asio::buffers_begin(_in.data()) + n);
    _in.consume(n);
    if (now >= _warmEnd) {
      _totals.latencyUs.push_back(static_cast<std::uint32_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(now - _sent).count()));
      if (answer.rfind("action=OK", 0) == 0) {
        ++_totals.ok;
      } else if (answer.rfind("action=REJECT", 0) == 0) {
        ++_totals.reject;
      } else if (answer.rfind("action=DUNNO", 0) == 0 || answer.rfind("action=dunno", 0) == 0) {
        ++_totals.dunno;
      } else {
        ++_totals.other;
      }
    }
    send();
  }

  void fail(const char* what, ErrorCode ec) {
    if (Clock::now() >= _end) return;
    ++_totals.errors;
    std::fprintf(stderr, "policy_load: %s: %s\n", what, ec.message().c_str());
  }

  asio::ip::tcp::socket _socket;
  asio::steady_timer _timer;
  Clock::duration _every;  // zero: as fast as answers come
  Clock::time_point _due;
  const std::vector<std::string>& _senders;
  std::size_t _next;
  Totals& _totals;
  Clock::time_point _warmEnd, _end;
  std::string _request;
  asio::streambuf _in;
  Clock::time_point _sent;
};

}  // namespace

int main(int argc, char** argv) {
  std::string target = "127.0.0.1:10040", sendersFile;
  unsigned connections = 1;
  double seconds = 5, warmup = 0.5, rate = 0;
  CLI::App app{"Load client for access policy services"};
  app.add_option("--target", target, "ADDRESS:PORT of the service");
  app.add_option("--connections", connections, "Connections kept busy")
      ->check(CLI::Range(1u, 4096u));
  app.add_option("--seconds", seconds, "Measured time");
  app.add_option("--warmup", warmup, "Seconds before measuring");
  app.add_option("--rate", rate, "Requests per second of all connections together (0: no limit)");
  app.add_option("--senders", sendersFile, "Sender addresses, one per line")->required();
  CLI11_PARSE(app, argc, argv);

  std::vector<std::string> senders;
  {
    std::ifstream in(sendersFile);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) senders.push_back(line);
    }
  }
  if (senders.empty()) {
    std::fprintf(stderr, "policy_load: no sender addresses in %s\n", sendersFile.c_str());
    return 2;
  }
  const auto colon = target.rfind(':');
  if (colon == std::string::npos) {
    std::fprintf(stderr, "policy_load: --target wants ADDRESS:PORT\n");
    return 2;
  }
  asio::io_context io(1);
  const asio::ip::tcp::endpoint endpoint(
      asio::ip::make_address(target.substr(0, colon)),
      static_cast<unsigned short>(std::stoi(target.substr(colon + 1))));
  Totals totals;
  const auto begin = Clock::now();
  const auto warmEnd =
      begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(warmup));
  const auto end =
      warmEnd + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  const Clock::duration every =
      rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                     std::chrono::duration<double>(static_cast<double>(connections) / rate))
               : Clock::duration::zero();
  std::vector<std::shared_ptr<Connection>> all;
  for (unsigned i = 0; i < connections; ++i) {
    all.push_back(std::make_shared<Connection>(io, senders, senders.size() * i / connections,
                                               totals, warmEnd, end, every));
    all.back()->start(endpoint);
  }
  // A slow service must not keep the client waiting for answers past the end.
  asio::steady_timer deadline(io, end + std::chrono::seconds(1));
  deadline.async_wait([&all](ErrorCode) {
    for (auto& c : all) c->stop();
  });
  io.run();
  const double measured = std::chrono::duration<double>(Clock::now() - warmEnd).count();
  auto& l = totals.latencyUs;
  std::sort(l.begin(), l.end());
  auto pct = [&l](double p) -> unsigned {
    if (l.empty()) return 0;
    return l[std::min(l.size() - 1,
                      static_cast<std::size_t>(p / 100.0 * static_cast<double>(l.size())))];
  };
  std::printf(
      "connections=%u requests=%zu seconds=%.2f rps=%.0f p50_us=%u p99_us=%u ok=%llu reject=%llu "
      "dunno=%llu other=%llu errors=%llu\n",
      connections, l.size(), measured, static_cast<double>(l.size()) / measured, pct(50), pct(99),
      static_cast<unsigned long long>(totals.ok), static_cast<unsigned long long>(totals.reject),
      static_cast<unsigned long long>(totals.dunno), static_cast<unsigned long long>(totals.other),
      static_cast<unsigned long long>(totals.errors));
  return totals.errors == 0 ? 0 : 1;
}
