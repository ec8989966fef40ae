// Test support: a fixture with a scratch folder, removed after the test.
#ifndef QUORPOLICY_TESTS_SUPPORT_SCRATCHDIR_H_
#define QUORPOLICY_TESTS_SUPPORT_SCRATCHDIR_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quor::test {

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "quor-test-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
    _dir = templ;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(_dir, ec);
  }

  // Writes `text` to the file `name` in the folder and returns its path.
  std::string file(const std::string& name, const std::string& text) const {
    const std::string path = (_dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::filesystem::path _dir;
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_SUPPORT_SCRATCHDIR_H_
