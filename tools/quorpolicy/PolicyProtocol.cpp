#include "tools/quorpolicy/PolicyProtocol.h"

namespace quor::tool {

std::optional<std::string_view> PolicyRequest::get(std::string_view name) const {
  for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
    if (it->first == name) return std::string_view(it->second);
  }
  return std::nullopt;
}

namespace {

std::string_view stripCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Where the empty line that ends a request starting at `from` ends, or npos.
std::size_t requestEnd(const std::string& data, std::size_t from) {
  std::size_t lineStart = from;
  while (true) {
    const std::size_t nl = data.find('\n', lineStart);
    if (nl == std::string::npos) return std::string::npos;
    if (stripCr(std::string_view(data).substr(lineStart, nl - lineStart)).empty()) return nl + 1;
    lineStart = nl + 1;
  }
}

std::string lastComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<ParsedRequest> RequestBuffer::next() {
  // Leading empty lines are keep-alive noise between requests, not requests.
  while (_used < _data.size()) {
    const std::size_t nl = _data.find('\n', _used);
    if (nl == std::string::npos ||
        !stripCr(std::string_view(_data).substr(_used, nl - _used)).empty())
      break;
    _used = nl + 1;
  }
  const std::size_t end = requestEnd(_data, _used);
  if (end == std::string::npos) {
    if (_data.size() - _used > kMaxRequestBytes) {
      ParsedRequest overflow;
      overflow.kind = ParsedRequest::Overflow;
      overflow.error = "no end of request within " + std::to_string(kMaxRequestBytes) + " bytes";
      _data.clear();
      _used = 0;
      return overflow;
    }
    // Keep the buffer small: drop what was consumed.
    if (_used > 0) {
      _data.erase(0, _used);
      _used = 0;
    }
    return std::nullopt;
  }

  ParsedRequest parsed;
  std::size_t lineStart = _used;
  std::size_t number = 0;
  while (lineStart < end) {
    const std::size_t nl = _data.find('\n', lineStart);
    const std::string_view line =
        stripCr(std::string_view(_data).substr(lineStart, nl - lineStart));
    lineStart = nl + 1;
    ++number;
    if (line.empty()) break;
    if (parsed.kind != ParsedRequest::Request) continue;
    if (line.size() > kMaxAttributeBytes) {
      parsed.kind = ParsedRequest::Malformed;
      parsed.error = "line " + std::to_string(number) + " is longer than " +
                     std::to_string(kMaxAttributeBytes) + " bytes";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      parsed.kind = ParsedRequest::Malformed;
      parsed.error = "line " + std::to_string(number) + " is not name=value";
      continue;
    }
    parsed.request.attributes.emplace_back(std::string(line.substr(0, eq)),
                                           std::string(line.substr(eq + 1)));
  }
  if (parsed.kind != ParsedRequest::Request) parsed.request.attributes.clear();
  _used = end;
  if (_used == _data.size()) {
    _data.clear();
    _used = 0;
  }
  return parsed;
}

PolicyDecision dunno() { return {PolicyDecision::Dunno, "action=DUNNO"}; }

PolicyDecision decide(const ListSet& lists, const PolicyRequest& request, CheckWhat what,
                      const std::string& rejectText) {
  const char* names[2] = {nullptr, nullptr};
  if (what != CheckWhat::Recipient) names[0] = "sender";
  if (what != CheckWhat::Sender) names[1] = "recipient";

  bool white = false;
  for (const char* name : names) {
    if (name == nullptr) continue;
    const auto address = request.get(name);
    if (!address || address->empty()) continue;  // the null sender is not listed
    const ListAnswer a = lists.answer(std::string(*address), false);
    if (ZoWildcardEmail::isBlacklisted(a.result)) {
      std::string text = rejectText;
      if (text.empty()) {
        text =
            std::string(name) + " address is black-listed in " + lastComponent(lists.name(a.tree));
      }
      return {PolicyDecision::Reject, "action=REJECT " + text};
    }
    if (ZoWildcardEmail::isWhitelisted(a.result)) white = true;
  }
  if (white) return {PolicyDecision::Ok, "action=OK"};
  return dunno();
}

}  // namespace quor::tool
