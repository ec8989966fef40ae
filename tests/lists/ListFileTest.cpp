// The list-file reader: lines, memberships and where reading stops.
#include <gtest/gtest.h>

#include <bit>
#include <sstream>

#include "lists/ListFile.h"
#include "support/ScratchDir.h"

namespace quor::lists {
namespace {

TEST(ListFile, ParseListLine_ReadsEntriesAndSkipsBlankAndComments) {
  struct Case {
    const char* name;
    const char* line;
    ParsedLine::Kind kind;
    std::uint32_t membership;
    const char* pattern;
    const char* original;  // null: no original text
  };
  const Case cases[] = {
      {"blanks only", " \t  ", ParsedLine::Skip, 0, "", nullptr},
      {"indented comment", "   #overrideable-white x@y", ParsedLine::Skip, 0, "", nullptr},
      {"single name", "nonoverrideable-white *@a.b", ParsedLine::Entry, 1, "*@a.b", nullptr},
      {"pair", "nonoverrideable-white+white-subtraction u@a.b", ParsedLine::Entry, 17, "u@a.b",
       nullptr},
      {"names ignore case", "Overrideable-BLACK U@A.B", ParsedLine::Entry, 4, "U@A.B", nullptr},
      {"original text with blanks", "overrideable-white u@a.b   Jo Doe <U@A.B>  ",
       ParsedLine::Entry, 8, "u@a.b", "Jo Doe <U@A.B>"},
      {"tabs and carriage return", "\toverrideable-white\tu@a.b\tJo\r", ParsedLine::Entry, 8,
       "u@a.b", "Jo"},
      {"hash inside the original text", "2 u@a.b ticket #12", ParsedLine::Entry, 2, "u@a.b",
       "ticket #12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedLine got = parseListLine(c.line);
    ASSERT_EQ(c.kind, got.kind) << got.error;
    if (c.kind != ParsedLine::Entry) continue;
    EXPECT_EQ(c.membership, got.entry.membership);
    EXPECT_EQ(c.pattern, got.entry.pattern);
    if (c.original == nullptr) {
      EXPECT_FALSE(got.entry.original.has_value());
    } else {
      ASSERT_TRUE(got.entry.original.has_value());
      EXPECT_EQ(c.original, *got.entry.original);
    }
  }
}

TEST(ListFile, ParseListLine_ExplainsMalformedLines) {
  struct Case {
    const char* name;
    const char* line;
    const char* error;
  };
  const Case cases[] = {
      {"two list bits", "nonoverrideable-white+nonoverrideable-black u@a.b",
       "membership 'nonoverrideable-white+nonoverrideable-black' is not an allowed combination"},
      {"white with white subtraction", "24 u@a.b", "membership '24' is not an allowed combination"},
      {"same name twice", "white-subtraction+white-subtraction u@a.b",
       "membership 'white-subtraction+white-subtraction' is not an allowed combination"},
      {"trailing plus", "overrideable-white+ u@a.b", "unknown membership 'overrideable-white+'"},
      {"number too large", "99999999999 u@a.b", "unknown membership '99999999999'"},
      {"negative number", "-1 u@a.b", "unknown membership '-1'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedLine got = parseListLine(c.line);
    EXPECT_EQ(ParsedLine::Malformed, got.kind);
    EXPECT_EQ(c.error, got.error);
  }
}

// A line's membership is read as parseMembership reads it. The allowed
// memberships, from the rule rather than from the reader's table: no bit, a
// single bit of 1 to 32, or two bits of which one is a subtraction bit,
// except 4+32 and 8+16.
bool allowedByRule(std::uint32_t m) {
  if (m >= 64) return false;
  const int bits = std::popcount(m);
  if (bits <= 1) return true;
  if (bits > 2 || (m & (16 | 32)) == 0) return false;
  return m != (4 | 32) && m != (8 | 16);
}

TEST(ListFile, Membership_NamesRoundTripForEveryAllowedValue) {
  int allowed = 0;
  for (std::uint32_t m = 0; m < 130; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(allowedByRule(m), isAllowedMembership(m));
    const std::string name = membershipName(m);
    if (!allowedByRule(m)) {
      EXPECT_EQ(std::to_string(m), name);
      EXPECT_FALSE(parseMembership(name).has_value());
      continue;
    }
    ++allowed;
    EXPECT_EQ(std::optional<std::uint32_t>(m), parseMembership(name));
    EXPECT_EQ(std::optional<std::uint32_t>(m), parseMembership(std::to_string(m)));
  }
  EXPECT_EQ(14, allowed);  // none, six single bits, seven pairs
  EXPECT_EQ("overrideable-black+white-subtraction", membershipName(20));
  EXPECT_EQ("none", membershipName(0));
}

TEST(ListFile, Read_KeepsLineNumbersAndStopsAtFirstMalformedLine) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t entries;
    std::size_t errorLine;
    const char* error;
  };
  const Case cases[] = {
      {"all good", "# c\n\n1 a@b\n8 *@c.d Cee\n", 2, 0, ""},
      {"no final line end", "1 a@b\n2 c@d", 2, 0, ""},
      {"empty file", "", 0, 0, ""},
      {"malformed third line", "1 a@b\n\nbogus x@y\n1 c@d\n", 1, 3,
       "w.list:3: unknown membership 'bogus'"},
      {"malformed after crlf lines", "1 a@b\r\n2\r\n", 1, 2,
       "w.list:2: missing pattern after membership '2'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.text);
    const ListFile got = readListFile(in, "w.list");
    EXPECT_EQ(c.entries, got.entries.size());
    EXPECT_EQ(c.errorLine, got.errorLine);
    EXPECT_EQ(c.error, got.error);
    EXPECT_EQ(c.error[0] == '\0', got.ok());
  }
}

TEST(ListFile, Read_NotesALastLineWithoutLineEnd) {
  const std::pair<const char*, bool> cases[] = {
      {"", false}, {"1 a@b\n", false}, {"1 a@b\n2 c@d", true}, {"# c", true}, {"1 a@b\r\n", false}};
  for (const auto& [text, unterminated] : cases) {
    SCOPED_TRACE(text);
    std::istringstream in(text);
    EXPECT_EQ(unterminated, readListFile(in, "w.list").unterminated);
  }
}

// The whole-file reader agrees with the line reader on entries (pattern in
// the compared form, original text, membership, line), the first error and
// a missing last line end; files of several pieces are parsed on several
// threads and must come out the same, in order.
using ListFileText = test::ScratchDirTest;
TEST_F(ListFileText, ReadText_AgreesWithTheLineReaderOnOneAndSeveralThreads) {
  // About five MiB: five pieces of at least one MiB each.
  std::string big;
  for (int i = 0; i < 150000; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 5) {
      case 0:
        big += "1 U" + n + "@Example.COM.\n";
        break;
      case 1:
        big += "overrideable-black *@d" + n + ".b\u00fccher.example  Original " + n + "\r\n";
        break;
      case 2:
        big += "  # comment " + n + "\n\n";
        break;
      case 3:
        big += "20\tv" + n + "@*\t\tx\n";
        break;
      default:
        big += "8 w@" + n + ".xn--bcher-kva.example..\n";
        break;
    }
  }
  const std::string late = big.substr(0, big.size() * 7 / 10);
  const std::pair<const char*, std::string> cases[] = {
      {"small",
       "# c\n\n1 a@b\n8 *@c.d Cee\n2 x@\xE3\x80\x82"
       "B\xC3\xBC.de\xEF\xBC\x8E\n"},
      {"unterminated", "1 a@b\n2 c@d. tail  "},
      {"terminated", "1 a@b\n2 c@d\n"},
      {"terminated after a text", "1 a@b x\n"},
      {"empty", ""},
      {"malformed", "1 a@b\r\n2\r\n1 c@d\n"},
      {"big", big},
      {"big, malformed late", late + "\nbogus x@y\n" + big},
      {"big, unterminated", big + "1 last@line"},
  };
  for (const auto& [name, text] : cases) {
    const std::string path = file("t.list", text);
    const ListFile want = readListFile(std::string(path));
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE(std::string(name) + ", threads " + std::to_string(threads));
      const ListText got = readListText(path, {}, threads);
      EXPECT_EQ(want.error, got.error);
      EXPECT_EQ(want.errorLine, got.errorLine);
      EXPECT_EQ(want.unterminated, got.unterminated);
      ASSERT_EQ(want.entries.size(), got.entries.size());
      for (std::size_t i = 0; i < want.entries.size(); ++i) {
        const ListEntry& w = want.entries[i];
        const ListEntryRef& g = got.entries[i];
        ASSERT_EQ(w.pattern, g.pattern) << i;
        ASSERT_EQ(w.original.value_or("(none)"), g.original != nullptr ? g.original : "(none)")
            << i;
        ASSERT_EQ(w.membership, g.membership) << i;
        ASSERT_EQ(w.line, g.line) << i;
      }
    }
  }
}

TEST(ListFile, Read_ReportsAFileThatCannotBeOpened) {
  const ListFile got = readListFile(std::string("/nonexistent/dir/w.list"));
  EXPECT_FALSE(got.ok());
  EXPECT_EQ(0u, got.errorLine);
  EXPECT_EQ("/nonexistent/dir/w.list: cannot open list file", got.error);
}

}  // namespace
}  // namespace quor::lists
