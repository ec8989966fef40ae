// End-to-end runs of the built command: `match` answers, JSON fields,
// warnings and exit statuses; `admin group` member addresses; `settings set`
// refusals.
#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ToolRun.h"

namespace quor::test {
namespace {

class MatchCommand : public ToolTest {
 protected:
  ToolRun run(const std::vector<std::string>& args, const std::string& input = "") const {
    std::vector<std::string> all = {"match"};
    all.insert(all.end(), args.begin(), args.end());
    return ToolTest::run("", all, input);
  }
};

// One row per form of the answer line; the decisions themselves are the
// matcher's tests' business.
TEST_F(MatchCommand, Match_DecidesAcrossListsInPrecedenceOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> lists;  // contents, the strongest first
    const char* address;
    const char* want;
  };
  const Case cases[] = {
      {"heavier overrideable black in a later list",
       {"overrideable-white *@a.b\n", "overrideable-black u@a.b\n"},
       "u@a.b",
       "u@a.b: Blacklisted (2), black-listed by \"u@a.b\" (overrideable-black) in l1.list line "
       "1\n"},
      {"both non-overrideable lists in one file",
       {"# two entries\nnonoverrideable-white u@*\n\nnonoverrideable-black *@a.b\n"},
       "u@a.b",
       "u@a.b: Blacklisted+BothNonOverrideableListsMatched (130), black-listed by \"*@a.b\" "
       "(nonoverrideable-black) in l0.list line 4\n"},
      {"equal weights favour white",
       {"overrideable-black *@a.b\n", "overrideable-white *@A.B Partner Inc.\n"},
       "v@a.b",
       "v@a.b: EqualWeightWhitelisted (9), white-listed by \"*@a.b\" (overrideable-white) in "
       "l1.list line 1, "
       "entered as \"Partner Inc.\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (std::size_t i = 0; i < c.lists.size(); ++i) {
      args.push_back("--list");
      args.push_back(write("l" + std::to_string(i) + ".list", c.lists[i]));
    }
    args.push_back(c.address);
    const ToolRun r = run(args);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(c.want, r.out);
    EXPECT_EQ("", r.err);
  }
}

TEST_F(MatchCommand, Match_JsonCarriesDecisionPatternListAndMembership) {
  write("white.list", "# company\nnonoverrideable-white *@corp.example Corp staff\n");
  write("black.list", "overrideable-black *@*.spam.example\noverrideable-black x@corp.example\n");
  const ToolRun r = run({"--json", "-l", "white.list", "-l", "black.list", "a@corp.example", "b@mx.spam.example",
                     "c@elsewhere.example"});
  ASSERT_EQ(0, r.status) << r.err;
  std::vector<nlohmann::json> got;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) got.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(3u, got.size());

  EXPECT_EQ(nlohmann::json::parse(R"({"address":"a@corp.example","result":"Whitelisted","value":1,
      "whitelisted":true,"blacklisted":false,"bothNonOverrideableListsMatched":false,
      "pattern":"*@corp.example","list":"white.list","listIndex":0,"line":2,
      "membership":"nonoverrideable-white","membershipValue":1,"original":"Corp staff"})"),
            got[0]);
  EXPECT_EQ(nlohmann::json::parse(R"({"address":"b@mx.spam.example","result":"Blacklisted","value":2,
      "whitelisted":false,"blacklisted":true,"bothNonOverrideableListsMatched":false,
      "pattern":"*@*.spam.example","list":"black.list","listIndex":1,"line":1,
      "membership":"overrideable-black","membershipValue":4,"original":null})"),
            got[1]);
  EXPECT_EQ(nlohmann::json::parse(R"({"address":"c@elsewhere.example","result":"NotListed","value":0,
      "whitelisted":false,"blacklisted":false,"bothNonOverrideableListsMatched":false,
      "pattern":null,"list":null,"listIndex":null,"line":null,
      "membership":null,"membershipValue":null,"original":null})"),
            got[2]);
}

