// The policy server settings through the real stores: "quor.ini" under a
// temporary installation root, and the process's in-memory store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "GlobalSetting.h"
#include "QuorPolicyServerInterface.h"
#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;
using P = QuorPolicyServerInterface;

constexpr const char* kIni =
    "; gateway settings\n"
    "[policy_server]\n"
    "backlog=100\n"
    "keep-alive=yes\n"
    "PolicyServerPort=8443\n"
    "protocol=HTTPS\n"
    "recv_timeout_secs=30\n"
    "send_timeout_secs=40\n"
    "threads=8\n"
    "max_threads=16\n"
    "[policy_client]\n"
    "host=policy.example\n"
    "send_timeout_secs=45\n"
    "[LDAP_SVR_1]\n"
    "ldap_cache_TTL_minutes=30\n";

struct Server {
  unsigned int backlog = 1, port = 2, recv = 3, send = 4, threads = 5, maxThreads = 6, ttl = 7;
  bool keepAlive = false;
  P::Protocol protocol = P::HTTP;
};

QuorErrC readServer(Server& s, bool prioritizeIni) {
  return P::getSettingsFromDatabase(s.backlog, s.keepAlive, s.port, s.protocol, s.recv, s.send,
                                    s.threads, s.maxThreads, s.ttl, prioritizeIni);
}

class SettingsSources : public ::testing::Test {
 protected:
  void SetUp() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  void TearDown() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  std::filesystem::path ini() const { return _root.config("quor.ini"); }
  TempRoot _root;
};

TEST_F(SettingsSources, File_ReadsEveryKeyAndLogsEachRead) {
  TempRoot::write(ini(), kIni);
  LogCapture log;
  Server s;
  ASSERT_EQ(0, readServer(s, false));
  EXPECT_EQ(100u, s.backlog);
  EXPECT_TRUE(s.keepAlive);
  EXPECT_EQ(8443u, s.port);
  EXPECT_EQ(P::HTTPS, s.protocol);
  EXPECT_EQ(30u, s.recv);
  EXPECT_EQ(40u, s.send);
  EXPECT_EQ(8u, s.threads);
  EXPECT_EQ(16u, s.maxThreads);
  EXPECT_EQ(30u, s.ttl);
  const std::vector<std::string> want = {
      "Read setting 'backlog' in section [policy_server], value is '100'.",
      "Read setting 'keep-alive' in section [policy_server], value is 'yes'.",
      "Read setting 'PolicyServerPort' in section [policy_server], value is '8443'.",
      "Read setting 'protocol' in section [policy_server], value is 'HTTPS'.",
      "Policy server will use protocal 'https'.",
      "Read setting 'recv_timeout_secs' in section [policy_server], value is '30'.",
      "Read setting 'send_timeout_secs' in section [policy_server], value is '40'.",
      "Read setting 'threads' in section [policy_server], value is '8'.",
      "Read setting 'max_threads' in section [policy_server], value is '16'.",
      "Read setting 'ldap_cache_TTL_minutes' in section [policy_server], value is '30'."};
  EXPECT_EQ(want, log.texts(1));
}

TEST_F(SettingsSources, Memory_IsReadInsteadOfTheFile) {
  TempRoot::write(ini(), kIni);
  QUOR::GlobalSettingOnMem* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  ASSERT_NE(nullptr, store);
  ASSERT_TRUE(store->ok());
  ASSERT_TRUE(store->insertReplaceItemOnMem("backlog", "200", "policy_server"));
  ASSERT_TRUE(store->insertReplaceItemOnMem("host", "memory.example", "policy_client"));

  LogCapture log;
  Server fromMemory, fromFile;
  ASSERT_EQ(0, readServer(fromMemory, true));
  ASSERT_EQ(0, readServer(fromFile, false));
  EXPECT_EQ(200u, fromMemory.backlog);
  EXPECT_EQ(100u, fromFile.backlog);
  EXPECT_TRUE(log.contains(1, "Read setting 'backlog' in section [policy_server], value is '200'."));
  EXPECT_TRUE(log.contains(1, "Read setting 'backlog' in section [policy_server], value is '100'."));

  std::string host;
  unsigned int port = 0, recv = 0, send = 0;
  bool keepAlive = false;
  P::Protocol protocol = P::HTTP;
  ASSERT_EQ(0, P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, true));
  EXPECT_EQ("memory.example", host);
}

