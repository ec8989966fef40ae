#include "QuorAction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.h"
#include "vocab/FakeAction.h"

namespace {

using quor::test::FakeAction;
using quor::test::FakeList;
using quor::test::LogCapture;
using quor::test::LogEntry;

QuorAction::ActionType kind(int value) { return static_cast<QuorAction::ActionType>(value); }

struct NameRow {
  int type;
  const char* name;
  const char* xhdr;
  bool terminal;
};

// Written out from the kind table, not from the code.
const NameRow kNameRows[] = {
    {0, "ArchiveAction", "archive", false},
    {1, "DeleteAction", "delete", true},
    {2, "QuarantineAction", "quarantine", true},
    {3, "ReaddressAction", "readdress", true},
    {4, "DeleteAttachmentAction", "delete_attachment", false},
    {5, "VirusCleanAction", "clean", false},
    {6, "HeaderTaggingAction", "tag", false},
    {7, "SubjectTaggingAction", "tag", false},
    {8, "StampAction", "stamp", false},
    {9, "BccAction", "BCC", false},
    {10, "NotifyAction", "notification", false},
    {11, "HandoffAction", "handoff", true},
    {12, "PostponeAction", "postpone", false},
    {13, "LogOnly", "log", false},
    {14, "Unknown", "unknown", false},
    {15, "Unknown", "unknown", false},
    {16, "KesselAction", "kessel", false},
    {17, "Unknown", "unknown", false},
    {18, "InsertXHeaderTag", "xheader", false},
    {19, "Unknown", "unknown", false},
    {-1, "Unknown", "unknown", false},
    {-5, "Unknown", "unknown", false},
    {1000, "Unknown", "unknown", false},
};

TEST(QuorAction, GetActionName_FollowsKindTable) {
  for (const auto& row : kNameRows) {
    SCOPED_TRACE(row.type);
    EXPECT_STREQ(row.name, QuorAction::getActionName(kind(row.type)));
  }
}

TEST(QuorAction, GetActNameForXHdr_FollowsKindTable) {
  for (const auto& row : kNameRows) {
    SCOPED_TRACE(row.type);
    EXPECT_STREQ(row.xhdr, QuorAction::getActNameForXHdr(kind(row.type)));
  }
}

TEST(QuorAction, IsTerminal_TrueForDeleteQuarantineReaddressHandoffOnly) {
  for (const auto& row : kNameRows) {
    SCOPED_TRACE(row.type);
    EXPECT_EQ(row.terminal, QuorAction::IsTerminal(kind(row.type)));
  }
}

// 'y' changes the part, 'n' does not, 'u' is unexpected (logged, answers true).
struct ChangeRow {
  int type;
  char body;
  char header;
};

const ChangeRow kChangeRows[] = {
    {0, 'n', 'n'},  {1, 'n', 'n'},  {2, 'n', 'n'},  {3, 'n', 'y'},  {4, 'y', 'n'},
    {5, 'y', 'n'},  {6, 'u', 'u'},  {7, 'y', 'n'},  {8, 'y', 'n'},  {9, 'n', 'y'},
    {10, 'n', 'n'}, {11, 'n', 'n'}, {12, 'n', 'n'}, {13, 'n', 'n'}, {14, 'u', 'u'},
    {15, 'u', 'u'}, {16, 'n', 'n'}, {17, 'u', 'u'}, {18, 'n', 'n'}, {19, 'u', 'u'},
    {-1, 'u', 'u'},
};

std::vector<LogEntry> unexpectedLog(const char* op, char klass, const char* name, int type) {
  if (klass != 'u') return {};
  return {{1, std::string("QuorAction::") + op + ": unexpected action " + name + " (" +
                  std::to_string(type) + ")"}};
}

const char* nameOf(int type) {
  for (const auto& row : kNameRows) {
    if (row.type == type) return row.name;
  }
  return "?";
}

TEST(QuorAction, WillModifyMsgBody_ClassifiesEveryKind) {
  for (const auto& row : kChangeRows) {
    SCOPED_TRACE(row.type);
    LogCapture capture;
    EXPECT_EQ(row.body != 'n', QuorAction::willModifyMsgBody(kind(row.type)));
    EXPECT_EQ(unexpectedLog("willModifyMsgBody", row.body, nameOf(row.type), row.type),
              capture.entries())
        << quor::test::describe(capture.entries());
  }
}

TEST(QuorAction, WillModifyMsgHdr_ClassifiesEveryKind) {
  for (const auto& row : kChangeRows) {
    SCOPED_TRACE(row.type);
    LogCapture capture;
    EXPECT_EQ(row.header != 'n', QuorAction::willModifyMsgHdr(kind(row.type)));
    EXPECT_EQ(unexpectedLog("willModifyMsgHdr", row.header, nameOf(row.type), row.type),
              capture.entries())
        << quor::test::describe(capture.entries());
  }
}

struct ListRow {
  const char* name;
  std::vector<int> kinds;
  bool body;
  bool header;
  std::vector<std::string> bodyLog;
  std::vector<std::string> headerLog;
  int bodyAsked;  // how many actions the body question visits
};

TEST(QuorAction, WillModifyList_FirstDecidingActionAnswers) {
  const std::string body6 = "QuorAction::willModifyMsgBody: unexpected action HeaderTaggingAction (6)";
  const std::string hdr6 = "QuorAction::willModifyMsgHdr: unexpected action HeaderTaggingAction (6)";
  const std::string body17 = "QuorAction::willModifyMsgBody: unexpected action Unknown (17)";
  const std::string hdr17 = "QuorAction::willModifyMsgHdr: unexpected action Unknown (17)";
  const ListRow rows[] = {
      {"empty", {}, false, false, {}, {}, 0},
      {"notify then stamp", {10, 8}, true, false, {}, {}, 2},
      {"unexpected before stamp", {10, 6, 8}, true, true, {body6}, {hdr6}, 2},
      {"readdress and bcc", {3, 9}, false, true, {}, {}, 2},
      {"readdress alone", {3}, false, true, {}, {}, 1},
      {"stamp before unexpected", {8, 6}, true, true, {}, {hdr6}, 1},
      {"unknown kind", {0, 17, 6}, true, true, {body17}, {hdr17}, 2},
      {"nothing changes", {0, 1, 13, 16, 18}, false, false, {}, {}, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeList<FakeAction> list;
    for (int k : row.kinds) list.add(k);
    const auto actions = list.pointers<QuorAction>();
    {
      LogCapture capture;
      EXPECT_EQ(row.body, QuorAction::willModifyMsgBody(actions));
      EXPECT_EQ(row.bodyLog, capture.texts(1));
      EXPECT_EQ(row.bodyLog.size(), capture.size());
    }
    int asked = 0;
    for (const auto& a : list.owned) asked += a->typeAsked;
    EXPECT_EQ(row.bodyAsked, asked);
    LogCapture capture;
    EXPECT_EQ(row.header, QuorAction::willModifyMsgHdr(actions));
    EXPECT_EQ(row.headerLog, capture.texts(1));
    EXPECT_EQ(row.headerLog.size(), capture.size());
  }
}

TEST(QuorAction, GetHighestOrderAction_SmallestKindWithLogOnlyFloor) {
  struct Row {
    const char* name;
    std::vector<int> kinds;
    int want;
  };
  const Row rows[] = {
      {"empty", {}, 13},
      {"postpone quarantine archive", {12, 2, 0}, 0},
      {"kessel only", {16}, 13},
      {"insert x-header and kessel", {18, 16}, 13},
      {"notify after delete", {1, 10}, 1},
      {"unnamed 14 loses to log only", {14}, 13},
      {"negative kind wins", {5, -3, 0}, -3},
      {"handoff and postpone", {12, 11}, 11},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeList<FakeAction> list;
    for (int k : row.kinds) list.add(k);
    EXPECT_EQ(row.want, static_cast<int>(
                            QuorAction::getHighestOrderAction(list.pointers<QuorAction>())));
  }
}

TEST(QuorAction, OriginalMsgRequired_StopsAtFirstActionThatNeedsIt) {
  struct Row {
    const char* name;
    std::vector<bool> needs;
    bool want;
    std::vector<int> asked;
  };
  const Row rows[] = {
      {"empty", {}, false, {}},
      {"none needs it", {false, false}, false, {1, 1}},
      {"second needs it", {false, true, true}, true, {1, 1, 0}},
      {"first needs it", {true, false}, true, {1, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeList<FakeAction> list;
    for (bool n : row.needs) list.add(0, n);
    EXPECT_EQ(row.want, QuorAction::originalMsgRequired(list.pointers<QuorAction>()));
    std::vector<int> asked;
    for (const auto& a : list.owned) asked.push_back(a->originalAsked);
    EXPECT_EQ(row.asked, asked);
  }
}

TEST(QuorAction, BaseNamedObjectSlots_AddNothing) {
  FakeAction action(0);
  std::vector<unsigned int> ids = {7};
  EXPECT_FALSE(action.hasNamedObjects());
  EXPECT_FALSE(action.getNamedObjectIds("1,2", 3, ids));
  EXPECT_FALSE(action.getNamedObjectIds(std::string("1,2"), ids));
  EXPECT_EQ(std::vector<unsigned int>{7}, ids);
}

// An action that collects ids from text: the string form must forward the
// characters and the length to it.
class CountingAction : public FakeAction {
 public:
  CountingAction() : FakeAction(0) {}
  using QuorAction::getNamedObjectIds;
  bool getNamedObjectIds(const char* text, int length, std::vector<unsigned int>& ids) override {
    seen.assign(text, static_cast<size_t>(length));
    ids.push_back(static_cast<unsigned int>(length));
    return true;
  }
  std::string seen;
};

TEST(QuorAction, GetNamedObjectIdsOfString_ForwardsCharactersAndLength) {
  CountingAction action;
  std::vector<unsigned int> ids;
  const std::string text("a;b\0c", 5);
  QuorAction& base = action;
  EXPECT_TRUE(base.getNamedObjectIds(text, ids));
  EXPECT_EQ(text, action.seen);
  EXPECT_EQ(std::vector<unsigned int>{5}, ids);
}

}  // namespace
