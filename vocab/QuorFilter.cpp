#include "QuorFilter.h"

QuorFilter::~QuorFilter() = default;

bool QuorFilter::setThreadData(void* /*data*/) { return true; }

bool QuorFilter::isMultiFilterType() { return false; }

bool QuorFilter::hasNamedObjects() { return false; }

bool QuorFilter::getNamedObjectIds(const char* /*text*/, int /*length*/,
                                   std::vector<unsigned int>& /*ids*/) {
  return false;
}

bool QuorFilter::getNamedObjectIds(const std::string& text, std::vector<unsigned int>& ids) {
  return getNamedObjectIds(text.c_str(), static_cast<int>(text.size()), ids);
}

const char* QuorFilter::getFilterName(FilterType type) {
  switch (type) {
    case Virus: return "VirusFilter";
    case AttachmentTrueType: return "AttachmentFilter:AttachmentTrueType";
    case AttachmentMimeType: return "AttachmentFilter:AttachmentMimeType";
    case AttachmentNameExt: return "AttachmentFilter:AttachmentNameExt";
    case AttachmentNumber: return "AttachmentFilter:AttachmentNumber";
    case SizeMessage: return "SizeFilter:SizeMessage";
    case SizeAttachment: return "SizeFilter:SizeAttachment";
    case SpamGorvo: return "SpamGorvoFilter";
    case ContentSubject: return "ContentFilter:ContentSubject";
    case ContentSubjectBlank: return "ContentFilter:ContentSubjectBlank";
    case ContentBody: return "ContentFilter:ContentBody";
    case ContentHeader: return "ContentFilter:ContentHeader";
    case ContentAttachment: return "ContentFilter:ContentAttachment";
    case RecipientNo: return "RecipientNoFilter";
    case TimeRange: return "TimeRangeFilter";
    case Phishing: return "PhishingFitler";
    case Vrel: return "VrelFilter";
    case DKIMEnforcement: return "DKIMEnforcementFilter";
    case PwdProtectedFile: return "AttachmentFilter:PwdProtectedFile";
    case EncryptedMsg: return "EncryptedMsgFilter";
    case BATV: return "BATVFilter";
    case NRVX: return "NRVXFilter";
    case OtherFilter: break;
  }
  return "Unknown";
}

bool QuorFilter::isAttachmentFilter(FilterType type) {
  switch (type) {
    case AttachmentTrueType:
    case AttachmentMimeType:
    case AttachmentNameExt:
    case SizeAttachment:
    case ContentAttachment:
    case PwdProtectedFile:
      return true;
    default:
      return false;
  }
}

QuorFilter::FilterType QuorFilter::getHighestOrderFilter(const std::vector<QuorFilter*>& filters) {
  FilterType best = OtherFilter;
  for (QuorFilter* filter : filters) {
    const FilterType type = filter->getFilterType();
    if (static_cast<std::int32_t>(type) < static_cast<std::int32_t>(best)) best = type;
  }
  return best;
}

bool QuorFilter::init(QUOR::GlobalSetting& /*settings*/, QUOR::LogMsg& /*log*/) { return true; }
