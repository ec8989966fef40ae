// End-to-end runs of the built `quorpolicy settings set` on a scratch
// installation root.
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

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A refused `settings set` names each of the two thread counts by where it
// came from: an option only when the user gave it, otherwise the file that
// stores it. The file is left as it was.
TEST(SettingsCommand, Set_ThreadsAboveMaxThreadsNamesWhereEachCameFrom) {
  std::string templ = (fs::temp_directory_path() / "quor-settings-XXXXXX").string();
  ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
  const fs::path root = templ;
  fs::create_directories(root / "config");
  const fs::path ini = root / "config" / "quor.ini";
  const std::string stored =
      "[policy_server]\nbacklog=100\nkeep-alive=yes\nPolicyServerPort=5060\nprotocol=http\n"
      "recv_timeout_secs=60\nsend_timeout_secs=60\nthreads=8\nmax_threads=4\n"
      "[LDAP_SVR_1]\nldap_cache_TTL_minutes=1440\n";
  std::ofstream(ini, std::ios::binary) << stored;
  const std::string where = " stored in " + ini.string();
  const struct {
    const char* args;
    std::string err;
  } cases[] = {
      {"--backlog 5", "threads=8" + where + " is above max_threads=4" + where},
      {"--threads 9", "--threads 9 is above max_threads=4" + where},
      {"--max-threads 7", "threads=8" + where + " is above --max-threads 7"},
      {"--threads 9 --max-threads 3", "--threads 9 is above --max-threads 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string cmd = "QUOR_HOME='" + root.string() + "' '" + QUOR_TOOL_PATH +
                            "' settings set " + c.args + " >'" + (root / "out").string() +
                            "' 2>'" + (root / "err").string() + "'";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(2, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1);
    EXPECT_EQ("quorpolicy: " + c.err + "\n", slurp(root / "err"));
    EXPECT_EQ(stored, slurp(ini));
  }
  fs::remove_all(root);
}

}  // namespace
