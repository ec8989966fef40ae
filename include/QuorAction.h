// QuorAction: the abstract base of every action a policy rule can take on a
// message, and the fixed vocabulary of action kinds.
//
// The concrete actions live outside this library. This header fixes what
// they share: the action kinds and their numeric order (a lower number is a
// higher order), the display and X-header name of each kind, which kinds are
// terminal, which kinds change the message body or header, and the rule that
// picks the winning kind among several actions.
//
// Thread safety: the static operations read constant tables only and may be
// called from any number of threads. An action object holds only its
// priority, an unguarded member that the owner sets before sharing it.
#ifndef QUORPOLICY_INCLUDE_QUORACTION_H_
#define QUORPOLICY_INCLUDE_QUORACTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "QuorExport.h"
#include "TokenMap.h"

// The scanner's manager of named objects. It belongs to the scanner; this
// library only passes it on by reference to fillInTokenMap.
class NamedObjMgrForScanner;

class QUORPOLICY_API QuorAction {
 public:
  // The action kinds. The value is also the precedence rank. The values 14,
  // 15 and 17 have no enumerator and behave like any value outside 0 to 18.
  enum ActionType : std::int32_t {
    Archive = 0,
    Delete = 1,
    Quarantine = 2,
    Readdress = 3,
    DeleteAttachment = 4,
    VirusClean = 5,
    HeaderTagging = 6,
    SubjectTagging = 7,
    Stamp = 8,
    Bcc = 9,
    Notify = 10,
    Handoff = 11,
    Postpone = 12,
    LogOnly = 13,
    Kessel = 16,
    InsertXHeaderTag = 18,
  };

  // The priority of one action. This library only stores and returns it; the
  // concrete actions and their callers give the values their meaning.
  enum ActionPriority : std::int32_t {};

  // The priority starts at 0; callers set it with setPriority.
  QuorAction() = default;
  QuorAction(const QuorAction&) = default;
  QuorAction& operator=(const QuorAction&) = default;
  virtual ~QuorAction();

  // Reads the action's own settings from their stored text. Never called by
  // this library.
  virtual bool load(const char* settings) = 0;
  // Writes the action's own settings as text. Never called by this library.
  virtual bool save(std::string& settings) const = 0;
  // The action's kind. Every list operation below asks each action for it.
  virtual ActionType getActionType() = 0;
  // True when the action needs the message as received, before any action
  // changed it.
  virtual bool isOriginalMsgRequired() = 0;
  // Adds the action's scan tokens to `tokens`. The base version adds none.
  virtual void fillInTokenMap(QUOR::TokenMap<QUOR::ScanToken>& tokens,
                              const NamedObjMgrForScanner& namedObjects);
  // Carries the action out on the scanner's message context. Never called
  // by this library.
  virtual bool perform(void* context) = 0;
  // True when the action refers to named objects. The base version: false.
  virtual bool hasNamedObjects();
  // Appends to `ids` the named-object identifiers that the `length`
  // characters at `text` refer to. The base version adds nothing and
  // returns false.
  virtual bool getNamedObjectIds(const char* text, int length, std::vector<unsigned int>& ids);
  // Calls the form above with the string's characters and length.
  virtual bool getNamedObjectIds(const std::string& text, std::vector<unsigned int>& ids);

  // The display name of a kind ("DeleteAction", "LogOnly", ...); "Unknown"
  // for a value without a name. The text is a constant of the library.
  static const char* getActionName(ActionType type);
  // The short name used in X-headers ("delete", "BCC", ...); "unknown" for a
  // value without a name.
  static const char* getActNameForXHdr(ActionType type);
  // True exactly for Delete, Quarantine, Readdress and Handoff.
  static bool IsTerminal(ActionType type);

  // Whether the kind changes the message body / header. HeaderTagging and
  // kinds without a name are unexpected: they log at error level
  // "QuorAction::willModifyMsgBody: unexpected action <name> (<number>)"
  // (or the same with willModifyMsgHdr) and answer true.
  static bool willModifyMsgBody(ActionType type);
  static bool willModifyMsgHdr(ActionType type);
  // The same for a list, visited in order: the first kind that changes the
  // message, or the first unexpected kind (logged once), answers true; an
  // empty list or a list of kinds that change nothing answers false.
  // REQUIRES: no null element.
  static bool willModifyMsgBody(const std::vector<QuorAction*>& actions);
  static bool willModifyMsgHdr(const std::vector<QuorAction*>& actions);

  // The kind with the smallest number among the actions, but never one above
  // LogOnly: an empty list, or one of Kessel and InsertXHeaderTag actions
  // only, gives LogOnly. REQUIRES: no null element.
  static ActionType getHighestOrderAction(const std::vector<QuorAction*>& actions);
  // True when some action needs the original message; stops at the first.
  // REQUIRES: no null element.
  static bool originalMsgRequired(const std::vector<QuorAction*>& actions);

  // Fills `out` with the localized names of the actions marked "1" in the
  // 14-character bitmap, in display order, joined by "; ", from the resource
  // bundle "UiDisplay". A null bitmap or one of another length is logged at
  // error level, leaves `out` empty and returns false. A name missing from
  // the bundle is logged and shown by its resource key; the call still
  // returns true.
  static bool CreateActionTokenString(const char* pActionBitMap, std::string& out);

  ActionPriority getPriority() const { return priority; }
  void setPriority(ActionPriority value) { priority = value; }

 protected:
  ActionPriority priority{};
};

#endif  // QUORPOLICY_INCLUDE_QUORACTION_H_
