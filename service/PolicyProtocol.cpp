#include "service/PolicyProtocol.h"

#include "lists/AddressNorm.h"

namespace quor::service {

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

// The length of the UTF-8 sequence at the start of `s` when it is valid and
// not a C1 control character, else 0.
std::size_t utf8Length(std::string_view s) {
  const auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    if (lead == 0xC2) low = 0xA0;  // U+0080 to U+009F are control characters
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < low || b(1) > high) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return n;
}

const char* roleAddress(const char* role) {
  return role[0] == 's' ? "sender address rejected by policy"
                        : "recipient address rejected by policy";
}

}  // namespace

std::string escapeForLog(std::string_view bytes, std::size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (out.size() >= limit) return out + "...";
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c > 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      if (const std::size_t n = utf8Length(bytes.substr(i)); n > 0) {
        out.append(bytes.substr(i, n));
        i += n;
        continue;
      }
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    ++i;
  }
  return out;
}

void RequestBuffer::append(std::string_view bytes) {
  if (!_failed) _data.append(bytes);
}

std::optional<ParsedRequest> RequestBuffer::fail(ParsedRequest::Kind kind, std::string error) {
  _failed = true;
  _data.clear();
  _line = 0;
  _current.attributes.clear();
  ParsedRequest parsed;
  parsed.kind = kind;
  parsed.error = std::move(error);
  return parsed;
}

std::optional<ParsedRequest> RequestBuffer::next() {
  if (_failed) return std::nullopt;
  // Every fault is reported at the first byte that proves it, the earliest
  // first, so that how the bytes arrived never changes what is reported.
  while (true) {
    const std::size_t nl = _data.find('\n', _line);
    const std::size_t seen = (nl == std::string::npos ? _data.size() : nl) - _line;
    const std::string_view raw = std::string_view(_data).substr(_line, seen);
    const std::size_t lineNumber = _current.attributes.size() + 1;

    // Offsets into the line of the byte that makes the request too long and
    // of the byte that makes the line too long ("\r" before "\n" is a line
    // end, not content).
    const std::size_t overflowAt = kMaxRequestBytes - _start;
    std::size_t longAt = std::string::npos;
    if (seen > kMaxAttributeBytes) {
      longAt = raw[kMaxAttributeBytes] != '\r' || seen > kMaxAttributeBytes + 1
                   ? kMaxAttributeBytes + (raw[kMaxAttributeBytes] == '\r' ? 1 : 0)
                   : std::string::npos;
    }
    const std::size_t endAt = nl == std::string::npos ? std::string::npos : seen;
    if (overflowAt <= seen && (nl != std::string::npos || overflowAt < seen) &&
        overflowAt <= longAt) {
      return fail(ParsedRequest::Overflow,
                  "no end of request within " + std::to_string(kMaxRequestBytes) + " bytes");
    }
    if (longAt != std::string::npos) {
      return fail(ParsedRequest::Malformed, "line " + std::to_string(lineNumber) +
                                                " is longer than " +
                                                std::to_string(kMaxAttributeBytes) + " bytes");
    }
    if (endAt == std::string::npos) break;

    const std::string_view line = stripCr(raw);
    _line = nl + 1;
    if (line.empty()) {
      if (_current.attributes.empty()) continue;  // keep-alive noise between requests
      ParsedRequest parsed;
      parsed.request = std::move(_current);
      _current = PolicyRequest();
      _start = 0;
      const auto type = parsed.request.get("request");
      if (!type) return fail(ParsedRequest::Malformed, "no request type");
      if (*type != "smtpd_access_policy") {
        return fail(ParsedRequest::Malformed,
                    "unknown request type '" + escapeForLog(*type, 64) + "'");
      }
      return parsed;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      return fail(ParsedRequest::Malformed, "line " + std::to_string(lineNumber) +
                                                " is not name=value: '" + escapeForLog(line, 64) +
                                                "'");
    }
    _current.attributes.emplace_back(std::string(line.substr(0, eq)),
                                     std::string(line.substr(eq + 1)));
    _start += seen + 1;
  }
  // Keep the buffer small: drop the lines already taken.
  _data.erase(0, _line);
  _line = 0;
  return std::nullopt;
}

