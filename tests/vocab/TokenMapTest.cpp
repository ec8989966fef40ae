#include "TokenMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using QUOR::ScanToken;
using Map = QUOR::TokenMap<ScanToken>;

ScanToken token(int value) { return static_cast<ScanToken>(value); }

struct Add {
  int token;
  const char* text;  // null is refused and changes nothing
  char separator;
};

TEST(TokenMap, AddAppendToken_JoinsValuesWithCallersSeparator) {
  struct Row {
    const char* name;
    std::vector<Add> adds;
    int token;
    const char* want;
  };
  const Row rows[] = {
      {"never added", {}, 1, ""},
      {"separator per call", {{1, "a", ','}, {1, "b", ';'}, {1, "c", ' '}}, 1, "a;b c"},
      {"empty value still separated", {{1, "", ','}, {1, "x", ','}}, 1, ",x"},
      {"other token untouched", {{1, "a", ','}, {2, "b", ','}}, 2, "b"},
      {"null refused", {{4, "v", ','}, {4, nullptr, ','}}, 4, "v"},
      {"null on a new token", {{5, nullptr, ','}}, 5, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Map map;
    for (const auto& add : row.adds) {
      EXPECT_EQ(add.text != nullptr, map.AddAppendToken(token(add.token), add.text, add.separator));
    }
    EXPECT_STREQ(row.want, map.GetToken(token(row.token)));
  }
}

TEST(TokenMap, AssignmentReplacesAndSelfAssignmentKeeps) {
  Map source;
  source.AddAppendToken(token(1), "one", ',');
  source.AddAppendToken(token(2), "two", ',');
  Map target;
  target.AddAppendToken(token(3), "old", ',');
  target = source;
  EXPECT_STREQ("", target.GetToken(token(3)));
  EXPECT_STREQ("one", target.GetToken(token(1)));
  EXPECT_STREQ("two", target.GetToken(token(2)));

  Map& alias = target;
  target = alias;
  EXPECT_STREQ("one", target.GetToken(token(1)));
  EXPECT_STREQ("two", target.GetToken(token(2)));
}

}  // namespace
