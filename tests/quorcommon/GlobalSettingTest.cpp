#include "GlobalSetting.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;
using Items = std::map<std::string, std::string>;

// A store whose text lookups come from a map, to exercise the int form of
// getItem on its own.
class MapSetting final : public QUOR::GlobalSetting {
 public:
  explicit MapSetting(Items items) : _items(std::move(items)) {}
  using QUOR::GlobalSetting::getItem;
  QUOR::GS_ERROR getItem(const char* key, std::string& value, const char*,
                         const char*) override {
    auto it = _items.find(key);
    if (it == _items.end()) return QUOR::GS_ITEM_NOT_FOUND;
    value = it->second;
    return QUOR::GS_SUCCESS;
  }
  QUOR::GS_ERROR setItem(const char*, const char*, const char*, const char*) override {
    return QUOR::GS_FAILURE;
  }

 private:
  Items _items;
};

TEST(GlobalSetting, GetItemInt_ConvertsWordsAndNumbers) {
  const struct {
    const char* text;
    int want;
  } cases[] = {
      {"true", 1}, {"yes", 1}, {"no", 0},   {"false", 0}, {"42", 42},
      {"TRUE", 0}, {"Yes", 0}, {"-7", -7}, {"12abc", 12}, {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MapSetting store(Items{{"k", c.text}});
    int value = 999;
    EXPECT_EQ(QUOR::GS_SUCCESS, store.getItem("k", value, "s", "f"));
    EXPECT_EQ(c.want, value);
  }
  MapSetting empty(Items{});
  int value = 999;
  EXPECT_EQ(QUOR::GS_ITEM_NOT_FOUND, empty.getItem("k", value, "s", "f"));
  EXPECT_EQ(999, value);
}

TEST(GlobalSetting, BaseDefaults_ReturnOne) {
  MapSetting store(Items{});
  Items items = {{"a", "b"}};
  EXPECT_EQ(1, store.getItemsInSection(items, "s", "f"));
  EXPECT_EQ(1u, items.size());
  EXPECT_EQ(1, store.beginTranscation());
  EXPECT_EQ(1, store.endTranscation());
}

const char* const kOriginal =
    "; gateway settings\r\n"
    "[policy_server]\r\n"
    "backlog = 100\r\n"
    "# port follows\r\n"
    "PolicyServerPort=5060\r\n"
    "\r\n"
    "[LDAP_SVR_1]\r\n"
    "ldap_cache_TTL_minutes=1440\r\n";

TEST(GlobalSettingIF, SetItem_KeepsEveryOtherByte) {
  TempRoot root;
  TempRoot::write(root.config("quor.ini"), kOriginal);
  QUOR::GlobalSettingIF settings;
  EXPECT_EQ(0, settings.setItem("backlog", "200", "policy_server", "quor.ini"));
  EXPECT_EQ(0, settings.setItem("threads", "8", "policy_server", "quor.ini"));
  EXPECT_EQ(0, settings.setItem("host", "gw1", "policy_client", "quor.ini"));
  EXPECT_EQ(
      "; gateway settings\r\n"
      "[policy_server]\r\n"
      "backlog=200\r\n"
      "# port follows\r\n"
      "PolicyServerPort=5060\r\n"
      "threads=8\r\n"
      "\r\n"
      "[LDAP_SVR_1]\r\n"
      "ldap_cache_TTL_minutes=1440\r\n"
      "[policy_client]\r\n"
      "host=gw1\r\n",
      TempRoot::read(root.config("quor.ini")));
  std::string value;
  EXPECT_EQ(0, settings.getItem("threads", value, "policy_server", "quor.ini"));
  EXPECT_EQ("8", value);
  int number = 0;
  EXPECT_EQ(0, settings.getItem("backlog", number, "policy_server", "quor.ini"));
  EXPECT_EQ(200, number);
}

TEST(GlobalSettingIF, SetItem_CreatesMissingFileAndDefaultsToQuorIni) {
  TempRoot root;
  QUOR::GlobalSettingIF settings;
  EXPECT_EQ(0, settings.setItem("k", "v", "s", nullptr));
  EXPECT_EQ("[s]\nk=v\n", TempRoot::read(root.config("quor.ini")));
}

TEST(GlobalSettingIF, GetItemsInSection_OverwritesWithoutClearing) {
  TempRoot root;
  TempRoot::write(root.config("quor.ini"), kOriginal);
  QUOR::GlobalSettingIF settings;
  Items items = {{"backlog", "1"}, {"host", "h"}};
  EXPECT_EQ(0, settings.getItemsInSection(items, "policy_server", "quor.ini"));
  const Items want = {{"backlog", "100"}, {"host", "h"}, {"PolicyServerPort", "5060"}};
  EXPECT_EQ(want, items);

  const struct {
    const char* name;
    const char* section;
    const char* file;
    QUOR::GS_ERROR want;
  } failures[] = {
      {"absent section", "nope", "quor.ini", QUOR::GS_ITEM_NOT_FOUND},
      {"absent file", "policy_server", "other.ini", QUOR::GS_FILE_NOT_FOUND},
      {"null section", nullptr, "quor.ini", QUOR::GS_INVALID_ARGUMENT},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.want, settings.getItemsInSection(items, f.section, f.file));
    EXPECT_EQ(want, items);
  }
}