TEST_F(SettingsSources, UnusableStoresGiveTheFailureCodes) {
  // No quor.ini: the in-memory store does not load, the file cannot be read.
  LogCapture log;
  Server s;
  EXPECT_EQ(1609, readServer(s, true));
  EXPECT_EQ(1609, readServer(s, false));
  std::string host = "h";
  unsigned int port = 9, recv = 9, send = 9;
  bool keepAlive = true;
  P::Protocol protocol = P::HTTPS;
  EXPECT_EQ(1608, P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, true));
  EXPECT_EQ(1608,
            P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, false));
  EXPECT_EQ(1u, s.backlog);
  EXPECT_EQ("h", host);
  // The unusable in-memory store fails silently; the unreadable file names
  // its sections.
  EXPECT_EQ((std::vector<std::string>{
                "[ERROR]Can not retrieve items in section policy_server and LDAP_SVR_1.",
                "QuorPolicyServerInterface::getClientSettingsFromDatabase: Error retrieving items "
                "from section policy_server."}),
            log.texts(1));
}

TEST_F(SettingsSources, Client_KeyMissingFromClientSectionFallsBackToServerSection) {
  // "policy_client" has no recv_timeout_secs: the store adds the client's
  // items to the map holding the server's, so the server's 30 is used.
  TempRoot::write(ini(), kIni);
  LogCapture log;
  std::string host;
  unsigned int port = 0, recv = 0, send = 0;
  bool keepAlive = false;
  P::Protocol protocol = P::HTTP;
  ASSERT_EQ(0,
            P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, false));
  EXPECT_EQ("policy.example", host);
  EXPECT_EQ(8443u, port);
  EXPECT_TRUE(keepAlive);
  EXPECT_EQ(P::HTTPS, protocol);
  EXPECT_EQ(30u, recv);
  EXPECT_EQ(45u, send);
  EXPECT_TRUE(log.texts(1).empty());
}

TEST_F(SettingsSources, Write_ReadsBackAndKeepsTheRestOfTheFile) {
  TempRoot::write(ini(), kIni);
  ASSERT_EQ(0, P::setSettingsInDatabase(1000, false, 65535, P::HTTP, 1, 2, 90));
  LogCapture log;
  Server s;
  ASSERT_EQ(0, readServer(s, false));
  EXPECT_EQ(1000u, s.backlog);
  EXPECT_FALSE(s.keepAlive);
  EXPECT_EQ(65535u, s.port);
  EXPECT_EQ(P::HTTP, s.protocol);
  EXPECT_EQ(30u, s.recv);  // time-outs are not written
  EXPECT_EQ(1u, s.threads);
  EXPECT_EQ(2u, s.maxThreads);
  // The writer stores the cache lifetime under "policy_server"; the reader
  // takes it from "LDAP_SVR_1", which keeps its value.
  EXPECT_EQ(30u, s.ttl);
  QUOR::GlobalSettingIF file;
  std::string text;
  ASSERT_EQ(QUOR::GS_SUCCESS, file.getItem("ldap_cache_TTL_minutes", text, "policy_server"));
  EXPECT_EQ("90", text);
  ASSERT_EQ(QUOR::GS_SUCCESS, file.getItem("host", text, "policy_client"));
  EXPECT_EQ("policy.example", text);
  EXPECT_EQ(0u, TempRoot::read(ini()).rfind("; gateway settings\n[policy_server]\n", 0));
}

TEST_F(SettingsSources, Write_UnwritableFileGives1610AndStaysIntact) {
  TempRoot::write(ini(), kIni);
  // The store locks "<file>.lock" before writing; a folder there cannot be
  // opened as a lock file, even by root.
  std::filesystem::create_directory(ini().string() + ".lock");
  LogCapture log;
  EXPECT_EQ(1610, P::setSettingsInDatabase(1, true, 1, P::HTTPS, 1, 2, 3));
  EXPECT_EQ(kIni, TempRoot::read(ini()));
  EXPECT_EQ(std::vector<std::string>{"GlobalSettingIF::setItem: could not write key backlog of "
                                     "section [policy_server] to " +
                                     ini().string() + ": Is a directory"},
            log.texts(1));
}

}  // namespace
