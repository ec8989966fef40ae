// End-to-end runs of the built `quorpolicy admin group` on a fresh
// installation root with the sample data: which member addresses it takes
// and that they come back as written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class AdminCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "quor-admin-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
    _dir = templ;
    ASSERT_EQ(0, run({"init", "--force", (_dir / "root").string()}).status);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(_dir, ec);
  }

  // Runs the tool with `args` on the installation root.
  ToolRun run(const std::vector<std::string>& args) {
    std::string cmd = "cd " + quoted(_dir.string()) + " && QUOR_HOME=" + quoted((_dir / "root").string()) +
                      " QUOR_DB_DIR=sqlite " + quoted(QUOR_TOOL_PATH);
    for (const auto& a : args) cmd += " " + quoted(a);
    cmd += " >stdout.txt 2>stderr.txt";
    ToolRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(_dir / "stdout.txt");
    r.err = slurp(_dir / "stderr.txt");
    return r;
  }

  fs::path _dir;
};

TEST_F(AdminCommand, Group_TakesQuotesButNotTheMemberEndTag) {
  const std::string quote = "o'brien@example.com";
  const std::string statement = "'); DELETE FROM named_objects; --";
  const ToolRun add = run({"admin", "group", "add", "--admin", "alice", "--name", "quoted", "--member", quote,
                           "--member", statement});
  ASSERT_EQ(0, add.status) << add.err;
  // The sample data holds six named objects; the new group is the seventh.
  const ToolRun show = run({"admin", "group", "show", "--id", "7"});
  ASSERT_EQ(0, show.status) << show.err;
  EXPECT_EQ("id\t7\nname\tquoted\ncontent\t<mas><ma>" + quote + "</ma><ma>" + statement +
                "</ma></mas>\nmember\t" + quote + "\nmember\t" + statement + "\n",
            show.out);

  const ToolRun refused = run({"admin", "group", "modify", "--id", "7", "--name", "quoted", "--member", "a</ma>b"});
  EXPECT_EQ(2, refused.status);
  EXPECT_EQ("quorpolicy: member address 'a</ma>b' may not hold </ma>\n", refused.err);
  EXPECT_EQ(show.out, run({"admin", "group", "show", "--id", "7"}).out);
}

}  // namespace
