#include "console/HttpServer.h"

#include <atomic>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <vector>

#include "PolicyLog.h"

namespace quor::console {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

struct Shared {
  Api& api;
  ServerOptions options;
  std::atomic<std::size_t> connections{0};
};

void secure(http::response<http::string_body>& res, bool api) {
  res.set("Content-Security-Policy",
          "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; "
          "frame-ancestors 'none'; base-uri 'none'; form-action 'self'");
  res.set("X-Content-Type-Options", "nosniff");
  res.set("X-Frame-Options", "DENY");
  res.set("Referrer-Policy", "no-referrer");
  res.set(http::field::cache_control, api ? "no-store" : "no-cache");
}

template <class Stream>
class Connection : public std::enable_shared_from_this<Connection<Stream>> {
 public:
  template <class... Args>
  Connection(Shared& shared, std::string client, Args&&... args)
      : _shared(shared),
        _client(std::move(client)),
        _stream(std::forward<Args>(args)...),
        _delay(_stream.get_executor()) {}
  ~Connection() { --_shared.connections; }

  void start() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      beast::get_lowest_layer(_stream).expires_after(_shared.options.ioTimeout);
      _stream.async_handshake(ssl::stream_base::server,
                              [self = this->shared_from_this()](beast::error_code ec) {
                                if (!ec) self->read();
                              });
    } else {
      read();
    }
  }

 private:
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  void read() {
    _parser.emplace();
    _parser->header_limit(static_cast<std::uint32_t>(_shared.options.headerLimit));
    _parser->body_limit(_shared.options.bodyLimit);
    beast::get_lowest_layer(_stream).expires_after(_shared.options.ioTimeout);
    http::async_read(
        _stream, _buffer, *_parser,
        [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
  }

  void onRead(beast::error_code ec) {
    if (ec == http::error::body_limit) return refuse(413, "the body is larger than allowed");
    if (ec == http::error::header_limit) return refuse(431, "the header is larger than allowed");
    if (ec) {
      // A request the parser refused gets an answer; a closed or timed-out
      // connection does not.
      const bool malformed =
          &ec.category() == &http::make_error_code(http::error::bad_target).category() &&
          ec != http::error::end_of_stream && ec != http::error::partial_message;
      if (malformed) return refuse(400, "the request is malformed");
      return close();
    }
    const http::request<http::string_body>& req = _parser->get();
    Request request;
    request.method = std::string(req.method_string());
    request.target = std::string(req.target());
    request.body = req.body();
    request.cookie = std::string(req[http::field::cookie]);
    request.csrf = std::string(req["X-CSRF-Token"]);
    request.client = _client;
    request.tls = kTls;
    Response answer;
    try {
      answer = _shared.api.handle(request);
    } catch (const std::exception& e) {
      // No request may end the server: the failure is logged and answered.
      PolicyLog::log(PolicyLog::Error, "console: a request failed: %s", e.what());
      answer = Response{500, "application/json", "{\"error\":\"the request failed\"}", {}, {}};
    }
    const bool api = request.target.rfind("/api", 0) == 0;
    prepare(answer.status, answer.contentType, std::move(answer.body), api, req.keep_alive());
    for (const std::string& c : answer.setCookies) _res.insert(http::field::set_cookie, c);
    if (req.method() == http::verb::head) _res.body().clear();
    if (answer.delay.count() > 0) {
      _delay.expires_after(answer.delay);
      _delay.async_wait([self = this->shared_from_this()](beast::error_code) { self->write(); });
      return;
    }
    write();
  }

  void prepare(unsigned status, std::string type, std::string body, bool api, bool keepAlive) {
    _res = {};
    _res.version(11);
    _res.result(status);
    if (status != 204) _res.set(http::field::content_type, type);
    _res.body() = std::move(body);
    secure(_res, api);
    _res.keep_alive(keepAlive);
    _res.prepare_payload();
  }

  void refuse(unsigned status, const char* message) {
    prepare(status, "application/json", std::string("{\"error\":\"") + message + "\"}", true,
            false);
    write();
  }

  void write() {
    beast::get_lowest_layer(_stream).expires_after(_shared.options.ioTimeout);
    http::async_write(_stream, _res,
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        if (ec || !self->_res.keep_alive()) return self->close();
                        self->read();
                      });
  }

  void close() {
    beast::error_code ec;
    if constexpr (kTls) {
      beast::get_lowest_layer(_stream).expires_after(std::chrono::seconds(5));
      _stream.async_shutdown([self = this->shared_from_this()](beast::error_code) {});
    } else {
      _stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    }
  }

  Shared& _shared;
  std::string _client;
  Stream _stream;
  asio::steady_timer _delay;
  beast::flat_buffer _buffer;
  std::optional<http::request_parser<http::string_body>> _parser;
  http::response<http::string_body> _res;
};

}  // namespace