namespace {

// The deciding answer for one address of the request.
lists::ListAnswer ask(const lists::ListSet& lists, std::string_view raw,
                      const DecideOptions& options) {
  const std::string address = lists::normalizeAddress(raw);
  lists::ListAnswer a = lists.answer(address, false);
  const auto base = lists::withoutExtension(address, options.delimiters);
  if (!base) return a;
  // Listed as such: the deciding pattern names the whole local part, the
  // extension included (the matcher gives patterns lower-cased).
  if (a.listed) {
    std::string local = address.substr(0, address.rfind('@'));
    for (char& c : local) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (a.pattern.compare(0, a.pattern.find('@'), local) == 0) return a;
  }
  return lists.answer(*base, false);
}

// The answer to a listed address.
void answerListed(PolicyDecision& d, bool black, const char* role, const DecideOptions& options) {
  const std::string text = options.rejectText.empty() ? roleAddress(role) : options.rejectText;
  const bool header = !options.prependHeader.empty();
  d.role = role;
  if (!black) {
    d.kind = PolicyDecision::Ok;
    d.action = header ? "action=PREPEND " + options.prependHeader + ": white-listed" : "action=OK";
    return;
  }
  d.kind = PolicyDecision::Reject;
  switch (options.blackAction) {
    case BlackAction::Reject:
      d.action = "action=REJECT " + text;
      break;
    case BlackAction::DeferIfPermit:
      d.action = "action=DEFER_IF_PERMIT " + text;
      break;
    case BlackAction::Warn:
      d.action = header ? "action=PREPEND " + options.prependHeader + ": black-listed"
                        : "action=WARN " + text;
      break;
  }
}

PolicyDecision notListed() {
  PolicyDecision d;
  d.action = "action=DUNNO";
  return d;
}

// The database's decision of the sender for the recipient; with delimiters
// "user+tag@d" is decided as "user@d" unless the whole address is listed.
lists::DbDecision askDb(const lists::DbPolicy& db, std::string_view sender,
                        std::string_view recipient, const DecideOptions& options) {
  const std::string from = lists::normalizeAddress(sender);
  std::string to = lists::normalizeAddress(recipient);
  if (auto base = lists::withoutExtension(to, options.delimiters)) to = std::move(*base);
  lists::DbDecision a = db.decide(from, to);
  if (a.listed) return a;
  const auto base = lists::withoutExtension(from, options.delimiters);
  return base ? db.decide(*base, to) : a;
}

}  // namespace

PolicyDecision decide(const lists::ListSet& lists, const PolicyRequest& request,
                      const DecideOptions& options) {
  // The recipient first: with both checked, a listed recipient decides.
  const char* roles[2] = {nullptr, nullptr};
  if (options.what != CheckWhat::Sender) roles[0] = "recipient";
  if (options.what != CheckWhat::Recipient) roles[1] = "sender";

  for (const char* role : roles) {
    if (role == nullptr) continue;
    const auto address = request.get(role);
    if (!address || address->empty()) continue;  // the null sender is not listed
    const lists::ListAnswer a = ask(lists, *address, options);
    const bool black = ZoWildcardEmail::isBlacklisted(a.result);
    if (!black && !ZoWildcardEmail::isWhitelisted(a.result)) continue;

    PolicyDecision d;
    d.list = a.tree;
    d.line = a.line;
    d.pattern = a.pattern;
    answerListed(d, black, role, options);
    return d;
  }
  return notListed();
}

PolicyDecision decide(const lists::ListSet* lists, const lists::DbPolicy* db,
                      const PolicyRequest& request, const DecideOptions& options) {
  if (lists != nullptr) {
    PolicyDecision d = decide(*lists, request, options);
    if (d.kind != PolicyDecision::Dunno || db == nullptr) return d;
  }
  if (db == nullptr) return notListed();
  const auto sender = request.get("sender");
  const auto recipient = request.get("recipient");
  if (!sender || sender->empty() || !recipient || recipient->empty()) return notListed();
  lists::DbDecision a = askDb(*db, *sender, *recipient, options);
  const bool black = ZoWildcardEmail::isBlacklisted(a.result);
  if (!black && !ZoWildcardEmail::isWhitelisted(a.result)) return notListed();
  PolicyDecision d;
  d.pattern = a.pattern;
  d.db = std::move(a);
  answerListed(d, black, "sender", options);
  return d;
}

std::string decisionLogLine(const lists::ListSet* lists, const PolicyRequest& request,
                            const PolicyDecision& decision) {
  const auto value = [&request](const char* name) {
    return escapeForLog(request.get(name).value_or(std::string_view()));
  };
  const std::string queueId = value("queue_id");
  std::string line = "decision: queue_id=" + (queueId.empty() ? "NOQUEUE" : queueId) +
                     " client_address=" + value("client_address") + " sender=<" + value("sender") +
                     "> recipient=<" + value("recipient") + "> ";
  const std::string_view action = std::string_view(decision.action).substr(7);  // "action="
  line += decision.kind == PolicyDecision::Ok       ? "white-listed"
          : decision.kind == PolicyDecision::Reject ? "black-listed"
                                                    : "not-listed";
  line += " action=" + escapeForLog(action.substr(0, action.find(' ')));
  if (decision.role == nullptr) return line;
  line += std::string(" by=") + decision.role;
  if (decision.db) {
    const lists::DbDecision& db = *decision.db;
    line += " entity=" + std::to_string(db.entity) + "(" + escapeForLog(db.entityName) +
            ") group=" + std::to_string(db.group) + "(" + escapeForLog(db.groupName) +
            ") member=" + escapeForLog(db.pattern) + " membership=" + db.membership;
    return line;
  }
  const std::string list = lists != nullptr ? lists->name(decision.list) : std::string();
  line += " list=" + escapeForLog(list) + " line=" + std::to_string(decision.line) +
          " pattern=" + escapeForLog(decision.pattern);
  return line;
}

}  // namespace quor::service