TEST(GlobalSettingIF, GetItem_FailsWithoutRoot) {
  TempRoot root;
  TempRoot::write(root.config("quor.ini"), kOriginal);
  ::unsetenv("QUOR_HOME");
  QUOR::GlobalSettingIF settings;
  std::string value = "x";
  EXPECT_EQ(QUOR::GS_FILE_NOT_FOUND, settings.getItem("backlog", value, "policy_server", "quor.ini"));
  EXPECT_EQ("x", value);
  // A path with separators does not need the root.
  std::string full = root.config("quor.ini").string();
  EXPECT_EQ(0, settings.getItem("backlog", value, "policy_server", full.c_str()));
  EXPECT_EQ("100", value);
}

TEST(GlobalSettingIF, SetItem_MissingFolderFailsAndLogs) {
  TempRoot root;
  std::filesystem::remove_all(root.root() / "config");
  LogCapture capture;
  QUOR::GlobalSettingIF settings;
  EXPECT_EQ(QUOR::GS_WRITE_FAILED, settings.setItem("k", "v", "s", "quor.ini"));
  const std::string path = root.config("quor.ini").string();
  const std::vector<quor::test::LogEntry> want = {
      {1, "GlobalSettingIF::setItem: could not write key k of section [s] to " + path +
              ": No such file or directory"}};
  EXPECT_EQ(want, capture.entries())
      << quor::test::describe(capture.entries());
  EXPECT_FALSE(std::filesystem::exists(root.root() / "config"));
}

// A write that fails half way (the file size limit stops the temporary
// file) leaves the original file as it was and no temporary behind.
TEST(GlobalSettingIF, SetItem_FailedWriteKeepsOldFile) {
  TempRoot root;
  TempRoot::write(root.config("quor.ini"), kOriginal);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    QUOR::GlobalSettingIF settings;
    int rc = settings.setItem("backlog", std::string(200, '9').c_str(), "policy_server", "quor.ini");
    ::_exit(rc);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(QUOR::GS_WRITE_FAILED, WEXITSTATUS(status));
  EXPECT_EQ(kOriginal, TempRoot::read(root.config("quor.ini")));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(root.root() / "config")) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"quor.ini", "quor.ini.lock"}), names);
}

// Two processes update different keys of one file at the same time; the
// lock makes every read-modify-write see the other's earlier writes.
TEST(GlobalSettingIF, SetItem_TwoProcessesLoseNoWrites) {
  TempRoot root;
  TempRoot::write(root.config("quor.ini"), "; shared\n[s]\n");
  constexpr int kWrites = 60;
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      QUOR::GlobalSettingIF settings;
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        std::string key = std::string(1, static_cast<char>('a' + w)) + std::to_string(i);
        failures += settings.setItem(key.c_str(), std::to_string(i * 10 + w).c_str(), "s",
                                     "quor.ini") != 0;
      }
      ::_exit(failures);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
  QUOR::GlobalSettingIF settings;
  Items items;
  ASSERT_EQ(0, settings.getItemsInSection(items, "s", "quor.ini"));
  Items want;
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kWrites; ++i) {
      want[std::string(1, static_cast<char>('a' + w)) + std::to_string(i)] = std::to_string(i * 10 + w);
    }
  }
  EXPECT_EQ(want, items);
  EXPECT_EQ(0u, TempRoot::read(root.config("quor.ini")).rfind("; shared\n[s]\n", 0));
}

