#include "QuorAction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.h"
#include "vocab/FakeAction.h"

namespace {

using quor::test::FakeAction;
using quor::test::FakeFilter;
using quor::test::FakeList;
using quor::test::LogCapture;

QuorAction::ActionType kind(int value) { return static_cast<QuorAction::ActionType>(value); }

// The kind table written out by hand. Body and header: 'y' changes that
// part, 'n' does not, 'u' is unexpected (logged, answers true).
struct KindRow {
  int type;
  const char* name;
  const char* xhdr;
  bool terminal;
  char body;
  char header;
};

const KindRow kKinds[] = {
    {0, "ArchiveAction", "archive", false, 'n', 'n'}, {1, "DeleteAction", "delete", true, 'n', 'n'},
    {2, "QuarantineAction", "quarantine", true, 'n', 'n'},
    {3, "ReaddressAction", "readdress", true, 'n', 'y'},
    {4, "DeleteAttachmentAction", "delete_attachment", false, 'y', 'n'},
    {5, "VirusCleanAction", "clean", false, 'y', 'n'},
    {6, "HeaderTaggingAction", "tag", false, 'u', 'u'},
    {7, "SubjectTaggingAction", "tag", false, 'y', 'n'},
    {8, "StampAction", "stamp", false, 'y', 'n'}, {9, "BccAction", "BCC", false, 'n', 'y'},
    {10, "NotifyAction", "notification", false, 'n', 'n'},
    {11, "HandoffAction", "handoff", true, 'n', 'n'},
    {12, "PostponeAction", "postpone", false, 'n', 'n'}, {13, "LogOnly", "log", false, 'n', 'n'},
    {16, "KesselAction", "kessel", false, 'n', 'n'},
    {18, "InsertXHeaderTag", "xheader", false, 'n', 'n'},
};

// Gaps in the kind numbers and values outside the table.
const int kUnknownKinds[] = {14, 15, 17, 19, -1, -5};

std::string unexpectedLog(const char* op, const char* name, int type) {
  return std::string("QuorAction::") + op + ": unexpected action " + name + " (" +
         std::to_string(type) + ")";
}

TEST(QuorAction, KindTable_NamesTerminalAndModifyingKinds) {
  std::vector<KindRow> rows(std::begin(kKinds), std::end(kKinds));
  for (int t : kUnknownKinds) rows.push_back({t, "Unknown", "unknown", false, 'u', 'u'});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    EXPECT_STREQ(row.name, QuorAction::getActionName(kind(row.type)));
    EXPECT_STREQ(row.xhdr, QuorAction::getActNameForXHdr(kind(row.type)));
    EXPECT_EQ(row.terminal, QuorAction::IsTerminal(kind(row.type)));
    // An unexpected kind answers true and logs one error.
    for (bool body : {true, false}) {
      const char klass = body ? row.body : row.header;
      const char* op = body ? "willModifyMsgBody" : "willModifyMsgHdr";
      LogCapture capture;
      EXPECT_EQ(klass != 'n', body ? QuorAction::willModifyMsgBody(kind(row.type))
                                   : QuorAction::willModifyMsgHdr(kind(row.type)));
      const std::vector<std::string> want =
          klass == 'u' ? std::vector<std::string>{unexpectedLog(op, row.name, row.type)}
                       : std::vector<std::string>{};
      EXPECT_EQ(want, capture.texts(1)) << op;
    }
  }
}

TEST(QuorAction, WillModifyList_FirstDecidingActionAnswers) {
  const std::string body6 = unexpectedLog("willModifyMsgBody", "HeaderTaggingAction", 6);
  const std::string hdr6 = unexpectedLog("willModifyMsgHdr", "HeaderTaggingAction", 6);
  struct Row {
    const char* name;
    std::vector<int> kinds;
    bool body, header;
    std::vector<std::string> bodyLog, headerLog;
    int bodyAsked;  // how many actions the body question visits
  };
  const Row rows[] = {
      {"empty", {}, false, false, {}, {}, 0},
      {"notify then stamp", {10, 8}, true, false, {}, {}, 2},
      {"unexpected before stamp", {10, 6, 8}, true, true, {body6}, {hdr6}, 2},
      {"readdress and bcc", {3, 9}, false, true, {}, {}, 2},
      {"stamp before unexpected", {8, 6}, true, true, {}, {hdr6}, 1},
      {"nothing changes", {0, 1, 13, 16, 18}, false, false, {}, {}, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeList<FakeAction> list;
    for (int k : row.kinds) list.add(k);
    const auto actions = list.pointers<QuorAction>();
    LogCapture body;
    EXPECT_EQ(row.body, QuorAction::willModifyMsgBody(actions));
    EXPECT_EQ(row.bodyLog, body.texts(1));
    int asked = 0;
    for (const auto& action : list.owned) asked += action->typeAsked;
    EXPECT_EQ(row.bodyAsked, asked);
    LogCapture header;
    EXPECT_EQ(row.header, QuorAction::willModifyMsgHdr(actions));
    EXPECT_EQ(row.headerLog, header.texts(1));
  }
}

// The smallest kind wins; kinds above LogOnly (actions) or OtherFilter
// (filters) never do.
TEST(QuorAction, GetHighestOrder_SmallestKindWithFloor) {
  struct Row {
    const char* name;
    bool filters;
    std::vector<int> kinds;
    int want;
  };
  const Row rows[] = {
      {"no actions", false, {}, 13},
      {"postpone quarantine archive", false, {12, 2, 0}, 0},
      {"insert x-header and kessel", false, {18, 16}, 13},
      {"negative kind wins", false, {5, -3, 0}, -3},
      {"no filters", true, {}, 23},
      {"content size phishing", true, {11, 6, 16}, 6},
      {"filters above other filter", true, {24, 30}, 23},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeList<FakeAction> actions;
    FakeList<FakeFilter> filters;
    for (int k : row.kinds) {
      actions.add(k);
      filters.add(k);
    }
    EXPECT_EQ(row.want,
              row.filters ? static_cast<int>(QuorFilter::getHighestOrderFilter(filters.pointers<QuorFilter>()))
                          : static_cast<int>(QuorAction::getHighestOrderAction(actions.pointers<QuorAction>())));
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

}  // namespace
