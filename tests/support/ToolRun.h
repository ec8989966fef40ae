// Test support: runs of the built `quorpolicy` command in a scratch folder.
// Header-only, for the test binary that is given QUOR_TOOL_PATH.
#ifndef QUORPOLICY_TESTS_SUPPORT_TOOLRUN_H_
#define QUORPOLICY_TESTS_SUPPORT_TOOLRUN_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quor::test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fixture with a scratch folder `_dir`, removed after the test.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "quor-tool-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
    _dir = templ;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(_dir, ec);
  }

  // Writes a file into the scratch folder and returns its name there.
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(_dir / name, std::ios::binary) << text;
    return name;
  }

  // Runs `env quorpolicy args` in the scratch folder, feeding `input`.
  ToolRun run(const std::string& env, const std::vector<std::string>& args, const std::string& input = "") const {
    write("stdin.txt", input);
    std::string cmd = "cd " + quoted(_dir.string()) + " && " + env + " " + quoted(QUOR_TOOL_PATH);
    for (const auto& a : args) cmd += " " + quoted(a);
    cmd += " <stdin.txt >stdout.txt 2>stderr.txt";
    ToolRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(_dir / "stdout.txt");
    r.err = slurp(_dir / "stderr.txt");
    return r;
  }

  static std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  std::filesystem::path _dir;
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_SUPPORT_TOOLRUN_H_
