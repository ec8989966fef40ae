// Reader of the list files of `quorpolicy match`.
#include "lists/ListFile.h"

#include "lists/AddressNorm.h"

#include <array>
#include <charconv>
#include <fstream>

namespace quor::lists {
namespace {

struct NamedBit {
  std::string_view name;
  std::uint32_t bit;
};

// In ascending bit order, which is also the order of names in a pair.
constexpr std::array<NamedBit, 6> kMembershipNames = {{
    {"nonoverrideable-white", 1},
    {"nonoverrideable-black", 2},
    {"overrideable-black", 4},
    {"overrideable-white", 8},
    {"white-subtraction", 16},
    {"black-subtraction", 32},
}};

constexpr std::array<std::uint32_t, 7> kAllowedPairs = {1 + 16, 1 + 32, 2 + 16, 2 + 32, 4 + 16, 8 + 32, 16 + 32};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits off the first blank-separated word of `rest`.
std::string_view nextWord(std::string_view& rest) {
  rest = trim(rest);
  std::size_t end = 0;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<std::uint32_t> bitOfName(std::string_view name) {
  for (const auto& n : kMembershipNames) {
    if (equalsIgnoringAsciiCase(name, n.name)) return n.bit;
  }
  return std::nullopt;
}

// Why `text` is not a membership, for the error message.
enum class MembershipProblem { None, Unknown, NotAllowed };

MembershipProblem readMembership(std::string_view text, std::uint32_t& out) {
  if (text.empty()) return MembershipProblem::Unknown;
  if (text.front() >= '0' && text.front() <= '9') {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return MembershipProblem::Unknown;
    if (!isAllowedMembership(value)) return MembershipProblem::NotAllowed;
    out = value;
    return MembershipProblem::None;
  }
  if (equalsIgnoringAsciiCase(text, "none")) {
    out = 0;
    return MembershipProblem::None;
  }
  const std::size_t plus = text.find('+');
  if (plus == std::string_view::npos) {
    const auto bit = bitOfName(text);
    if (!bit) return MembershipProblem::Unknown;
    out = *bit;
    return MembershipProblem::None;
  }
  const auto first = bitOfName(text.substr(0, plus));
  const auto second = bitOfName(text.substr(plus + 1));
  if (!first || !second) return MembershipProblem::Unknown;
  // The same name twice is a pair of nothing; report it as not allowed.
  if (*first == *second || !isAllowedMembership(*first | *second)) return MembershipProblem::NotAllowed;
  out = *first | *second;
  return MembershipProblem::None;
}

}  // namespace

bool isAllowedMembership(std::uint32_t membership) {
  if (membership == 0) return true;
  for (const auto& n : kMembershipNames) {
    if (membership == n.bit) return true;
  }
  for (std::uint32_t pair : kAllowedPairs) {
    if (membership == pair) return true;
  }
  return false;
}

std::optional<std::uint32_t> parseMembership(std::string_view text) {
  std::uint32_t value = 0;
  if (readMembership(text, value) != MembershipProblem::None) return std::nullopt;
  return value;
}

std::string membershipName(std::uint32_t membership) {
  if (!isAllowedMembership(membership)) return std::to_string(membership);
  if (membership == 0) return "none";
  std::string name;
  for (const auto& n : kMembershipNames) {
    if ((membership & n.bit) == 0) continue;
    if (!name.empty()) name += '+';
    name += n.name;
  }
  return name;
}

ParsedLine parseListLine(std::string_view line) {
  ParsedLine parsed;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = trim(line);
  if (rest.empty() || rest.front() == '#') return parsed;

  const std::string_view membershipText = nextWord(rest);
  std::uint32_t membership = 0;
  switch (readMembership(membershipText, membership)) {
    case MembershipProblem::None:
      break;
    case MembershipProblem::Unknown:
      parsed.kind = ParsedLine::Malformed;
      parsed.error = "unknown membership '" + std::string(membershipText) + "'";
      return parsed;
    case MembershipProblem::NotAllowed:
      parsed.kind = ParsedLine::Malformed;
      parsed.error = "membership '" + std::string(membershipText) + "' is not an allowed combination";
      return parsed;
  }

  const std::string_view pattern = nextWord(rest);
  if (pattern.empty()) {
    parsed.kind = ParsedLine::Malformed;
    parsed.error = "missing pattern after membership '" + std::string(membershipText) + "'";
    return parsed;
  }

  parsed.kind = ParsedLine::Entry;
  parsed.entry.membership = membership;
  // The domain in the form the service brings addresses to (no trailing dot,
  // A-labels), so that every written form of one domain lists the same one.
  parsed.entry.pattern = normalizePattern(pattern);
  const std::string_view original = trim(rest);
  if (!original.empty()) parsed.entry.original = std::string(original);
  return parsed;
}

ListFile readListFile(std::istream& in, const std::string& name, const ReadProgress& progress) {
  // Progress is reported every this many lines: often enough for a terminal,
  // rarely enough to cost nothing.
  constexpr std::size_t kProgressEvery = 1u << 16;

  ListFile file;
  file.name = name;
  std::string text;
  std::size_t lineNumber = 0;
  std::uint64_t bytesRead = 0;
  while (std::getline(in, text)) {
    ++lineNumber;
    bytesRead += text.size() + 1;
    // getline sets eof only when the line ended at the end of the input.
    if (in.eof()) file.unterminated = true;
    ParsedLine parsed = parseListLine(text);
    if (parsed.kind == ParsedLine::Malformed) {
      file.errorLine = lineNumber;
      file.error = name + ":" + std::to_string(lineNumber) + ": " + parsed.error;
      return file;
    }
    if (parsed.kind == ParsedLine::Entry) {
      parsed.entry.line = lineNumber;
      file.entries.push_back(std::move(parsed.entry));
    }
    if (progress && lineNumber % kProgressEvery == 0) progress(bytesRead);
  }
  if (in.bad()) {
    file.errorLine = lineNumber + 1;
    file.error = name + ":" + std::to_string(lineNumber + 1) + ": read error";
    return file;
  }
  if (progress) progress(bytesRead);
  return file;
}

ListFile readListFile(const std::string& path, const ReadProgress& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ListFile file;
    file.name = path;
    file.error = path + ": cannot open list file";
    return file;
  }
  return readListFile(in, path, progress);
}

}  // namespace quor::lists
