// QuorFilter: the abstract base of every filter a policy rule can apply to a
// message, and the fixed vocabulary of filter kinds.
//
// The concrete filters live outside this library. This header fixes the
// filter kinds with their numbers (a lower number is a higher order, and the
// same numbering as the administrator's rule order), the name of each kind,
// which kinds look at attachments, and the rule that picks the winning kind
// among several filters.
//
// Thread safety: every operation reads constant tables only and may be
// called from any number of threads. The base class holds no data.
#ifndef QUORPOLICY_INCLUDE_QUORFILTER_H_
#define QUORPOLICY_INCLUDE_QUORFILTER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "QuorExport.h"

namespace QUOR {
class GlobalSetting;
class LogMsg;
}  // namespace QUOR

class QUORPOLICY_API QuorFilter {
 public:
  // The filter kinds. Any value outside 1 to 22 is named "Unknown".
  enum FilterType : std::int32_t {
    Virus = 1,
    AttachmentTrueType = 2,
    AttachmentMimeType = 3,
    AttachmentNameExt = 4,
    AttachmentNumber = 5,
    SizeMessage = 6,
    SizeAttachment = 7,
    SpamGorvo = 8,
    ContentSubject = 9,
    ContentSubjectBlank = 10,
    ContentBody = 11,
    ContentHeader = 12,
    ContentAttachment = 13,
    RecipientNo = 14,
    TimeRange = 15,
    Phishing = 16,
    Vrel = 17,
    DKIMEnforcement = 18,
    PwdProtectedFile = 19,
    EncryptedMsg = 20,
    BATV = 21,
    NRVX = 22,
    OtherFilter = 23,
  };

  QuorFilter() = default;
  QuorFilter(const QuorFilter&) = default;
  QuorFilter& operator=(const QuorFilter&) = default;
  virtual ~QuorFilter();

  // Reads the filter's own settings from their stored text. Never called by
  // this library.
  virtual bool load(const char* settings) = 0;
  // Writes the filter's own settings as text. Never called by this library.
  virtual bool save(std::string& settings) const = 0;
  // The filter's kind; getHighestOrderFilter asks each filter for it.
  virtual FilterType getFilterType() = 0;
  // Hands the filter its thread's data. The base version ignores the pointer
  // (null included) and returns true.
  virtual bool setThreadData(void* data);
  // Checks the scanner's message context. Never called by this library.
  virtual bool check(void* context) = 0;
  // True when the object stands for several kinds at once. Base: false.
  virtual bool isMultiFilterType();
  // True when the filter refers to named objects. Base: false.
  virtual bool hasNamedObjects();
  // Appends to `ids` the named-object identifiers that the `length`
  // characters at `text` refer to. The base version adds nothing and
  // returns false.
  virtual bool getNamedObjectIds(const char* text, int length, std::vector<unsigned int>& ids);
  // Calls the form above with the string's characters and length.
  virtual bool getNamedObjectIds(const std::string& text, std::vector<unsigned int>& ids);

  // The name of a kind ("VirusFilter", "SizeFilter:SizeMessage", ...);
  // "Unknown" outside 1 to 22. The text is a constant of the library.
  static const char* getFilterName(FilterType type);
  // True exactly for the kinds that look at attachments: 2, 3, 4, 7, 13, 19.
  static bool isAttachmentFilter(FilterType type);
  // The kind with the smallest number among the filters, but never one above
  // OtherFilter: an empty list gives OtherFilter. REQUIRES: no null element.
  static FilterType getHighestOrderFilter(const std::vector<QuorFilter*>& filters);
  // Sets a filter family up from the global settings and hands it the log.
  // The base version reads nothing and returns true.
  static bool init(QUOR::GlobalSetting& settings, QUOR::LogMsg& log);
};

#endif  // QUORPOLICY_INCLUDE_QUORFILTER_H_
