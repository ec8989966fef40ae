// Fuzzes the list-file reader.
//
// Invariants checked on every input:
//  1. the reader agrees with a naive model written here: lines split at line
//     feeds, blank and comment lines skipped, every other line an entry
//     until the first malformed one, which stops the reading and is named by
//     its number;
//  2. every entry written back as a line ("<membership name> <pattern>
//     <original>") reads back as the same entry;
//  3. a pattern is already in the lists' form: bringing it there again
//     changes nothing, and it holds no blank or line feed.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "lists/AddressNorm.h"
#include "lists/ListFile.h"

namespace {

using quor::lists::ListEntry;
using quor::lists::ParsedLine;

void check(bool condition) {
  if (!condition) std::abort();
}

bool sameEntry(const ListEntry& a, const ListEntry& b) {
  return a.membership == b.membership && a.pattern == b.pattern && a.original == b.original;
}

// The model: which lines hold entries, and where reading stops.
struct Model {
  std::vector<std::size_t> entryLines;
  std::size_t errorLine = 0;
};

Model naiveRead(const std::string& text) {
  Model model;
  std::size_t start = 0, number = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
    start = nl == std::string::npos ? text.size() : nl + 1;
    ++number;
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#' || line.substr(first) == "\r") continue;
    if (quor::lists::parseListLine(line).kind == ParsedLine::Malformed) {
      model.errorLine = number;
      return model;
    }
    model.entryLines.push_back(number);
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // Whole lines only: a last line without its line end is a file still being
  // written, which the loading refuses before any entry counts.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!text.empty() && text.back() != '\n') text += '\n';
  std::istringstream in(text);
  const quor::lists::ListFile file = quor::lists::readListFile(in, "fuzz.list");

  const Model model = naiveRead(text);
  check(file.errorLine == model.errorLine);
  check(file.ok() == (model.errorLine == 0));
  check(file.entries.size() == model.entryLines.size());
  for (std::size_t i = 0; i < file.entries.size(); ++i) {
    const ListEntry& entry = file.entries[i];
    check(entry.line == model.entryLines[i]);
    check(quor::lists::normalizePattern(entry.pattern) == entry.pattern);
    check(entry.pattern.find_first_of(" \t\n") == std::string::npos);

    // A trailing blank keeps a final "\r" of the pattern or the original
    // text from being read as a line end.
    std::string line = quor::lists::membershipName(entry.membership) + " " + entry.pattern + " ";
    if (entry.original) line += *entry.original + " ";
    const ParsedLine again = quor::lists::parseListLine(line);
    check(again.kind == ParsedLine::Entry && sameEntry(again.entry, entry));
  }
  return 0;
}
