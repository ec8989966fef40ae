#include "Blob.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Fields = std::map<std::string, std::string>;

TEST(Blob, WriteBlob_AppendsSortedLinesAndEmptyLine) {
  struct Row {
    const char* name;
    std::string before;
    Fields fields;
    std::string want;
  };
  const Row rows[] = {
      {"empty map", "", {}, "\r\n"},
      {"appends", "x", {{"k", "v"}}, "xk=v\r\n\r\n"},
      {"byte-wise order", "", {{"a", ""}, {"B", "u"}, {"\xC3\xA9", "e"}},
       "B=u\r\na=\r\n\xC3\xA9=e\r\n\r\n"},
      {"copied verbatim", "", {{" k=", "v\r\n w "}}, " k==v\r\n w \r\n\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string out = row.before;
    Blob::writeBlob(out, row.fields);
    EXPECT_EQ(row.want, out);
  }
}

struct ReadRow {
  const char* name;
  std::string text;
  Fields want;
  size_t cursorAt;  // offset of the cursor after the call
};

void checkRead(const ReadRow& row, Fields fields = {}) {
  const char* cursor = row.text.c_str();
  EXPECT_TRUE(Blob::readBlob(cursor, fields));
  EXPECT_EQ(row.want, fields);
  EXPECT_EQ(row.cursorAt, static_cast<size_t>(cursor - row.text.c_str()));
}

TEST(Blob, ReadBlob_CursorAndTrimRules) {
  const ReadRow rows[] = {
      {"written record", "a=1\r\nb=2\r\n\r\n", {{"a", "1"}, {"b", "2"}}, 12},
      {"text after last line end ignored", "x=1\ny=2", {{"x", "1"}}, 0},
      {"only blanks", " \r\n\t ", {}, 0},
      {"leading blanks skipped", "\r\n \t\na=1\r\n\r\nrest", {{"a", "1"}}, 12},
      {"blank line ends record", "a=1\r\n \t\r\nb=2\r\n\r\n", {{"a", "1"}}, 9},
      {"LF ends, stops at first record", "a=1\nb=2\n\nc=3\n\n", {{"a", "1"}, {"b", "2"}}, 9},
      {"no equals sign", "word\n\n", {{"word", "word"}}, 6},
      {"split at first equals", "k=v=w\n\n", {{"k", "v=w"}}, 7},
      {"empty key, later value replaces", "=\n=x\n\n", {{"", "x"}}, 6},
      {"stops at NUL", std::string("a=1\n\0\n\n", 7), {{"a", "1"}}, 0},
      // Each blank kind is trimmed once, in the order CR, LF, tab, blank.
      {"blanks around key and value", "  name = value \n\n", {{"name ", " value"}}, 17},
      {"blank then tab at start keeps tab", "a=1\n \tk=v\n\n", {{"a", "1"}, {"\tk", "v"}}, 11},
      {"tab then blank at end keeps tab", "k=v\t \n\n", {{"k", "v\t"}}, 7},
      {"blank then tab at end", "k=v \t\n\n", {{"k", "v"}}, 7},
      {"cr inside kept", "k=a\rb\n\n", {{"k", "a\rb"}}, 7},
      {"only one cr before lf removed", "k=v\r\r\n\n", {{"k", "v"}}, 7},
      {"blank shields cr at end", "k=v\r \n\n", {{"k", "v\r"}}, 7},
      {"cr at start of later line", "a=1\n\rk=v\n\n", {{"a", "1"}, {"k", "v"}}, 10},
      {"blank before cr at start", "a=1\n \rk=v\n\n", {{"a", "1"}, {"\rk", "v"}}, 11},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    checkRead(row);
  }
}

TEST(Blob, ReadBlob_AddsToExistingFieldsAndIgnoresNullCursor) {
  checkRead({"merge", "b=new\nc=3\n\n", {{"a", "1"}, {"b", "new"}, {"c", "3"}}, 11},
            {{"a", "1"}, {"b", "old"}});
  const char* cursor = nullptr;
  Fields fields{{"a", "1"}};
  EXPECT_TRUE(Blob::readBlob(cursor, fields));
  EXPECT_EQ(nullptr, cursor);
  EXPECT_EQ((Fields{{"a", "1"}}), fields);
}

// What each type reads from the text under "k"; a null text is an absent key
// (false, every variable keeps its start value 11 or true).
struct BindRow {
  const char* text;
  bool found;
  unsigned int asUint;
  int asInt;
  unsigned short asUshort;
  short asShort;
  bool asBool;
};

TEST(Blob, BindBlobField_ReadsEachNumericType) {
  const BindRow rows[] = {
      {"  7xyz", true, 7U, 7, 7, 7, true},
      {"abc", true, 0U, -1, 0, -1, false},
      {"-3", true, 4294967293U, -3, 65533, -3, true},
      {"98304", true, 98304U, 98304, 32768, -32768, true},
      {"0", true, 0U, 0, 0, 0, false},
      {"4294967295", true, 4294967295U, -1, 65535, -1, true},
      {nullptr, false, 11U, 11, 11, 11, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text ? row.text : "absent");
    Fields fields{{"other", "5"}};
    if (row.text) fields["k"] = row.text;
    BindRow got{row.text, row.found, 11U, 11, 11, 11, true};
    EXPECT_EQ(row.found, Blob::bindBlobField(fields, "k", got.asUint, false));
    EXPECT_EQ(row.found, Blob::bindBlobField(fields, "k", got.asInt, false));
    EXPECT_EQ(row.found, Blob::bindBlobField(fields, "k", got.asUshort, false));
    EXPECT_EQ(row.found, Blob::bindBlobField(fields, "k", got.asShort, false));
    EXPECT_EQ(row.found, Blob::bindBlobField(fields, "k", got.asBool, false));
    EXPECT_EQ(std::tie(row.asUint, row.asInt, row.asUshort, row.asShort, row.asBool),
              std::tie(got.asUint, got.asInt, got.asUshort, got.asShort, got.asBool));
    EXPECT_EQ(row.text ? 2U : 1U, fields.size());
  }
}

TEST(Blob, BindBlobField_StoresDecimalText) {
  Fields fields;
  unsigned int u = 4294967295U;
  int i = INT_MIN;
  unsigned short us = 65535;
  short s = -32768;
  bool yes = true;
  bool no = false;
  std::string text = "a=b\r\n";
  EXPECT_TRUE(Blob::bindBlobField(fields, "u", u, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "i", i, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "us", us, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "s", s, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "yes", yes, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "no", no, true));
  EXPECT_TRUE(Blob::bindBlobField(fields, "t", text, true));
  const Fields want{{"u", "4294967295"}, {"i", "-2147483648"}, {"us", "65535"},
                    {"s", "-32768"},     {"yes", "1"},         {"no", "0"},
                    {"t", "a=b\r\n"}};
  EXPECT_EQ(want, fields);
}

TEST(Blob, BindBlobField_ReadsStringAndRefusesNullKey) {
  Fields fields{{"k", " spaced \t"}, {"", "1"}};
  std::string value = "unchanged";
  int number = 5;
  unsigned int u = 5;
  EXPECT_FALSE(Blob::bindBlobField(fields, "missing", value, false));
  EXPECT_EQ("unchanged", value);
  // The narrower types refuse through the int and unsigned bindings.
  EXPECT_FALSE(Blob::bindBlobField(fields, nullptr, value, true));
  EXPECT_FALSE(Blob::bindBlobField(fields, nullptr, number, false));
  EXPECT_FALSE(Blob::bindBlobField(fields, nullptr, u, true));
  EXPECT_EQ(5, number);
  EXPECT_TRUE(Blob::bindBlobField(fields, "k", value, false));
  EXPECT_EQ(" spaced \t", value);
  EXPECT_EQ((Fields{{"k", " spaced \t"}, {"", "1"}}), fields);
}

TEST(Blob, ToString_DecimalWithSign) {
  const std::pair<int, const char*> rows[] = {
      {0, "0"}, {7, "7"}, {-7, "-7"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
  for (const auto& [value, want] : rows) {
    SCOPED_TRACE(want);
    EXPECT_EQ(want, toString(value));
  }
}

}  // namespace
