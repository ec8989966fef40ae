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

using quor::test::describe;
using quor::test::LogCapture;
using quor::test::TempRoot;
using P = QuorPolicyServerInterface;
using Lines = std::vector<std::string>;

constexpr const char* kIni =
    "; gateway settings\n[policy_server]\nbacklog=100\nkeep-alive=yes\nPolicyServerPort=8443\n"
    "protocol=HTTPS\nrecv_timeout_secs=30\nsend_timeout_secs=40\nthreads=8\nmax_threads=16\n"
    "[policy_client]\nhost=policy.example\nsend_timeout_secs=45\n"
    "[LDAP_SVR_1]\nldap_cache_TTL_minutes=30\n";

// Reads the server's settings from the chosen source; the nine outputs as
// text, in the reader's order, starting from 1 0 2 0 3 4 5 6 7.
std::string readServer(bool prioritizeIni, QuorErrC& rc) {
  unsigned int backlog = 1, port = 2, recv = 3, send = 4, threads = 5, maxThreads = 6, ttl = 7;
  bool keepAlive = false;
  P::Protocol protocol = P::HTTP;
  rc = P::getSettingsFromDatabase(backlog, keepAlive, port, protocol, recv, send, threads,
                                  maxThreads, ttl, prioritizeIni);
  char text[128];
  std::snprintf(text, sizeof text, "%u %d %u %d %u %u %u %u %u", backlog, keepAlive, port,
                static_cast<int>(protocol), recv, send, threads, maxThreads, ttl);
  return text;
}

std::string readClient(bool prioritizeIni, QuorErrC& rc) {
  std::string host = "h";
  unsigned int port = 1, recv = 2, send = 3;
  bool keepAlive = false;
  P::Protocol protocol = P::HTTP;
  rc = P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, prioritizeIni);
  return host + " " + std::to_string(port) + " " + std::to_string(keepAlive) + " " +
         std::to_string(protocol) + " " + std::to_string(recv) + " " + std::to_string(send);
}

class SettingsSources : public ::testing::Test {
 protected:
  void SetUp() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  void TearDown() override { QUOR::GlobalSettingOnMem::DestroyInstance(); }
  std::filesystem::path ini() const { return _root.config("quor.ini"); }
  TempRoot _root;
};

TEST_F(SettingsSources, FileAndMemoryAreReadSeparately) {
  TempRoot::write(ini(), kIni);
  LogCapture log;
  QuorErrC rc[4] = {-1, -1, -1, -1};
  // The first read from memory loads the in-memory store from the file.
  EXPECT_EQ("100 1 8443 1 30 40 8 16 30", readServer(true, rc[0]));
  EXPECT_EQ(3u, log.texts(4).size()) << describe(log.entries());  // enter, outputs, leave
  QUOR::GlobalSettingOnMem* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  ASSERT_TRUE(store != nullptr && store->ok());
  ASSERT_TRUE(store->insertReplaceItemOnMem("backlog", "200", "policy_server"));
  ASSERT_TRUE(store->insertReplaceItemOnMem("host", "memory.example", "policy_client"));
  EXPECT_EQ("100 1 8443 1 30 40 8 16 30", readServer(false, rc[0]));
  EXPECT_EQ("200 1 8443 1 30 40 8 16 30", readServer(true, rc[1]));
  // The client's recv_timeout_secs is missing from its section: the store
  // adds to the map holding the server's items, so the server's 30 is used.
  EXPECT_EQ("policy.example 8443 1 1 30 45", readClient(false, rc[2]));
  EXPECT_EQ("memory.example 8443 1 1 30 45", readClient(true, rc[3]));
  EXPECT_EQ((std::vector<QuorErrC>{0, 0, 0, 0}), std::vector<QuorErrC>(rc, rc + 4));
}

TEST_F(SettingsSources, UnusableStoresGiveTheFailureCodes) {
  // No quor.ini: the in-memory store does not load (silently), the file
  // cannot be read (the readers name the sections).
  LogCapture log;
  for (const bool prioritizeIni : {true, false}) {
    SCOPED_TRACE(prioritizeIni ? "memory" : "file");
    QuorErrC serverRc = -1, clientRc = -1;
    EXPECT_EQ("1 0 2 0 3 4 5 6 7", readServer(prioritizeIni, serverRc));
    EXPECT_EQ(1609, serverRc);
    EXPECT_EQ("h 1 0 0 2 3", readClient(prioritizeIni, clientRc));
    EXPECT_EQ(1608, clientRc);
  }
  EXPECT_EQ((Lines{"[ERROR]Can not retrieve items in section policy_server and LDAP_SVR_1.",
                   "QuorPolicyServerInterface::getClientSettingsFromDatabase: Error retrieving "
                   "items from section policy_server."}),
            log.texts(1));
}

TEST_F(SettingsSources, WriteReadsBackExceptTheCacheLifetime) {
  TempRoot::write(ini(), kIni);
  ASSERT_EQ(0, P::setSettingsInDatabase(1000, false, 65535, P::HTTP, 1, 2, 90));
  LogCapture log;
  QuorErrC rc = -1;
  // Time-outs are not written; the cache lifetime goes to "policy_server"
  // while the reader takes it from "LDAP_SVR_1", which keeps 30.
  EXPECT_EQ("1000 0 65535 0 30 40 1 2 30", readServer(false, rc));
  EXPECT_EQ(0, rc);
  QUOR::GlobalSettingIF file;
  std::string text;
  EXPECT_EQ(QUOR::GS_SUCCESS, file.getItem("ldap_cache_TTL_minutes", text, "policy_server"));
  EXPECT_EQ("90", text);
  EXPECT_EQ(0u, TempRoot::read(ini()).rfind("; gateway settings\n[policy_server]\n", 0));
}

}  // namespace
