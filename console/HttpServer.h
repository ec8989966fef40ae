// The web console's HTTP server: Boost.Beast over Boost.Asio, asynchronous,
// on a small pool of threads, optionally under TLS (OpenSSL).
//
// Limits: the header and the body of a request are bounded (a larger body
// gets 413, a larger header 431, and the connection is closed), every read
// and write has a time-out, and connections beyond the maximum are closed at
// once. Every answer carries the security headers (a self-only content
// security policy, nosniff, no framing); API answers are never cached.
//
// Thread safety: construct, then run() on one thread; stop() from any thread.
#ifndef QUORPOLICY_CONSOLE_HTTPSERVER_H_
#define QUORPOLICY_CONSOLE_HTTPSERVER_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "console/Api.h"

namespace quor::console {

struct ServerOptions {
  std::string address = "127.0.0.1";
  unsigned short port = 8080;
  std::string tlsCert;        // PEM certificate chain; TLS when both are given
  std::string tlsKey;         // PEM private key
  bool insecureHttp = false;  // allow plain HTTP beyond loopback
  // Handlers run on these threads and block while they work; a listing also
  // waits for the listings queued before it (the library builds them one at
  // a time). Sixteen keep eight administrators' changes from queueing
  // behind their waiting listings.
  int threads = 16;
  std::size_t maxConnections = 256;
  std::chrono::seconds ioTimeout{30};
  std::size_t headerLimit = 16 * 1024;
  std::size_t bodyLimit = 64 * 1024;
};

// Why the server would refuse these options (an address that does not parse,
// half of the TLS pair, plain HTTP beyond loopback without insecureHttp), or
// empty. Cheap: hosts ask before they open anything.
std::string listenProblem(const ServerOptions& options);

class HttpServer {
 public:
  // Binds and listens. Throws std::runtime_error saying why it cannot: an
  // address that does not parse or cannot be bound, TLS files that do not
  // load, or plain HTTP beyond loopback without insecureHttp.
  HttpServer(Api& api, const ServerOptions& options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The port listened on (the chosen one when 0 was asked).
  unsigned short port() const;
  // Serves until stop() or a SIGINT/SIGTERM.
  void run();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> _impl;
};

}  // namespace quor::console

#endif  // QUORPOLICY_CONSOLE_HTTPSERVER_H_
