#include "QuorFilter.h"

#include <gtest/gtest.h>

#include <vector>

#include "GlobalSetting.h"
#include "LogMsg.h"
#include "vocab/FakeAction.h"

namespace {

using quor::test::FakeFilter;

QuorFilter::FilterType kind(int value) { return static_cast<QuorFilter::FilterType>(value); }

TEST(QuorFilter, GetFilterNameAndAttachmentFlag_FollowKindTable) {
  struct Row {
    int type;
    const char* name;
    bool attachment;
  };
  const Row rows[] = {
      {-1, "Unknown", false}, {0, "Unknown", false}, {1, "VirusFilter", false},
      {2, "AttachmentFilter:AttachmentTrueType", true},
      {3, "AttachmentFilter:AttachmentMimeType", true},
      {4, "AttachmentFilter:AttachmentNameExt", true},
      {5, "AttachmentFilter:AttachmentNumber", false}, {6, "SizeFilter:SizeMessage", false},
      {7, "SizeFilter:SizeAttachment", true}, {8, "SpamGorvoFilter", false},
      {9, "ContentFilter:ContentSubject", false}, {10, "ContentFilter:ContentSubjectBlank", false},
      {11, "ContentFilter:ContentBody", false}, {12, "ContentFilter:ContentHeader", false},
      {13, "ContentFilter:ContentAttachment", true}, {14, "RecipientNoFilter", false},
      {15, "TimeRangeFilter", false}, {16, "PhishingFitler", false}, {17, "VrelFilter", false},
      {18, "DKIMEnforcementFilter", false}, {19, "AttachmentFilter:PwdProtectedFile", true},
      {20, "EncryptedMsgFilter", false}, {21, "BATVFilter", false}, {22, "NRVXFilter", false},
      {23, "Unknown", false}, {24, "Unknown", false}, {4096, "Unknown", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    EXPECT_STREQ(row.name, QuorFilter::getFilterName(kind(row.type)));
    EXPECT_EQ(row.attachment, QuorFilter::isAttachmentFilter(kind(row.type)));
  }
}

// What a filter or an action inherits unless it says otherwise: no named
// objects, a single type, thread data accepted.
TEST(QuorFilter, Defaults_NoNamedObjectsAndThreadDataAccepted) {
  FakeFilter filter(1);
  quor::test::FakeAction action(0);
  std::vector<unsigned int> ids;
  QUOR::GlobalSettingIF settings;
  QUOR::LogMsg log;
  EXPECT_TRUE(QuorFilter::init(settings, log));
  EXPECT_TRUE(filter.setThreadData(nullptr));
  EXPECT_FALSE(filter.isMultiFilterType() || filter.hasNamedObjects() || action.hasNamedObjects());
  EXPECT_FALSE(filter.getNamedObjectIds(std::string("1;2"), ids));
  EXPECT_FALSE(action.getNamedObjectIds(std::string("1;2"), ids));
}

}  // namespace
