#include <cstdio>

#include "settings/detail/DbQueries.h"

namespace quor::settings::detail {

const RuleGroup* ruleGroup(int filterId) {
  using F = QuorFilter;
  // Kind 23 (OtherFilter) closes the last group; kinds 17 to 22 belong to no
  // group and never appear in a manual order.
  static const RuleGroup kGroups[] = {
      {"Virus", {F::Virus}},
      {"Attachment",
       {F::AttachmentTrueType, F::AttachmentMimeType, F::AttachmentNameExt, F::AttachmentNumber}},
      {"Size", {F::SizeMessage, F::SizeAttachment}},
      {"Spam", {F::SpamGorvo}},
      {"Content",
       {F::ContentSubject, F::ContentSubjectBlank, F::ContentBody, F::ContentHeader,
        F::ContentAttachment}},
      {"Other", {F::RecipientNo, F::TimeRange, F::Phishing, F::OtherFilter}},
  };
  if (filterId < 1 || filterId > 6) return nullptr;
  return &kGroups[filterId - 1];
}

void logNameMismatch(int filterId, const char* name) {
  switch (filterId) {
    case 1:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::Virus",
                     name);
      break;
    case 2:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::Attachment",
                     name);
      break;
    case 3:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::Size", name);
      break;
    case 4:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::SpamGorvo",
                     name);
      break;
    case 5:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::Content",
                     name);
      break;
    case 6:
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected name %s for  QuorFilter::Other",
                     name);
      break;
    default:
      break;
  }
}

bool parseInt(const char* text, int& value) {
  // Integer columns come back as text; "%d" reads a leading number as the
  // gateway's other readers do.
  int parsed = 0;
  if (std::sscanf(text, "%d", &parsed) != 1) return false;
  value = parsed;
  return true;
}

}  // namespace quor::settings::detail
