#include "lists/AddressNorm.h"

#include <unicode/uidna.h>

#include <memory>

namespace quor::lists {
namespace {

struct IdnaCloser {
  void operator()(UIDNA* idna) const { uidna_close(idna); }
};

// One converter for the process: ICU's UTS #46 objects are immutable and
// safe to share between threads. Null when ICU cannot make one; labels then
// stay as written.
const UIDNA* idna() {
  static const std::unique_ptr<UIDNA, IdnaCloser> instance([] {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* made = uidna_openUTS46(
        UIDNA_USE_STD3_RULES | UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE,
        &status);
    return U_SUCCESS(status) ? made : nullptr;
  }());
  return instance.get();
}

bool isAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The A-label of one label holding non-ASCII bytes, or the label as written
// when IDNA refuses it.
std::string toAscii(std::string_view label) {
  const UIDNA* converter = idna();
  if (converter == nullptr || label.size() > 1024) return std::string(label);
  // An A-label of at most 63 bytes is all a valid label gives; the slack
  // covers labels IDNA reports as too long.
  std::string out(4 * label.size() + 16, '\0');
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      uidna_labelToASCII_UTF8(converter, label.data(), static_cast<int32_t>(label.size()),
                              out.data(), static_cast<int32_t>(out.size()), &info, &status);
  if (U_FAILURE(status) || info.errors != 0 || length <= 0 ||
      static_cast<std::size_t>(length) > out.size()) {
    return std::string(label);
  }
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// The full stops UTS #46 maps to ".": ideographic, full-width, half-width
// ideographic.
constexpr std::string_view kOtherFullStops[] = {"\xE3\x80\x82", "\xEF\xBC\x8E", "\xEF\xBD\xA1"};

}  // namespace

std::string canonicalDomain(std::string_view domain) {
  if (isAscii(domain)) {
    while (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
    return std::string(domain);
  }
  std::string dotted(domain);
  for (const std::string_view stop : kOtherFullStops) {
    for (auto at = dotted.find(stop); at != std::string::npos; at = dotted.find(stop, at + 1)) {
      dotted.replace(at, stop.size(), ".");
    }
  }
  std::string_view rest(dotted);
  while (!rest.empty() && rest.back() == '.') rest.remove_suffix(1);
  std::string out;
  out.reserve(rest.size());
  while (true) {
    const auto dot = rest.find('.');
    const std::string_view label = rest.substr(0, dot);
    if (isAscii(label)) {
      out.append(label);
    } else {
      out += toAscii(label);
    }
    if (dot == std::string_view::npos) break;
    out += '.';
    rest.remove_prefix(dot + 1);
  }
  return out;
}

std::string normalizeAddress(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  std::string out(address.substr(0, at));
  for (char& c : out) {
    if (c == '@') c = '\n';
  }
  out += '@';
  out += canonicalDomain(address.substr(at + 1));
  return out;
}

std::string normalizePattern(std::string_view pattern) {
  const auto at = pattern.rfind('@');
  if (at == std::string_view::npos) return std::string(pattern);
  return std::string(pattern.substr(0, at + 1)) + canonicalDomain(pattern.substr(at + 1));
}

std::optional<std::string> withoutExtension(std::string_view address, std::string_view delimiters) {
  if (delimiters.empty()) return std::nullopt;
  const auto at = address.rfind('@');
  const std::string_view local = address.substr(0, at);
  const auto cut = local.find_first_of(delimiters, 1);
  if (cut == std::string_view::npos) return std::nullopt;
  return std::string(local.substr(0, cut)) +
         std::string(at == std::string_view::npos ? std::string_view() : address.substr(at));
}

}  // namespace quor::lists
