#include "NamedObjMgrForPolicy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Record = MasterNamedObjMgr::_rawNamedObjectData;

TEST(NamedObjMgrForPolicy, Serialize_WritesLengthPrefixedFields) {
  struct Entry {
    unsigned int id;
    int record;  // index into the row's records, or -1 for a null pointer
  };
  struct Row {
    const char* name;
    std::int32_t tag;
    std::vector<Record> records;
    std::vector<Entry> entries;
    std::string want;
  };
  const std::int32_t kMin = -2147483647 - 1;
  const Row rows[] = {
      {"empty", 0, {}, {}, "0;0;"},
      {"one entry", 7, {{5, "abc", "x;y"}}, {{12, 0}}, "1;7;12;5;3;x;y;3;abc;"},
      {"null pointer counted only", 2, {{4, "n", "c"}}, {{5, -1}, {6, 0}}, "2;2;6;4;1;c;1;n;"},
      {"ascending ids", -1, {{1, "a", "b"}, {2, "cc", ""}}, {{20, 1}, {3, 0}},
       "2;-1;3;1;1;b;1;a;20;2;0;;2;cc;"},
      {"same id twice keeps second", 0, {{1, "first", ""}, {2, "second", ""}}, {{8, 0}, {8, 1}},
       "1;0;8;2;0;;6;second;"},
      {"delimiters, line breaks and NUL in texts", 9,
       {{0, std::string("a\r\n;\0", 5), ";;"}}, {{1, 0}},
       std::string("1;9;1;0;2;;;;5;a\r\n;\0;", 21)},
      {"numbers printed signed and never cut", kMin, {{kMin, "", "zzz"}}, {{2147483648U, 0}},
       "1;-2147483648;-2147483648;-2147483648;3;zzz;0;;"},
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
    EXPECT_EQ(row.want, out);
  }
}

}  // namespace
