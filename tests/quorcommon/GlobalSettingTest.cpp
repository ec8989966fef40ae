// The settings files: the INI file reader and writer, and the settings
// stores over it (file by file, and the in-memory copy).
#include "ConfigFile.h"
#include "GlobalSetting.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;
using Items = std::map<std::string, std::string>;

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
  Items items = {{"k", "old"}, {"keep", "me"}};
  const Items want = {{"k", "1"}, {"j", "two"}, {"keep", "me"}};
  ASSERT_TRUE(file.getparams("s", items));
  EXPECT_EQ(want, items);
  EXPECT_FALSE(file.getparams("absent", items));
  EXPECT_FALSE(file.getparams(nullptr, items));
  EXPECT_EQ(want, items);
  EXPECT_TRUE(file.setparam("s", "k", "2"));
  Items more = {{"x", "y z"}, {"w", "1"}};
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

const char* const kOriginal =
    "; gateway settings\r\n"
    "[policy_server]\r\n"
    "backlog = 100\r\n"
    "# port follows\r\n"
    "PolicyServerPort=5060\r\n"
    "\r\n"
    "[LDAP_SVR_1]\r\n"
    "ldap_cache_TTL_minutes=1440\r\n";

// An installation root whose config/quor.ini holds kOriginal.
class GlobalSettingIFTest : public ::testing::Test {
 protected:
  GlobalSettingIFTest() { TempRoot::write(ini(), kOriginal); }
  std::filesystem::path ini() const { return _root.config("quor.ini"); }
  // The names in the settings folder, sorted.
  std::vector<std::string> configNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(_root.root() / "config")) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TempRoot _root;
  QUOR::GlobalSettingIF _settings;
};

