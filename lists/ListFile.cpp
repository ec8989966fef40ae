// Reader of the list files of `quorpolicy match`.
#include "lists/ListFile.h"

#include "lists/AddressNorm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <thread>

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

constexpr std::array<std::uint32_t, 7> kAllowedPairs = {1 + 16, 1 + 32, 2 + 16, 2 + 32,
                                                        4 + 16, 8 + 32, 16 + 32};

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
  if (*first == *second || !isAllowedMembership(*first | *second))
    return MembershipProblem::NotAllowed;
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

namespace {

// The fields of one entry line, as views into the line.
struct LineFields {
  std::uint32_t membership = 0;
  std::string_view pattern;   // as written
  std::string_view original;  // empty when absent
};

// Reads one line (without its line end) into `fields`; for a malformed line
// the reason goes to `error`.
ParsedLine::Kind scanLine(std::string_view line, LineFields& fields, std::string& error) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = trim(line);
  if (rest.empty() || rest.front() == '#') return ParsedLine::Skip;

  const std::string_view membershipText = nextWord(rest);
  switch (readMembership(membershipText, fields.membership)) {
    case MembershipProblem::None:
      break;
    case MembershipProblem::Unknown:
      error = "unknown membership '" + std::string(membershipText) + "'";
      return ParsedLine::Malformed;
    case MembershipProblem::NotAllowed:
      error = "membership '" + std::string(membershipText) + "' is not an allowed combination";
      return ParsedLine::Malformed;
  }

  fields.pattern = nextWord(rest);
  if (fields.pattern.empty()) {
    error = "missing pattern after membership '" + std::string(membershipText) + "'";
    return ParsedLine::Malformed;
  }
  fields.original = trim(rest);
  return ParsedLine::Entry;
}

// The length of `pattern` in the compared form when that form is a prefix of
// it (a domain of plain ASCII loses only its trailing dots); npos when IDNA
// has to convert the domain.
std::size_t comparedPrefix(std::string_view pattern) {
  const std::size_t at = pattern.rfind('@');
  if (at == std::string_view::npos) return pattern.size();
  for (std::size_t i = at + 1; i < pattern.size(); ++i) {
    if (static_cast<unsigned char>(pattern[i]) >= 0x80) return std::string_view::npos;
  }
  std::size_t end = pattern.size();
  while (end > at + 1 && pattern[end - 1] == '.') --end;
  return end;
}

}  // namespace

ParsedLine parseListLine(std::string_view line) {
  ParsedLine parsed;
  LineFields fields;
  parsed.kind = scanLine(line, fields, parsed.error);
  if (parsed.kind != ParsedLine::Entry) return parsed;
  parsed.entry.membership = fields.membership;
  // The domain in the form the service brings addresses to (no trailing dot,
  // A-labels), so that every written form of one domain lists the same one.
  parsed.entry.pattern = normalizePattern(fields.pattern);
  if (!fields.original.empty()) parsed.entry.original = std::string(fields.original);
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

namespace {

// What one piece of a file gave: its entries with line numbers counted from
// the piece's first line, and its first malformed line.
struct Piece {
  char* begin = nullptr;
  char* end = nullptr;
  std::vector<ListEntryRef> entries;
  std::size_t lines = 0;      // lines started in the piece
  std::size_t errorLine = 0;  // within the piece; 0 for none
  std::string error;
  std::deque<std::string>* converted = nullptr;
};

// Parses the lines of one piece. Each entry's pattern and original text are
// ended in place: the byte after each (a blank, the line end or the NUL
// after the buffer) is never part of another field of the same line.
void parsePiece(Piece& piece) {
  LineFields fields;
  char* line = piece.begin;
  while (line < piece.end) {
    char* newline =
        static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(piece.end - line)));
    char* lineEnd = newline != nullptr ? newline : piece.end;
    ++piece.lines;
    const ParsedLine::Kind kind = scanLine(
        std::string_view(line, static_cast<std::size_t>(lineEnd - line)), fields, piece.error);
    if (kind == ParsedLine::Malformed) {
      piece.errorLine = piece.lines;
      return;
    }
    if (kind == ParsedLine::Entry) {
      ListEntryRef entry;
      entry.membership = fields.membership;
      entry.line = piece.lines;
      char* pattern = line + (fields.pattern.data() - line);
      const std::size_t kept = comparedPrefix(fields.pattern);
      if (kept == std::string_view::npos) {
        piece.converted->push_back(normalizePattern(fields.pattern));
        entry.pattern = piece.converted->back().c_str();
      } else {
        pattern[kept] = '\0';
        entry.pattern = pattern;
      }
      if (!fields.original.empty()) {
        char* original = line + (fields.original.data() - line);
        original[fields.original.size()] = '\0';
        entry.original = original;
      }
      piece.entries.push_back(entry);
    }
    line = lineEnd + 1;
  }
}

