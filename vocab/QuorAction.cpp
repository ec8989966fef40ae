#include "QuorAction.h"

#include "PolicyLog.h"

namespace {

// How a kind relates to one part of the message.
enum class Change { No, Yes, Unexpected };

Change bodyChange(QuorAction::ActionType type) {
  switch (type) {
    case QuorAction::Archive:
    case QuorAction::Delete:
    case QuorAction::Quarantine:
    case QuorAction::Readdress:
    case QuorAction::Bcc:
    case QuorAction::Notify:
    case QuorAction::Handoff:
    case QuorAction::Postpone:
    case QuorAction::LogOnly:
    case QuorAction::Kessel:
    case QuorAction::InsertXHeaderTag:
      return Change::No;
    case QuorAction::DeleteAttachment:
    case QuorAction::VirusClean:
    case QuorAction::SubjectTagging:
    case QuorAction::Stamp:
      return Change::Yes;
    case QuorAction::HeaderTagging:
      break;
  }
  return Change::Unexpected;
}

Change headerChange(QuorAction::ActionType type) {
  switch (type) {
    case QuorAction::Archive:
    case QuorAction::Delete:
    case QuorAction::Quarantine:
    case QuorAction::DeleteAttachment:
    case QuorAction::VirusClean:
    case QuorAction::SubjectTagging:
    case QuorAction::Stamp:
    case QuorAction::Notify:
    case QuorAction::Handoff:
    case QuorAction::Postpone:
    case QuorAction::LogOnly:
    case QuorAction::Kessel:
    case QuorAction::InsertXHeaderTag:
      return Change::No;
    case QuorAction::Readdress:
    case QuorAction::Bcc:
      return Change::Yes;
    case QuorAction::HeaderTagging:
      break;
  }
  return Change::Unexpected;
}

// A kind whose effect is unknown is treated as one that changes the message,
// so that the caller keeps a copy rather than lose the original.
enum class Part { Body, Header };

bool answer(Part part, QuorAction::ActionType type) {
  const Change change = part == Part::Body ? bodyChange(type) : headerChange(type);
  if (change != Change::Unexpected) return change == Change::Yes;
  const char* name = QuorAction::getActionName(type);
  const int number = static_cast<int>(type);
  if (part == Part::Body) {
    PolicyLog::log(PolicyLog::Error, "QuorAction::willModifyMsgBody: unexpected action %s (%d)",
                   name, number);
  } else {
    PolicyLog::log(PolicyLog::Error, "QuorAction::willModifyMsgHdr: unexpected action %s (%d)",
                   name, number);
  }
  return true;
}

// The first action that changes the part, or whose effect is unknown,
// decides; actions that change nothing are passed over.
bool listAnswer(const std::vector<QuorAction*>& actions, Part part) {
  for (QuorAction* action : actions) {
    const QuorAction::ActionType type = action->getActionType();
    const Change change = part == Part::Body ? bodyChange(type) : headerChange(type);
    if (change != Change::No) return answer(part, type);
  }
  return false;
}

}  // namespace

QuorAction::~QuorAction() = default;

void QuorAction::fillInTokenMap(QUOR::TokenMap<QUOR::ScanToken>& /*tokens*/,
                                const NamedObjMgrForScanner& /*namedObjects*/) {}

bool QuorAction::hasNamedObjects() { return false; }

bool QuorAction::getNamedObjectIds(const char* /*text*/, int /*length*/,
                                   std::vector<unsigned int>& /*ids*/) {
  return false;
}

bool QuorAction::getNamedObjectIds(const std::string& text, std::vector<unsigned int>& ids) {
  return getNamedObjectIds(text.c_str(), static_cast<int>(text.size()), ids);
}

const char* QuorAction::getActionName(ActionType type) {
  switch (type) {
    case Archive: return "ArchiveAction";
    case Delete: return "DeleteAction";
    case Quarantine: return "QuarantineAction";
    case Readdress: return "ReaddressAction";
    case DeleteAttachment: return "DeleteAttachmentAction";
    case VirusClean: return "VirusCleanAction";
    case HeaderTagging: return "HeaderTaggingAction";
    case SubjectTagging: return "SubjectTaggingAction";
    case Stamp: return "StampAction";
    case Bcc: return "BccAction";
    case Notify: return "NotifyAction";
    case Handoff: return "HandoffAction";
    case Postpone: return "PostponeAction";
    case LogOnly: return "LogOnly";
    case Kessel: return "KesselAction";
    case InsertXHeaderTag: return "InsertXHeaderTag";
  }
  return "Unknown";
}

const char* QuorAction::getActNameForXHdr(ActionType type) {
  switch (type) {
    case Archive: return "archive";
    case Delete: return "delete";
    case Quarantine: return "quarantine";
    case Readdress: return "readdress";
    case DeleteAttachment: return "delete_attachment";
    case VirusClean: return "clean";
    case HeaderTagging: return "tag";
    case SubjectTagging: return "tag";
    case Stamp: return "stamp";
    case Bcc: return "BCC";
    case Notify: return "notification";
    case Handoff: return "handoff";
    case Postpone: return "postpone";
    case LogOnly: return "log";
    case Kessel: return "kessel";
    case InsertXHeaderTag: return "xheader";
  }
  return "unknown";
}

bool QuorAction::IsTerminal(ActionType type) {
  switch (type) {
    case Delete:
    case Quarantine:
    case Readdress:
    case Handoff:
      return true;
    default:
      return false;
  }
}

bool QuorAction::willModifyMsgBody(ActionType type) {
  return answer(Part::Body, type);
}

bool QuorAction::willModifyMsgHdr(ActionType type) {
  return answer(Part::Header, type);
}

bool QuorAction::willModifyMsgBody(const std::vector<QuorAction*>& actions) {
  return listAnswer(actions, Part::Body);
}

bool QuorAction::willModifyMsgHdr(const std::vector<QuorAction*>& actions) {
  return listAnswer(actions, Part::Header);
}

QuorAction::ActionType QuorAction::getHighestOrderAction(const std::vector<QuorAction*>& actions) {
  // Kinds numbered above LogOnly never win: LogOnly is the floor.
  ActionType best = LogOnly;
  for (QuorAction* action : actions) {
    const ActionType type = action->getActionType();
    if (static_cast<std::int32_t>(type) < static_cast<std::int32_t>(best)) best = type;
  }
  return best;
}

bool QuorAction::originalMsgRequired(const std::vector<QuorAction*>& actions) {
  for (QuorAction* action : actions) {
    if (action->isOriginalMsgRequired()) return true;
  }
  return false;
}
