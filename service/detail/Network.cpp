#include "service/detail/Network.h"

#include <charconv>

#include "service/Server.h"

namespace quor::service::detail {

asio::ip::address_v6 AddressBlock::mapped(const asio::ip::address& a) {
  return a.is_v4() ? asio::ip::make_address_v6(asio::ip::v4_mapped, a.to_v4()) : a.to_v6();
}

bool AddressBlock::contains(const asio::ip::address& a) const {
  const auto other = mapped(a).to_bytes();
  for (unsigned i = 0; i < bits; ++i) {
    const unsigned mask = 0x80u >> (i % 8);
    if ((bytes[i / 8] & mask) != (other[i / 8] & mask)) return false;
  }
  return true;
}

AddressBlock parseAddressBlock(const std::string& text) {
  const auto slash = text.find('/');
  ErrorCode ec;
  const auto address = asio::ip::make_address(text.substr(0, slash), ec);
  bool bad = static_cast<bool>(ec);
  const unsigned width = address.is_v4() ? 32 : 128;
  unsigned bits = width;
  if (!bad && slash != std::string::npos) {
    const char* first = text.data() + slash + 1;
    const char* last = text.data() + text.size();
    const auto [end, err] = std::from_chars(first, last, bits);
    bad = first == last || err != std::errc() || end != last || bits > width;
  }
  if (bad) {
    throw StartError(StartError::BadOptions, "--allow-from: '" + text + "' is not ADDRESS/BITS");
  }
  AddressBlock block;
  block.bytes = AddressBlock::mapped(address).to_bytes();
  block.bits = bits + (width == 32 ? 96 : 0);
  for (unsigned i = block.bits; i < 128; ++i) {
    if ((block.bytes[i / 8] & (0x80u >> (i % 8))) != 0) {
      throw StartError(StartError::BadOptions,
                       "--allow-from: '" + text + "' has bits set after its prefix");
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

asio::ip::tcp::endpoint parseListen(asio::io_context& io, const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) {
    throw StartError(StartError::BadOptions, "--listen wants ADDRESS:PORT, not '" + text + "'");
  }
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  ErrorCode ec;
  asio::ip::tcp::resolver resolver(io);
  const auto results = resolver.resolve(host, port, asio::ip::resolver_base::numeric_service, ec);
  if (ec || results.empty()) {
    throw StartError(StartError::BadOptions, "cannot resolve --listen " + text + ": " +
                                                 (ec ? ec.message() : std::string("no address")));
  }
  return results.begin()->endpoint();
}

}  // namespace quor::service::detail
