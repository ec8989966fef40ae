// Addresses of the TCP side: the listen address and the blocks of clients
// allowed.
#ifndef QUORPOLICY_SERVICE_DETAIL_NETWORK_H_
#define QUORPOLICY_SERVICE_DETAIL_NETWORK_H_

#include <string>

#include "service/detail/Asio.h"

namespace quor::service::detail {

// One block of client addresses, as in "192.0.2.0/24" or "2001:db8::/32".
// IPv4 is kept as IPv4-mapped IPv6, so that one comparison serves both.
struct AddressBlock {
  asio::ip::address_v6::bytes_type bytes{};
  unsigned bits = 0;

  static asio::ip::address_v6 mapped(const asio::ip::address& a);
  bool contains(const asio::ip::address& a) const;
};

// "ADDRESS/BITS" or a bare address; host bits set are refused as a likely
// typing error. Throws StartError (BadOptions).
AddressBlock parseAddressBlock(const std::string& text);

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback.
bool isLoopback(const asio::ip::address& a);

// "127.0.0.1:10040", "[::1]:10040", "localhost:10040": the first address the
// resolver gives. Throws StartError (BadOptions).
asio::ip::tcp::endpoint parseListen(asio::io_context& io, const std::string& text);

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_NETWORK_H_