TEST_F(GlobalSettingIFTest, GetItemInt_ConvertsWordsAndNumbers) {
  const struct {
    const char* text;  // null: key absent
    QUOR::GS_ERROR rc;
    int want;
  } cases[] = {
      {"true", QUOR::GS_SUCCESS, 1},  {"yes", QUOR::GS_SUCCESS, 1},    {"no", QUOR::GS_SUCCESS, 0},
      {"42", QUOR::GS_SUCCESS, 42},   {"TRUE", QUOR::GS_SUCCESS, 0},   {"12abc", QUOR::GS_SUCCESS, 12},
      {nullptr, QUOR::GS_ITEM_NOT_FOUND, 999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(absent)");
    TempRoot::write(ini(), c.text != nullptr ? std::string("[s]\nk=") + c.text + "\n" : "[s]\n");
    int value = 999;
    EXPECT_EQ(c.rc, _settings.getItem("k", value, "s", "quor.ini"));
    EXPECT_EQ(c.want, value);
  }
}

TEST_F(GlobalSettingIFTest, SetItem_KeepsEveryOtherByte) {
  EXPECT_EQ(0, _settings.setItem("backlog", "200", "policy_server", "quor.ini"));
  EXPECT_EQ(0, _settings.setItem("threads", "8", "policy_server", "quor.ini"));
  EXPECT_EQ(0, _settings.setItem("host", "gw1", "policy_client", "quor.ini"));
  EXPECT_EQ(
      "; gateway settings\r\n[policy_server]\r\nbacklog=200\r\n# port follows\r\n"
      "PolicyServerPort=5060\r\nthreads=8\r\n\r\n[LDAP_SVR_1]\r\nldap_cache_TTL_minutes=1440\r\n"
      "[policy_client]\r\nhost=gw1\r\n",
      TempRoot::read(ini()));
  // A byte-order mark before the first section neither hides it nor goes.
  TempRoot::write(ini(), "\xEF\xBB\xBF[s]\r\nk=1\r\n");
  EXPECT_EQ(0, _settings.setItem("k", "2", "s", "quor.ini"));
  EXPECT_EQ("\xEF\xBB\xBF[s]\r\nk=2\r\n", TempRoot::read(ini()));
}

// A settings file that links to a file kept elsewhere: the link stays and
// the file it links to changes, locked beside it.
TEST_F(GlobalSettingIFTest, SetItem_WritesThroughALinkToItsTarget) {
  const auto target = _root.root() / "elsewhere" / "real.ini";
  std::filesystem::create_directories(target.parent_path());
  TempRoot::write(target, kOriginal);
  std::filesystem::remove(ini());
  std::filesystem::create_symlink("../elsewhere/real.ini", ini());
  EXPECT_EQ(0, _settings.setItem("backlog", "200", "policy_server", "quor.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(ini()));
  EXPECT_NE(std::string::npos, TempRoot::read(target).find("\r\nbacklog=200\r\n"));
  EXPECT_TRUE(std::filesystem::exists(target.string() + ".lock"));
}

// Root writing the service account's file (as an administration command
// does) keeps its owner, group and mode, and the account can still write
// it afterwards; a writer who may not give the file to its owner leaves it
// untouched.
TEST_F(GlobalSettingIFTest, SetItem_KeepsOwnerGroupAndModeOrFails) {
  const struct passwd* pw = ::getpwnam("nobody");
  if (::geteuid() != 0 || pw == nullptr) {
    GTEST_SKIP() << "needs to run as root with a 'nobody' account to hand files to";
  }
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  ASSERT_EQ(0, ::chmod(_root.root().c_str(), 0755));
  ASSERT_EQ(0, ::chown((_root.root() / "config").c_str(), uid, gid));
  ASSERT_EQ(0, ::chown(ini().c_str(), uid, gid));
  ASSERT_EQ(0, ::chmod(ini().c_str(), 0640));
  auto asNobody = [&](const char* value) {
    return quor::test::waitExit(quor::test::spawnChild([&] {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) return 99;
      return static_cast<int>(_settings.setItem("backlog", value, "policy_server", "quor.ini"));
    }));
  };
  EXPECT_EQ(0, _settings.setItem("backlog", "200", "policy_server", "quor.ini"));
  struct stat st {};
  ASSERT_EQ(0, ::stat(ini().c_str(), &st));
  EXPECT_EQ(uid, st.st_uid);
  EXPECT_EQ(gid, st.st_gid);
  EXPECT_EQ(0640u, st.st_mode & 07777u);
  EXPECT_EQ(0, asNobody("300"));

  ASSERT_EQ(0, ::chown(ini().c_str(), 0, 0));
  ASSERT_EQ(0, ::chmod(ini().c_str(), 0644));
  const std::string before = TempRoot::read(ini());
  EXPECT_EQ(QUOR::GS_WRITE_FAILED, asNobody("400"));
  EXPECT_EQ(before, TempRoot::read(ini()));
  ASSERT_EQ(0, ::stat(ini().c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ((std::vector<std::string>{"quor.ini", "quor.ini.lock"}), configNames());
}

// Temporaries of an interrupted write of the same file go at the next
// write; others stay.
TEST_F(GlobalSettingIFTest, SetItem_RemovesStaleTemporariesOfItsFileOnly) {
  for (const char* name : {"quor.ini.tmpAb3xYz", "quor.ini.tmpAb3xY", "db.ini.tmpAb3xYz"}) {
    TempRoot::write(_root.config(name), "[policy_server]\nbacklog=1\n");
  }
  EXPECT_EQ(0, _settings.setItem("backlog", "200", "policy_server", "quor.ini"));
  EXPECT_EQ((std::vector<std::string>{"db.ini.tmpAb3xYz", "quor.ini", "quor.ini.lock",
                                      "quor.ini.tmpAb3xY"}),
            configNames());
}


TEST_F(GlobalSettingIFTest, GetItemsInSection_OverwritesWithoutClearing) {
  Items items = {{"backlog", "1"}, {"host", "h"}};
  EXPECT_EQ(0, _settings.getItemsInSection(items, "policy_server", "quor.ini"));
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
    EXPECT_EQ(f.want, _settings.getItemsInSection(items, f.section, f.file));
    EXPECT_EQ(want, items);
  }
}

TEST_F(GlobalSettingIFTest, GetItem_FailsWithoutRoot) {
  ::unsetenv("QUOR_HOME");
  std::string value = "x";
  EXPECT_EQ(QUOR::GS_FILE_NOT_FOUND,
            _settings.getItem("backlog", value, "policy_server", "quor.ini"));
  EXPECT_EQ("x", value);
  // A path with separators does not need the root.
  EXPECT_EQ(0, _settings.getItem("backlog", value, "policy_server", ini().c_str()));
  EXPECT_EQ("100", value);
}

// A missing file (by default quor.ini) is made; a missing folder is not.
TEST_F(GlobalSettingIFTest, SetItem_MakesMissingFileButFailsAndLogsForMissingFolder) {
  std::filesystem::remove(ini());
  EXPECT_EQ(0, _settings.setItem("k", "v", "s", nullptr));
  EXPECT_EQ("[s]\nk=v\n", TempRoot::read(ini()));
  std::filesystem::remove_all(_root.root() / "config");
  LogCapture capture;
  EXPECT_EQ(QUOR::GS_WRITE_FAILED, _settings.setItem("k", "v", "s", "quor.ini"));
  const std::vector<quor::test::LogEntry> want = {
      {1, "GlobalSettingIF::setItem: could not write key k of section [s] to " + ini().string() +
              ": No such file or directory"}};
  EXPECT_EQ(want, capture.entries()) << quor::test::describe(capture.entries());
  EXPECT_FALSE(std::filesystem::exists(_root.root() / "config"));
}

// A write that fails half way (the file size limit stops the temporary
// file) leaves the original file as it was and no temporary behind.
TEST_F(GlobalSettingIFTest, SetItem_FailedWriteKeepsOldFile) {
  EXPECT_EQ(QUOR::GS_WRITE_FAILED, quor::test::waitExit(quor::test::spawnChild([&] {
              ::signal(SIGXFSZ, SIG_IGN);
              struct rlimit limit = {16, 16};
              ::setrlimit(RLIMIT_FSIZE, &limit);
              return static_cast<int>(_settings.setItem(
                  "backlog", std::string(200, '9').c_str(), "policy_server", "quor.ini"));
            })));
  EXPECT_EQ(kOriginal, TempRoot::read(ini()));
  EXPECT_EQ((std::vector<std::string>{"quor.ini", "quor.ini.lock"}), configNames());
}

// Two processes update different keys of one file at the same time; the
// lock makes every read-modify-write see the other's earlier writes.
TEST_F(GlobalSettingIFTest, SetItem_TwoProcessesLoseNoWrites) {
  TempRoot::write(ini(), "; shared\n[s]\n");
  constexpr int kWrites = 60;
  auto key = [](int w, int i) { return std::string(1, static_cast<char>('a' + w)) + std::to_string(i); };
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = quor::test::spawnChild([&] {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        failures += _settings.setItem(key(w, i).c_str(), std::to_string(i * 10 + w).c_str(), "s",
                                      "quor.ini") != 0;
      }
      return failures;
    });
  }
  for (pid_t child : children) EXPECT_EQ(0, quor::test::waitExit(child));
  Items items, want;
  ASSERT_EQ(0, _settings.getItemsInSection(items, "s", "quor.ini"));
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kWrites; ++i) want[key(w, i)] = std::to_string(i * 10 + w);
  }
  EXPECT_EQ(want, items);
  EXPECT_EQ(0u, TempRoot::read(ini()).rfind("; shared\n[s]\n", 0));
}