// The reader's messages are the list-file tests' business; here: the
// command stops before matching anything.
TEST_F(MatchCommand, Match_MalformedListStopsBeforeAnythingIsMatched) {
  write("good.list", "overrideable-white *@a.b\n");
  write("bad.list", "1 a@b\n\n# x\nblack a@c\n");
  const ToolRun r = run({"--list", "good.list", "--list", "bad.list", "u@a.b"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("quorpolicy: bad.list:4: unknown membership 'black'\n", r.err);
}

TEST_F(MatchCommand, Match_RefusedEntryIsAWarningAndTheFirstEntryStays) {
  write("mixed.list", "nonoverrideable-white u@a.b\n# now black\nnonoverrideable-black U@A.B\n");
  const ToolRun r = run({"--list", "mixed.list", "u@a.b"});
  EXPECT_EQ(0, r.status);
  // The warning's text is the list loading's tests' business.
  EXPECT_EQ(0u, r.err.find("quorpolicy: warning: mixed.list:3: entry 'U@A.B'")) << r.err;
  EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n'));
  EXPECT_EQ("u@a.b: Whitelisted (1), white-listed by \"u@a.b\" (nonoverrideable-white) in mixed.list line 1\n",
            r.out);
}

TEST_F(MatchCommand, Match_ReadsAddressesFromStandardInput) {
  write("w.list", "overrideable-white u@*\n");
  const ToolRun r = run({"--list", "w.list"}, "# who\nu@x.y\n\n   \n  v@x.y \r\n  # not me\nu@\n");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      "u@x.y: Whitelisted (1), white-listed by \"u@*\" (overrideable-white) in w.list line 1\n"
      "v@x.y: NotListed (0), not listed\n"
      "u@: Whitelisted (1), white-listed by \"u@*\" (overrideable-white) in w.list line 1\n",
      r.out);
}

// A missing list file is the serve tests' and the list-file tests' business.
TEST_F(MatchCommand, Match_WithoutAListIsAUsageError) {
  const ToolRun r = run({"u@a.b"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("quorpolicy: match: at least one --list FILE is required\n", r.err);
}

// The sample data of a new installation; member addresses with quotes come
// back as written, one holding the member end tag is refused.
using AdminCommand = ToolTest;
TEST_F(AdminCommand, Group_TakesQuotesButNotTheMemberEndTag) {
  const std::string env = "QUOR_HOME=" + quoted((_dir / "root").string()) + " QUOR_DB_DIR=sqlite";
  ASSERT_EQ(0, run(env, {"init", "--force", (_dir / "root").string()}).status);
  const std::string quote = "o'brien@example.com";
  const std::string statement = "'); DELETE FROM named_objects; --";
  const ToolRun add = run(env, {"admin", "group", "add", "--admin", "alice", "--name", "quoted", "--member", quote,
                                "--member", statement});
  ASSERT_EQ(0, add.status) << add.err;
  // The sample data holds six named objects; the new group is the seventh.
  const ToolRun show = run(env, {"admin", "group", "show", "--id", "7"});
  ASSERT_EQ(0, show.status) << show.err;
  EXPECT_EQ("id\t7\nname\tquoted\ncontent\t<mas><ma>" + quote + "</ma><ma>" + statement +
                "</ma></mas>\nmember\t" + quote + "\nmember\t" + statement + "\n",
            show.out);
  const ToolRun refused =
      run(env, {"admin", "group", "modify", "--id", "7", "--name", "quoted", "--member", "a</ma>b"});
  EXPECT_EQ(2, refused.status);
  EXPECT_EQ("quorpolicy: member address 'a</ma>b' may not hold </ma>\n", refused.err);
  EXPECT_EQ(show.out, run(env, {"admin", "group", "show", "--id", "7"}).out);
}

// A refused `settings set` names each of the two thread counts by where it
// came from: an option only when the user gave it, otherwise the file that
// stores it (both options: the settings command script). The file is left as
// it was.
using SettingsCommand = ToolTest;
TEST_F(SettingsCommand, Set_ThreadsAboveMaxThreadsNamesWhereEachCameFrom) {
  std::filesystem::create_directories(_dir / "config");
  const std::string ini = (_dir / "config" / "quor.ini").string();
  const std::string stored =
      "[policy_server]\nbacklog=100\nkeep-alive=yes\nPolicyServerPort=5060\nprotocol=http\n"
      "recv_timeout_secs=60\nsend_timeout_secs=60\nthreads=8\nmax_threads=4\n"
      "[LDAP_SVR_1]\nldap_cache_TTL_minutes=1440\n";
  write("config/quor.ini", stored);
  const std::string where = " stored in " + ini;
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--backlog", "5"}, "threads=8" + where + " is above max_threads=4" + where},
      {{"--threads", "9"}, "--threads 9 is above max_threads=4" + where},
      {{"--max-threads", "7"}, "threads=8" + where + " is above --max-threads 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = {"settings", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun r = run("QUOR_HOME=" + quoted(_dir.string()), args);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("quorpolicy: " + c.err + "\n", r.err);
    EXPECT_EQ(stored, slurp(ini));
  }
}

}  // namespace
}  // namespace quor::test
