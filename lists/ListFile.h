// The list files of `quorpolicy match`: one black or white list per file.
//
// A list file holds one entry per line:
//
//     <membership> <pattern> [<original address text>]
//
// Fields are separated by blanks (spaces or tabs). The membership is a name
// (nonoverrideable-white, nonoverrideable-black, overrideable-black,
// overrideable-white, white-subtraction, black-subtraction, or none), two
// names joined with "+" for the allowed pairs, or the decimal value of an
// allowed membership. The pattern is one word; everything after it, trimmed,
// is the original address text kept with the entry. Blank lines and lines
// whose first non-blank character is "#" are skipped. Names are read without
// regard to ASCII case.
//
// The reader does not know the matcher: it checks the syntax and that the
// membership is one of the allowed states, and leaves everything else (for
// example two entries of one pattern that conflict) to the tree.
#ifndef QUORPOLICY_LISTS_LISTFILE_H_
#define QUORPOLICY_LISTS_LISTFILE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quor::lists {

// One entry of a list file.
struct ListEntry {
  std::uint32_t membership = 0;
  std::string pattern;
  std::optional<std::string> original;  // absent when the line has no third field
  std::size_t line = 0;                 // 1-based line number in its file
};

// The outcome of reading one line: an entry, nothing (blank or comment), or
// an error text describing why the line is malformed.
struct ParsedLine {
  enum Kind { Skip, Entry, Malformed };
  Kind kind = Skip;
  ListEntry entry;    // valid when kind == Entry (line left 0)
  std::string error;  // valid when kind == Malformed
};

// Reads one line (without its line end; a trailing "\r" is ignored).
ParsedLine parseListLine(std::string_view line);

// The membership value of `text`: a name, a pair of names joined with "+"
// (in either order), or a decimal number. Empty when the text names no
// allowed membership.
std::optional<std::uint32_t> parseMembership(std::string_view text);

// The canonical name of an allowed membership ("none" for 0, pairs in
// ascending bit order joined with "+"); the decimal value for any other.
std::string membershipName(std::uint32_t membership);

// True for the memberships a list entry may carry: none, one list bit, or the
// pairs 1+16, 1+32, 2+16, 2+32, 4+16, 8+32 and 16+32.
bool isAllowedMembership(std::uint32_t membership);

// A whole list file, or the first malformed line of it.
struct ListFile {
  std::string name;                // as given by the user
  std::vector<ListEntry> entries;  // in file order
  std::size_t errorLine = 0;       // 0 when the file was read completely
  std::string error;               // "<name>:<line>: <why>" or an I/O failure
  bool unterminated = false;       // the last line has no line end
  bool ok() const { return error.empty(); }
};

// Called now and then while a file is read with the bytes consumed so far.
using ReadProgress = std::function<void(std::uint64_t bytesRead)>;

// Reads every line of `in`; stops at the first malformed line. `name` is used
// only in error texts. `progress` may be empty. A last line without its line
// end is read like any other and noted in `unterminated`.
ListFile readListFile(std::istream& in, const std::string& name, const ReadProgress& progress = {});

// Opens and reads the file `path`; a file that cannot be opened gives an
// error "<path>: cannot open list file" with errorLine 0.
ListFile readListFile(const std::string& path, const ReadProgress& progress = {});

// One entry of a list read whole: its texts point into the ListText.
struct ListEntryRef {
  const char* pattern = nullptr;   // in the compared form, NUL-terminated
  const char* original = nullptr;  // null when the line has no third field
  std::uint32_t membership = 0;
  std::size_t line = 0;
};

// A list file read in one piece for loading: the file's bytes in one buffer,
// every entry's fields cut out of it in place, nothing allocated per line
// (apart from patterns whose domain IDNA converts).
struct ListText {
  std::string name;
  std::vector<ListEntryRef> entries;  // in file order
  std::size_t errorLine = 0;
  std::string error;
  bool unterminated = false;
  bool ok() const { return error.empty(); }

  std::unique_ptr<char[]> text;                    // the file, cut up
  std::vector<std::deque<std::string>> converted;  // converted patterns
};

// Reads the file `path` with the same outcome as readListFile (entries,
// line numbers, the first malformed line and its error text), parsing
// pieces of a large file on up to `threads` threads. `progress` is called
// once, after reading, on the calling thread. A file that cannot be read
// gives "<path>: cannot read list file" with errorLine 0.
ListText readListText(const std::string& path, const ReadProgress& progress = {},
                      unsigned threads = 1);

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_LISTFILE_H_