class GlobalSettingOnMemTest : public GlobalSettingIFTest {
 protected:
  void TearDown() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  static QUOR::GlobalSettingOnMem* instance(const char* section = nullptr) {
    return QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, section, nullptr,
                                              true);
  }
};

// A missing file leaves the store not ok until a later Instance loads it.
TEST_F(GlobalSettingOnMemTest, Instance_LoadsQuorIniOfTheRootOnce) {
  EXPECT_EQ(nullptr, QUOR::GlobalSettingOnMem::Instance(nullptr, false, nullptr, nullptr, nullptr,
                                                        nullptr, true));
  std::filesystem::remove(ini());
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, "policy", nullptr, nullptr, true);
  ASSERT_NE(nullptr, store);
  EXPECT_EQ(
      "policy: could not read settings file " + ini().string() + ": No such file or directory",
      store->getMessage());
  Items items = {{"other", "x"}};
  EXPECT_EQ(QUOR::GS_FAILURE, store->getItemsInSection(items, "policy_server"));
  TempRoot::write(ini(), kOriginal);
  EXPECT_EQ(store, instance());
  EXPECT_EQ("policy: loaded settings file " + ini().string(), store->getMessage());
  EXPECT_EQ(0, store->getItemsInSection(items, "policy_server"));
  EXPECT_EQ((Items{{"backlog", "100"}, {"other", "x"}, {"PolicyServerPort", "5060"}}), items);
  EXPECT_EQ(store, QUOR::GlobalSettingOnMem::Instance(nullptr, true, "ignored.ini", nullptr,
                                                      nullptr, nullptr, true));
  EXPECT_FALSE(store->insertReplaceItemOnMem("k", "v", nullptr));  // no default section
  // A copy owns its items: later changes to the original do not reach it.
  QUOR::GlobalSettingOnMem copy(*store);
  store->insertReplaceItemOnMem("backlog", "1", "policy_server");
  std::string value;
  EXPECT_EQ(0, copy.getItem("backlog", value, "policy_server"));
  EXPECT_EQ("100", value);
  EXPECT_STREQ(store->getInitFilePath(), copy.getInitFilePath());
  EXPECT_TRUE(copy.ok());
  // After DestroyInstance the next Instance loads the file again.
  QUOR::GlobalSettingOnMem::DestroyInstance();
  TempRoot::write(ini(), "[s]\nk=v\n");
  EXPECT_EQ(0, instance()->getItem("k", value, "s"));
  EXPECT_EQ("v", value);
}

TEST_F(GlobalSettingOnMemTest, InsertReplaceChangesMemoryOnly_SetItemWritesBoth) {
  auto* store = instance("policy_server");
  EXPECT_TRUE(store->insertReplaceItemOnMem("backlog", "7", "policy_server"));
  EXPECT_TRUE(store->insertReplaceItemOnMem("new", "n", "fresh"));
  std::string value;
  EXPECT_EQ(0, store->getItem("backlog", value, "policy_server"));
  EXPECT_EQ("7", value);
  EXPECT_EQ(0, store->getItem("new", value, "fresh"));
  EXPECT_EQ("n", value);
  EXPECT_EQ(kOriginal, TempRoot::read(ini()));
  // setItem with no section uses the default section given to Instance.
  EXPECT_EQ(0, store->setItem("backlog", "2", nullptr));
  int number = 0;
  EXPECT_EQ(0, store->getItem("backlog", number, nullptr));
  EXPECT_EQ(2, number);
  EXPECT_EQ(
      "; gateway settings\r\n[policy_server]\r\nbacklog=2\r\n# port follows\r\n"
      "PolicyServerPort=5060\r\n\r\n[LDAP_SVR_1]\r\nldap_cache_TTL_minutes=1440\r\n",
      TempRoot::read(ini()));
}

}  // namespace
