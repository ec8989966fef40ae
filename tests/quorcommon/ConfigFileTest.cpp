#include "ConfigFile.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "quorcommon/TempRoot.h"

namespace {

using quor::test::TempRoot;

struct Lookup {
  const char* section;
  const char* key;
  const char* want;  // null: not found
};

struct ParseCase {
  const char* name;
  std::string text;
  std::vector<Lookup> lookups;
};

TEST(ConfigFileOnDisk, Getparam_ReadsGoodAndMalformedFiles) {
  const ParseCase cases[] = {
      {"plain", "[db]\nUser=alice\nPassword=secret\n",
       {{"db", "User", "alice"}, {"db", "Password", "secret"}, {"db", "Missing", nullptr}}},
      {"blanks trimmed, CRLF", "  [ db ]  \r\n\t User \t=  alice smith \r\n",
       {{"db", "User", "alice smith"}, {" db ", "User", nullptr}}},
      {"comments", "; c1\n# c2\n[s]\n;k=1\n  # k=2\nk=3\n", {{"s", "k", "3"}, {"s", ";k", nullptr}}},
      {"no inline comment", "[s]\nk=a ; b # c\n", {{"s", "k", "a ; b # c"}}},
      {"key before any section ignored", "k=1\n[s]\nj=2\n", {{"s", "k", nullptr}, {"s", "j", "2"}}},
      {"line without = ignored", "[s]\njunk\nk=v\n", {{"s", "junk", nullptr}, {"s", "k", "v"}}},
      {"empty key ignored", "[s]\n=v\n k2 =\n", {{"s", "", nullptr}, {"s", "k2", ""}}},
      {"duplicate key: last wins", "[s]\nk=1\nk=2\n", {{"s", "k", "2"}}},
      {"section in two blocks merges", "[s]\na=1\n[t]\nb=2\n[s]\na=3\nc=4\n",
       {{"s", "a", "3"}, {"s", "c", "4"}, {"t", "b", "2"}}},
      {"value keeps further =", "[s]\nurl=a=b=c\n", {{"s", "url", "a=b=c"}}},
      {"unterminated header ignored", "[s]\nk=1\n[broken\nk=2\n", {{"s", "k", "2"}, {"broken", "k", nullptr}}},
      {"last line without end", "[s]\nk=v", {{"s", "k", "v"}}},
      {"byte-order mark", "\xEF\xBB\xBF[s]\nk=v\n", {{"s", "k", "v"}}},
  };
  TempRoot root;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = root.config("case.ini");
    TempRoot::write(path, c.text);
    QUOR::ConfigFileOnDisk file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    for (const auto& l : c.lookups) {
      SCOPED_TRACE(std::string(l.section) + "/" + l.key);
      std::string value = "untouched";
      bool found = file.getparam(l.section, l.key, value);
      if (l.want == nullptr) {
        EXPECT_FALSE(found);
        EXPECT_EQ("untouched", value);
      } else {
        EXPECT_TRUE(found);
        EXPECT_EQ(l.want, value);
      }
    }
  }
}

TEST(ConfigFileOnDisk, Open_ReadsFilePathsOnly) {
  TempRoot root;
  TempRoot::write(root.config("db.ini"), "[s]\nk=v\n");
  const struct {
    const char* name;
    std::string path;
    bool open;
  } cases[] = {
      {"plain path", root.config("db.ini").string(), true},
      {"backslash path", root.root().string() + "\\config\\db.ini", true},
      {"missing file", root.config("absent.ini").string(), false},
      {"a folder", (root.root() / "config").string(), false},
      {"empty path", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QUOR::ConfigFileOnDisk file(c.path.c_str());
    EXPECT_EQ(c.open, file.isOpen());
    std::string value;
    EXPECT_EQ(c.open, file.getparam("s", "k", value));
    EXPECT_EQ(c.open ? "v" : "", value);
  }
  EXPECT_FALSE(QUOR::ConfigFileOnDisk(nullptr).isOpen());
}

TEST(ConfigFileOnDisk, GetparamsAddsWithoutClearing_SetparamWritesThrough) {
  TempRoot root;
  auto path = root.config("w.ini");
  TempRoot::write(path, "; keep\n[s]\nk=1\nj=two\n[t]\nx=3\n");
  QUOR::ConfigFileOnDisk file(path.c_str());
  std::map<std::string, std::string> items = {{"k", "old"}, {"keep", "me"}};
  const std::map<std::string, std::string> want = {{"k", "1"}, {"j", "two"}, {"keep", "me"}};
  ASSERT_TRUE(file.getparams("s", items));
  EXPECT_EQ(want, items);
  EXPECT_FALSE(file.getparams("absent", items));
  EXPECT_FALSE(file.getparams(nullptr, items));
  EXPECT_EQ(want, items);
  EXPECT_TRUE(file.setparam("s", "k", "2"));
  std::map<std::string, std::string> more = {{"x", "y z"}, {"w", "1"}};
  EXPECT_TRUE(file.setparams("n", more));
  EXPECT_EQ("; keep\n[s]\nk=2\nj=two\n[t]\nx=3\n[n]\nw=1\nx=y z\n", TempRoot::read(path));
  const struct {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
  } refused[] = {
      {"line break in value", "s", "k", "a\nb"},   {"blank at value end", "s", "k", "a "},
      {"= in key", "s", "k=j", "v"},               {"] in section", "s]", "k", "v"},
      {"comment key", "s", ";k", "v"},             {"empty key", "s", "", "v"},
      {"null value", "s", "k", nullptr},          {"blank at key start", "s", " k", "v"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    EXPECT_FALSE(file.setparam(r.section, r.key, r.value));
  }
  EXPECT_EQ("; keep\n[s]\nk=2\nj=two\n[t]\nx=3\n[n]\nw=1\nx=y z\n", TempRoot::read(path));
  std::string value;
  EXPECT_TRUE(file.getparam("n", "x", value));
  EXPECT_EQ("y z", value);
}

}  // namespace