// Reads all of `fd` into a buffer with one NUL after the bytes.
bool readAll(int fd, std::unique_ptr<char[]>& text, std::size_t& size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::size_t capacity = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  text.reset(new char[capacity + 1]);
  size = 0;
  for (;;) {
    if (size == capacity) {
      // The file grew (or is not a regular file): make room and go on.
      const std::size_t bigger = capacity < 65536 ? 65536 : capacity * 2;
      std::unique_ptr<char[]> larger(new char[bigger + 1]);
      std::memcpy(larger.get(), text.get(), size);
      text = std::move(larger);
      capacity = bigger;
    }
    const ssize_t got = ::read(fd, text.get() + size, capacity - size);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    size += static_cast<std::size_t>(got);
  }
  text[size] = '\0';
  return true;
}

}  // namespace

ListText readListText(const std::string& path, const ReadProgress& progress, unsigned threads) {
  // Pieces smaller than this are not worth a thread of their own.
  constexpr std::size_t kMinPieceBytes = std::size_t{1} << 20;

  ListText file;
  file.name = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    file.error = path + ": cannot open list file";
    return file;
  }
  std::size_t size = 0;
  const bool read = readAll(fd, file.text, size);
  ::close(fd);
  if (!read) {
    file.text.reset();
    file.error = path + ": cannot read list file";
    return file;
  }
  char* const text = file.text.get();
  // Before the fields are cut out: a field's end may be the last line end.
  const bool lastLineEnded = size == 0 || text[size - 1] == '\n';
  if (progress) progress(size);

  // Cut the file into pieces at line ends, one per thread.
  const std::size_t count =
      std::max<std::size_t>(1, std::min<std::size_t>(threads, size / kMinPieceBytes));
  std::vector<Piece> pieces(count);
  file.converted.resize(count);
  char* start = text;
  for (std::size_t i = 0; i < count; ++i) {
    char* end = text + size;
    if (i + 1 < count) {
      end = std::max(start, text + size * (i + 1) / count);
      char* newline =
          static_cast<char*>(std::memchr(end, '\n', static_cast<std::size_t>(text + size - end)));
      end = newline != nullptr ? newline + 1 : text + size;
    }
    pieces[i].begin = start;
    pieces[i].end = end;
    pieces[i].converted = &file.converted[i];
    start = end;
  }
  if (count == 1) {
    parsePiece(pieces[0]);
  } else {
    std::vector<std::thread> workers;
    workers.reserve(count - 1);
    try {
      for (std::size_t i = 1; i < count; ++i) workers.emplace_back(parsePiece, std::ref(pieces[i]));
    } catch (const std::system_error&) {
      // Fewer threads: the pieces without one are parsed here.
    }
    for (std::size_t i = workers.size() + 1; i < count; ++i) parsePiece(pieces[i]);
    parsePiece(pieces[0]);
    for (std::thread& worker : workers) worker.join();
  }

  // Join the pieces in order, numbering their lines from the file's start;
  // the first malformed line of the earliest piece ends the file there.
  std::size_t total = 0;
  for (const Piece& piece : pieces) total += piece.entries.size();
  file.entries.reserve(total);
  std::size_t linesBefore = 0;
  for (Piece& piece : pieces) {
    for (ListEntryRef& entry : piece.entries) {
      entry.line += linesBefore;
      file.entries.push_back(entry);
    }
    if (piece.errorLine != 0) {
      file.errorLine = linesBefore + piece.errorLine;
      file.error = path + ":" + std::to_string(file.errorLine) + ": " + piece.error;
      return file;
    }
    linesBefore += piece.lines;
    std::vector<ListEntryRef>().swap(piece.entries);
  }
  // Noted, like the line reader does, for a file read to its end.
  file.unterminated = !lastLineEnded;
  return file;
}

}  // namespace quor::lists
