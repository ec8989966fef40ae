#include "NamedObjMgrForPolicy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Record = MasterNamedObjMgr::_rawNamedObjectData;

struct Entry {
  unsigned int id;
  int record;  // index into the row's records, or -1 for a null pointer
};

TEST(NamedObjMgrForPolicy, Serialize_WritesLengthPrefixedFields) {
  struct Row {
    const char* name;
    std::int32_t tag;
    std::vector<Record> records;
    std::vector<Entry> entries;
    const char* want;
  };
  const Row rows[] = {
      {"empty", 0, {}, {}, "0;0;"},
      {"one entry", 7, {{5, "abc", "x;y"}}, {{12, 0}}, "1;7;12;5;3;x;y;3;abc;"},
      {"empty texts", 0, {{1, "", ""}}, {{3, 0}}, "1;0;3;1;0;;0;;"},
      {"null pointer counted only", 2, {{4, "n", "c"}}, {{5, -1}, {6, 0}},
       "2;2;6;4;1;c;1;n;"},
      {"ascending ids", -1, {{1, "a", "b"}, {2, "cc", ""}}, {{20, 1}, {3, 0}},
       "2;-1;3;1;1;b;1;a;20;2;0;;2;cc;"},
      {"same id twice keeps second", 0, {{1, "first", ""}, {2, "second", ""}},
       {{8, 0}, {8, 1}}, "1;0;8;2;0;;6;second;"},
      {"later null replaces record", 0, {{1, "a", "b"}}, {{8, 0}, {8, -1}}, "1;0;"},
      {"signed printing", 0, {{-5, "", ""}}, {{4294967295U, 0}}, "1;0;-1;-5;0;;0;;"},
      {"line breaks and delimiters", 9, {{0, "a\r\n;", ";;"}}, {{1, 0}},
       "1;9;1;0;2;;;;4;a\r\n;;"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    NamedObjMgrForPolicy mgr;
    mgr.tag = row.tag;
    for (const auto& e : row.entries) {
      mgr.insert(e.id, e.record < 0 ? nullptr : &row.records[static_cast<size_t>(e.record)]);
    }
    std::string out = "previous content";
    EXPECT_TRUE(mgr.serialize(out));
    EXPECT_EQ(std::string(row.want), out);
  }
}

TEST(NamedObjMgrForPolicy, Serialize_ExtremeNumbersAreNeverCut) {
  const Record record{-2147483647 - 1, "", std::string(3, 'z')};
  NamedObjMgrForPolicy mgr;
  mgr.tag = -2147483647 - 1;
  mgr.insert(2147483648U, &record);
  std::string out;
  ASSERT_TRUE(mgr.serialize(out));
  EXPECT_EQ("1;-2147483648;-2147483648;-2147483648;3;zzz;0;;", out);
}

// A reader written from the format description alone: numbers up to ";",
// texts by their length. Returns false on any malformation.
struct Parsed {
  int count = 0;
  int tag = 0;
  std::vector<std::vector<std::string>> entries;  // id, kind, text2, text1
};

bool readNumber(const std::string& s, size_t& pos, std::string& number) {
  const size_t end = s.find(';', pos);
  if (end == std::string::npos || end == pos) return false;
  number = s.substr(pos, end - pos);
  pos = end + 1;
  return true;
}

bool readText(const std::string& s, size_t& pos, std::string& text) {
  std::string length;
  if (!readNumber(s, pos, length)) return false;
  const size_t n = std::strtoul(length.c_str(), nullptr, 10);
  if (pos + n >= s.size() || s[pos + n] != ';') return false;
  text = s.substr(pos, n);
  pos += n + 1;
  return true;
}

bool parse(const std::string& s, Parsed& out) {
  size_t pos = 0;
  std::string count, tag;
  if (!readNumber(s, pos, count) || !readNumber(s, pos, tag)) return false;
  out.count = std::atoi(count.c_str());
  out.tag = std::atoi(tag.c_str());
  while (pos < s.size()) {
    std::string id, kind, text2, text1;
    if (!readNumber(s, pos, id) || !readNumber(s, pos, kind) || !readText(s, pos, text2) ||
        !readText(s, pos, text1)) {
      return false;
    }
    out.entries.push_back({id, kind, text2, text1});
  }
  return true;
}

TEST(NamedObjMgrForPolicy, Serialize_ReadsBackByLengths) {
  const std::vector<Record> records = {
      {3, "name;with;delims", "12;"}, {0, ";", ""}, {77, std::string("nul\0in", 6), "\n"}};
  NamedObjMgrForPolicy mgr;
  mgr.tag = 42;
  mgr.insert(9, &records[0]);
  mgr.insert(1, &records[1]);
  mgr.insert(5, nullptr);
  mgr.insert(300, &records[2]);
  std::string out;
  ASSERT_TRUE(mgr.serialize(out));
  Parsed parsed;
  ASSERT_TRUE(parse(out, parsed)) << out;
  EXPECT_EQ(4, parsed.count);
  EXPECT_EQ(42, parsed.tag);
  const std::vector<std::vector<std::string>> want = {
      {"1", "0", "", ";"},
      {"9", "3", "12;", "name;with;delims"},
      {"300", "77", "\n", std::string("nul\0in", 6)},
  };
  EXPECT_EQ(want, parsed.entries);
}

TEST(NamedObjMgrForPolicy, Copy_SharesRecordsKeepsOwnTag) {
  const Record record{1, "t1", "t2"};
  NamedObjMgrForPolicy original;
  original.tag = 1;
  original.insert(2, &record);
  NamedObjMgrForPolicy copy(original);
  copy.tag = 5;
  copy.insert(3, nullptr);
  std::string a, b;
  original.serialize(a);
  copy.serialize(b);
  EXPECT_EQ("1;1;2;1;2;t2;2;t1;", a);
  EXPECT_EQ("2;5;2;1;2;t2;2;t1;", b);
}

}  // namespace
