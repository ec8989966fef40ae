// Test support for the policy-object tests: a fresh database per test on
// each backend, wired to a temporary installation root, filled with a small
// organisation whose expected lists are written down by hand in the tests.
//
// The organisation:
//   entities  1 Sales (0)            2 Support (0)          3 *@*.example.com (6)
//             4 *@eu.example.com (6) 5 *@*.com (6)          7 ldap://cn=ops (2)
//             8 *@other.org (6)      9 *@Mixed.Example.com (6)  10 *@*.Org (6)
//   admins    1 root (root)  2 alice {1, 3}  3 bob {2}  4 carol {8}  5 dave {}
//             6 erin {7}
//   address groups (kind 5), id name {entities}:
//             1001 alpha {1}   1002 Bravo {1,3}   1003 Charlie {1,2}  1004 delta {4}
//             1005 echo {5}    1006 foxtrot {1,5} 1007 OPP:shared {1} 1008 opp:lower {1}
//             1009 golf {8}    1010 hotel {10}    1011 india {9}      1012 juliet {7}
//             1013 kilo {2}
//   rules     1 acts on 1002 (Bravo); 2 names 1013 (kilo) in a condition
//   quarantine areas (kind 3): 2001 "Quarantine B" {1}, 2002 "quarantine a" {3},
//             2003 "OPP:Shared area" {2}, 2004 "OPP-1" {2}; content "content of <id>"
#ifndef QUORPOLICY_TESTS_POLICYOBJ_POLICYWORLD_H_
#define QUORPOLICY_TESTS_POLICYOBJ_POLICYWORLD_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "dataaccess/DbBackends.h"
#include "db/RdbmsTestSupport.h"

namespace quor::test {

class PolicyDbTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Fills the organisation above.
  void loadWorld() const;
  // Replaces a statement file of the installation with `text`.
  void craft(const std::string& file, const std::string& text) const;
  // Makes every RdbmsInterface made from now on find no connection.
  void dropConnections();
  // The message the facade logs when it finds no connection.
  static std::string noConnectionMessage();
  // SQLite only: the world, a 200 ms busy timeout, and a caller's unit of
  // work holding an open write transaction, so that writes on other
  // connections find the database locked.
  std::unique_ptr<QUOR::RdbmsInterface> holdWriteLock() const;

  std::unique_ptr<TestDatabase> _db;
  std::unique_ptr<InstallRoot> _root;
  std::unique_ptr<ScriptedPool> _pool;
};

std::string describeSummaries(const std::vector<SummaryNamedObject>& summaries);

// Checks that a logged message starts with `head` and ends with `tail` (the
// data-access failure text between them belongs to the driver).
void expectFramed(const std::string& message, const std::string& head, const std::string& tail);

// Every parameterised suite runs on both backends.
#define QUOR_POLICY_DB_SUITE(suite)                                             \
  INSTANTIATE_TEST_SUITE_P(Backends, suite, ::testing::ValuesIn(allBackends()), \
                           [](const ::testing::TestParamInfo<Backend>& param) { \
                             return std::string(backendName(param.param));      \
                           })

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_POLICYOBJ_POLICYWORLD_H_
