// Fuzzes the cutting of a connection's bytes into policy requests.
//
// Invariants checked on every input:
//  1. the requests (and the fault that ends the stream) are the same however
//     the bytes are split into appends: all at once, byte by byte, and in
//     pieces whose sizes come from the input's first bytes;
//  2. every request returned is one the server may decide: its type is
//     smtpd_access_policy, no name is empty, no name or value holds a line
//     feed or is longer than the attribute limit, and it fits the request
//     limit;
//  3. bringing a sender or recipient to the lists' form twice gives what
//     doing it once gives.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lists/AddressNorm.h"
#include "service/PolicyProtocol.h"

namespace {

using quor::service::ParsedRequest;
using quor::service::RequestBuffer;

void check(bool condition) {
  if (!condition) std::abort();
}

// The stream cut with the piece sizes of `sizes` in turn (0 counts as 1).
std::vector<std::string> cut(std::string_view stream, const std::vector<std::size_t>& sizes,
                             std::vector<quor::service::PolicyRequest>* requests) {
  RequestBuffer buffer;
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t piece =
        sizes.empty() ? stream.size() : std::max<std::size_t>(1, sizes[i % sizes.size()]);
    buffer.append(stream.substr(at, piece));
    at += piece;
    while (auto parsed = buffer.next()) {
      std::string text = std::to_string(parsed->kind) + ":" + parsed->error;
      for (const auto& [name, value] : parsed->request.attributes) {
        text += name;
        text += '=';
        text += value;
        text += '\n';
      }
      out.push_back(text);
      if (requests != nullptr && parsed->kind == ParsedRequest::Request) {
        requests->push_back(parsed->request);
      }
    }
  }
  out.push_back(buffer.pending() ? "pending" : "idle");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose piece sizes; the rest is the stream.
  const std::vector<std::size_t> sizes = {data[0] % 64u, data[1] % 9u, data[0] / 4u + 1};
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::vector<quor::service::PolicyRequest> requests;
  const auto whole = cut(stream, {}, &requests);
  check(cut(stream, {1}, nullptr) == whole);
  check(cut(stream, sizes, nullptr) == whole);

  for (const auto& request : requests) {
    check(request.get("request") == std::string_view("smtpd_access_policy"));
    std::size_t bytes = 1;
    for (const auto& [name, value] : request.attributes) {
      check(!name.empty() && name.find('\n') == std::string::npos);
      check(value.find('\n') == std::string::npos);
      check(name.size() + 1 + value.size() <= quor::service::kMaxAttributeBytes);
      bytes += name.size() + 1 + value.size() + 1;
    }
    check(bytes <= quor::service::kMaxRequestBytes);
    for (const char* role : {"sender", "recipient"}) {
      const std::string once = quor::lists::normalizeAddress(request.get(role).value_or(""));
      check(quor::lists::normalizeAddress(once) == once);
    }
  }
  return 0;
}
