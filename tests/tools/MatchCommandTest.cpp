// End-to-end runs of the built `quorpolicy match`: answers, JSON fields,
// warnings and exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class MatchCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "quor-match-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
    _dir = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(_dir, ec);
  }

  // Writes a file into the scratch folder and returns its name there.
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(_dir / name, std::ios::binary) << text;
    return name;
  }

  // Runs the tool in the scratch folder with `args`, feeding `input`.
  ToolRun run(const std::vector<std::string>& args, const std::string& input = "") {
    write("stdin.txt", input);
    std::string cmd = "cd " + quoted(_dir.string()) + " && " + quoted(QUOR_TOOL_PATH) + " match";
    for (const auto& a : args) cmd += " " + quoted(a);
    cmd += " <stdin.txt >stdout.txt 2>stderr.txt";
    ToolRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(_dir / "stdout.txt");
    r.err = slurp(_dir / "stderr.txt");
    return r;
  }

  fs::path _dir;
};

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
       "u@a.b: Blacklisted (2), black-listed by \"u@a.b\" (overrideable-black) in l1.list line 1\n"},
      {"subtraction removes the earlier white entry",
       {"overrideable-white *@a.b\n", "white-subtraction *@a.b\n"},
       "u@a.b",
       "u@a.b: NotListed (0), not listed\n"},
      {"non-overrideable white stops the search",
       {"nonoverrideable-white *@a.b\n", "nonoverrideable-black u@a.b\n"},
       "u@a.b",
       "u@a.b: Whitelisted (1), white-listed by \"*@a.b\" (nonoverrideable-white) in l0.list line 1\n"},
      {"both non-overrideable lists in one file",
       {"# two entries\nnonoverrideable-white u@*\n\nnonoverrideable-black *@a.b\n"},
       "u@a.b",
       "u@a.b: Blacklisted+BothNonOverrideableListsMatched (130), black-listed by \"*@a.b\" "
       "(nonoverrideable-black) in l0.list line 4\n"},
      {"equal weights favour white",
       {"overrideable-black *@a.b\n", "overrideable-white *@A.B Partner Inc.\n"},
       "v@a.b",
       "v@a.b: EqualWeightWhitelisted (9), white-listed by \"*@a.b\" (overrideable-white) in l1.list line 1, "
       "entered as \"Partner Inc.\"\n"},
      {"label wildcard needs a label",
       {"overrideable-black *@*.a.b\n"},
       "v@a.b",
       "v@a.b: NotListed (0), not listed\n"},
      {"label wildcard covers deeper domains, address case ignored",
       {"8 *@*.a.b\n"},
       "V@X.Y.A.B",
       "V@X.Y.A.B: Whitelisted (1), white-listed by \"*@*.a.b\" (overrideable-white) in l0.list line 1\n"},
      {"entry carrying a subtraction too is ignored",
       {"nonoverrideable-white+white-subtraction u@a.b\n"},
       "u@a.b",
       "u@a.b: NotListed (0), not listed\n"},
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

TEST_F(MatchCommand, Match_MalformedListStopsBeforeAnythingIsMatched) {
  struct Case {
    const char* name;
    std::string second;
    const char* err;
  };
  const Case cases[] = {
      {"unknown membership", "1 a@b\n\n# x\nblack a@c\n", "quorpolicy: bad.list:4: unknown membership 'black'\n"},
      {"missing pattern", "overrideable-black\n", "quorpolicy: bad.list:1: missing pattern after membership "
                                                  "'overrideable-black'\n"},
      {"refused pair", "1 a@b\n5 a@c\n", "quorpolicy: bad.list:2: membership '5' is not an allowed combination\n"},
  };
  write("good.list", "overrideable-white *@a.b\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write("bad.list", c.second);
    const ToolRun r = run({"--list", "good.list", "--list", "bad.list", "u@a.b"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(c.err, r.err);
  }
}

TEST_F(MatchCommand, Match_RefusedEntryIsAWarningAndTheFirstEntryStays) {
  write("mixed.list", "nonoverrideable-white u@a.b\n# now black\nnonoverrideable-black U@A.B\n");
  const ToolRun r = run({"--list", "mixed.list", "u@a.b"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(
      "quorpolicy: warning: mixed.list:3: entry 'U@A.B' (nonoverrideable-black) refused: it conflicts with an "
      "earlier entry of the same pattern in this list\n",
      r.err);
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

TEST_F(MatchCommand, Match_UsageAndFileErrorsHaveTheirExitStatus) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* err;
  };
  write("w.list", "overrideable-white u@*\n");
  const Case cases[] = {
      {"no list", {"u@a.b"}, 2, "quorpolicy: match: at least one --list FILE is required\n"},
      {"missing file", {"--list", "w.list", "--list", "nothere.list", "u@a.b"}, 1,
       "quorpolicy: nothere.list: cannot open list file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun r = run(c.args);
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(c.err, r.err);
  }
}

}  // namespace
