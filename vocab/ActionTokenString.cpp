#include <array>
#include <cstring>
#include <string>

#include "PolicyLog.h"
#include "QuorAction.h"
#include "ZoResbundle.h"

namespace {

// One character per action; "1" marks an action taken.
constexpr size_t kBitmapLength = 14;

struct DisplayRow {
  size_t position;
  const char* key;
};

// Output order of the action list, with the resource key of each bitmap
// position. Position 2 is never shown. The Kessel row sits at position 14,
// beyond the bitmaps accepted today, so it only takes part once bitmaps grow.
constexpr std::array<DisplayRow, 14> kDisplayRows = {{
    {0, "Delete"},
    {1, "Quarantine"},
    {3, "Archive"},
    {5, "Readdress"},
    {6, "Stamped"},
    {7, "DeleteAttachment"},
    {8, "SubjectTagging"},
    {9, "Postpone"},
    {10, "Notify"},
    {11, "VirusClean"},
    {12, "Bcc"},
    {4, "Handoff"},
    {14, "Kessel"},
    {13, "InsertXHeaderTag"},
}};

constexpr char kSeparator[] = "; ";

}  // namespace

bool QuorAction::CreateActionTokenString(const char* pActionBitMap, std::string& out) {
  const size_t length = pActionBitMap == nullptr ? 0 : std::strlen(pActionBitMap);
  if (pActionBitMap == nullptr || length != kBitmapLength) {
    PolicyLog::log(PolicyLog::Error,
                   "QuorAction::CreateActionTokenString: invalid pActionBitMap "
                   "(%s); lenght = %d, expected %d",
                   pActionBitMap == nullptr ? "NULL" : pActionBitMap, static_cast<int>(length),
                   static_cast<int>(kBitmapLength));
    out.clear();
    return false;
  }
  out.clear();
  QUOR::ZoResbundle bundle(QUOR::ZoResbundle::GetResourceFileName(), "UiDisplay", nullptr);
  for (const DisplayRow& row : kDisplayRows) {
    if (row.position >= length || pActionBitMap[row.position] != '1') continue;
    std::string text;
    if (!bundle.getString(row.key, text)) {
      // The message names "Delete" whatever the key; log readers match on it.
      PolicyLog::log(PolicyLog::Error,
                     "QuorAction::CreateActionTokenString: ERROR: failed to retrieve string "
                     "\"Delete\" from resource file ");
      text = row.key;
    }
    out.append(text);
    out.append(kSeparator);
  }
  if (out.size() >= 2 && out.rfind(kSeparator) == out.size() - 2) out.resize(out.size() - 2);
  return true;
}