class GlobalSettingOnMemTest : public ::testing::Test {
 protected:
  void TearDown() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  TempRoot _root;
};

TEST_F(GlobalSettingOnMemTest, Instance_LoadsQuorIniOfTheRoot) {
  TempRoot::write(_root.config("quor.ini"), kOriginal);
  EXPECT_EQ(nullptr, QUOR::GlobalSettingOnMem::Instance(nullptr, false, nullptr, nullptr, nullptr,
                                                        nullptr, true));
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  ASSERT_NE(nullptr, store);
  EXPECT_TRUE(store->ok());
  EXPECT_EQ((_root.root() / "config").string(), store->getInitFilePath());
  EXPECT_STREQ("quor.ini", store->getInitFileName());
  EXPECT_EQ("loaded settings file " + _root.config("quor.ini").string(), store->getMessage());
  Items items = {{"other", "x"}};
  EXPECT_EQ(0, store->getItemsInSection(items, "policy_server"));
  const Items want = {{"backlog", "100"}, {"other", "x"}, {"PolicyServerPort", "5060"}};
  EXPECT_EQ(want, items);
  EXPECT_EQ(store, QUOR::GlobalSettingOnMem::Instance(nullptr, true, "ignored.ini", nullptr,
                                                      nullptr, nullptr, true));
}

TEST_F(GlobalSettingOnMemTest, InsertReplaceItemOnMem_ChangesMemoryOnly) {
  TempRoot::write(_root.config("quor.ini"), kOriginal);
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  ASSERT_TRUE(store->ok());
  EXPECT_TRUE(store->insertReplaceItemOnMem("backlog", "7", "policy_server"));
  EXPECT_TRUE(store->insertReplaceItemOnMem("new", "n", "fresh"));
  EXPECT_FALSE(store->insertReplaceItemOnMem("k", "v", nullptr));
  std::string value;
  EXPECT_EQ(0, store->getItem("backlog", value, "policy_server"));
  EXPECT_EQ("7", value);
  EXPECT_EQ(0, store->getItem("new", value, "fresh"));
  EXPECT_EQ("n", value);
  EXPECT_EQ(kOriginal, TempRoot::read(_root.config("quor.ini")));
}

TEST_F(GlobalSettingOnMemTest, SetItem_WritesFileAndMemory) {
  TempRoot::write(_root.config("quor.ini"), "[s]\nk=1\n");
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, "s", nullptr, true);
  ASSERT_TRUE(store->ok());
  EXPECT_EQ(0, store->setItem("k", "2", nullptr));
  int value = 0;
  EXPECT_EQ(0, store->getItem("k", value, nullptr));
  EXPECT_EQ(2, value);
  EXPECT_EQ("[s]\nk=2\n", TempRoot::read(_root.config("quor.ini")));
}

TEST_F(GlobalSettingOnMemTest, Instance_MissingFileIsNotOkUntilItLoads) {
  auto* store = QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, "policy", nullptr,
                                                   nullptr, true);
  ASSERT_NE(nullptr, store);
  EXPECT_FALSE(store->ok());
  EXPECT_EQ("policy: could not read settings file " + _root.config("quor.ini").string() +
                ": No such file or directory",
            store->getMessage());
  Items items;
  EXPECT_EQ(QUOR::GS_FAILURE, store->getItemsInSection(items, "policy_server"));
  TempRoot::write(_root.config("quor.ini"), kOriginal);
  EXPECT_EQ(store, QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr,
                                                      nullptr, true));
  EXPECT_TRUE(store->ok());
  EXPECT_EQ(0, store->getItemsInSection(items, "LDAP_SVR_1"));
  EXPECT_EQ((Items{{"ldap_cache_TTL_minutes", "1440"}}), items);
}

TEST_F(GlobalSettingOnMemTest, Copy_CopiesItemsAndTexts) {
  TempRoot::write(_root.config("quor.ini"), kOriginal);
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  QUOR::GlobalSettingOnMem copy(*store);
  store->insertReplaceItemOnMem("backlog", "1", "policy_server");
  std::string value;
  EXPECT_EQ(0, copy.getItem("backlog", value, "policy_server"));
  EXPECT_EQ("100", value);
  EXPECT_STREQ(store->getInitFilePath(), copy.getInitFilePath());
  EXPECT_TRUE(copy.ok());
}

}  // namespace