std::string listenProblem(const ServerOptions& options) {
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options.address, ec);
  if (ec) return "'" + options.address + "' is not an IP address";
  const bool useTls = !options.tlsCert.empty() || !options.tlsKey.empty();
  if (useTls && (options.tlsCert.empty() || options.tlsKey.empty())) {
    return "TLS needs both --tls-cert and --tls-key";
  }
  if (!useTls && !address.is_loopback() && !options.insecureHttp) {
    return "listening on " + options.address +
           " without TLS is refused: give --tls-cert and --tls-key, or --insecure-http";
  }
  return "";
}

struct HttpServer::Impl {
  Impl(Api& api, const ServerOptions& options)
      : shared{api, options},
        ioc(std::max(1, options.threads)),
        acceptor(ioc),
        signals(ioc, SIGINT, SIGTERM) {}

  void accept() {
    acceptor.async_accept(asio::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
      if (ec) {
        if (ec != asio::error::operation_aborted) accept();
        return;
      }
      if (shared.connections.load() >= shared.options.maxConnections) {
        beast::error_code ignored;
        socket.close(ignored);
        return accept();
      }
      beast::error_code peerEc;
      const tcp::endpoint peer = socket.remote_endpoint(peerEc);
      std::string client = peerEc ? "unknown" : peer.address().to_string();
      ++shared.connections;
      if (tls) {
        std::make_shared<Connection<TlsStream>>(shared, std::move(client), std::move(socket), *tls)
            ->start();
      } else {
        std::make_shared<Connection<PlainStream>>(shared, std::move(client), std::move(socket))
            ->start();
      }
      accept();
    });
  }

  Shared shared;
  asio::io_context ioc;
  tcp::acceptor acceptor;
  asio::signal_set signals;
  std::optional<ssl::context> tls;
};

HttpServer::HttpServer(Api& api, const ServerOptions& options)
    : _impl(std::make_unique<Impl>(api, options)) {
  if (const std::string why = listenProblem(options); !why.empty()) throw std::runtime_error(why);
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options.address, ec);
  const bool useTls = !options.tlsCert.empty();
  if (useTls) {
    _impl->tls.emplace(ssl::context::tls_server);
    _impl->tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                            ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                            ssl::context::no_tlsv1_1);
    _impl->tls->use_certificate_chain_file(options.tlsCert, ec);
    if (ec) throw std::runtime_error("cannot load the certificate " + options.tlsCert);
    _impl->tls->use_private_key_file(options.tlsKey, ssl::context::pem, ec);
    if (ec) throw std::runtime_error("cannot load the private key " + options.tlsKey);
  }
  const tcp::endpoint endpoint(address, options.port);
  tcp::acceptor& a = _impl->acceptor;
  a.open(endpoint.protocol(), ec);
  if (!ec) a.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) a.bind(endpoint, ec);
  if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error("cannot listen on " + options.address + ":" +
                             std::to_string(options.port) + ": " + ec.message());
  }
}

HttpServer::~HttpServer() = default;

unsigned short HttpServer::port() const { return _impl->acceptor.local_endpoint().port(); }

void HttpServer::run() {
  _impl->signals.async_wait([this](beast::error_code ec, int) {
    if (!ec) stop();
  });
  _impl->accept();
  std::vector<std::thread> pool;
  for (int i = 1; i < std::max(1, _impl->shared.options.threads); ++i) {
    pool.emplace_back([this] { _impl->ioc.run(); });
  }
  _impl->ioc.run();
  for (std::thread& t : pool) t.join();
}

void HttpServer::stop() { _impl->ioc.stop(); }

}  // namespace quor::console
