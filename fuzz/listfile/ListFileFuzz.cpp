// Fuzzes the list-file reader.
//
// Invariants checked on every input (which lines are entries and where
// reading stops is the reader's tests' business):
//  1. every entry written back as a line ("<membership name> <pattern>
//     <original>") reads back as the same entry;
//  2. a pattern is already in the lists' form: bringing it there again
//     changes nothing, and it holds no blank or line feed.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // Whole lines only: a last line without its line end is a file still being
  // written, which the loading refuses before any entry counts.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!text.empty() && text.back() != '\n') text += '\n';
  std::istringstream in(text);
  const quor::lists::ListFile file = quor::lists::readListFile(in, "fuzz.list");

  for (const ListEntry& entry : file.entries) {
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
