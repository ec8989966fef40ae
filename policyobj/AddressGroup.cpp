#include <cstring>
#include <memory>
#include <new>

#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "policyobj/detail/MemberList.h"
#include "policyobj/detail/Statement.h"

using quor::policyobj::detail::guardStatement;
using quor::policyobj::detail::memberListText;
using quor::policyobj::detail::Statement;

namespace {

constexpr size_t kGroupStatementSize = 8192;
// Room for the statement's own text around the escaped name and the member
// list, so that a statement is never cut whatever the file holds.
constexpr size_t kGroupStatementTextRoom = 8192;

const char* shownName(const char* name) { return name != nullptr ? name : "(null)"; }

// The shared course of add and modify: escape the name, build and escape the
// member list, size the buffer, load and run. Failures of the data-access
// library are logged under addAddressGroup's name for both operations, as
// callers expect.
template <class... Ids>
QuorErrC writeGroup(const char* file, const char* groupName,
                    const std::vector<AddressGroup::AddressGroupMember>& members, unsigned leading,
                    Ids... trailing) {
  QUOR::RdbmsInterface db;
  std::string nameBuffer;
  const char* escapedName = nullptr;
  QUOR::RdbmsInterface::escapeData(groupName, nameBuffer, escapedName);
  // The statement receives the member list escaped like any other literal;
  // the database unescapes it, so the stored content is the list as built.
  const std::string list = memberListText(members);
  std::string listBuffer;
  const char* escapedList = nullptr;
  QUOR::RdbmsInterface::escapeData(list.c_str(), listBuffer, escapedList);
  const size_t size = (escapedName != nullptr ? std::strlen(escapedName) : 0) + std::strlen(escapedList) +
                      kGroupStatementTextRoom;
  std::unique_ptr<Statement> stmt;
  try {
    stmt = std::make_unique<Statement>(size);
  } catch (const std::bad_alloc&) {
    return QuorErr::kBufferNotAllocated;
  }
  return guardStatement(
      QuorErr::kSuccess,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "AddressGroup::addAddressGroup Exception \"%s\" thrown for group %s.", text,
                       shownName(groupName));
      },
      [&]() -> QuorErrC {
        stmt->run(db, file, leading, escapedName, trailing..., escapedList);
        return QuorErr::kSuccess;
      });
}

}  // namespace

AddressGroup::~AddressGroup() = default;

QuorNamedObj::NaObjType AddressGroup::getType() const { return AddressGroupList; }

QuorErrC AddressGroup::addAddressGroup(unsigned int first, const char* groupName, unsigned int second,
                                       std::vector<AddressGroupMember>& members) {
  return writeGroup("ui_AddAddressgroup.sql", groupName, members, first, second);
}

QuorErrC AddressGroup::modifyAddressGroup(unsigned int groupId, const char* groupName,
                                          std::vector<AddressGroupMember>& members) {
  return writeGroup("ui_ModifyAddressgroup.sql", groupName, members, groupId);
}

QuorErrC AddressGroup::getAddressGroupMembersByID(unsigned int groupId, std::vector<AddressGroupMember>& members) {
  QUOR::RdbmsInterface db;
  Statement stmt(kGroupStatementSize);
  return guardStatement(
      QuorErr::kSuccess,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "AddressGroup::getAddressGroupMembersByID: Exception \"%s\" thrown for group %d.",
                       text, static_cast<int>(groupId));
      },
      [&]() -> QuorErrC {
        stmt.run(db, "ui_GetMemberAddressByAGId.sql", groupId);
        while (db.fetchNextRow() == 0) {
          const char* address = db.getColVal("MemberAddress");
          if (address == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "AddressGroup::getAddressGroupMembersByID: Failed to retrieve member address from group %d "
                           "for statement %s.",
                           static_cast<int>(groupId), stmt.text());
            return QuorErr::kMemberUnreadable;
          }
          members.push_back(AddressGroupMember{0, address});
        }
        return QuorErr::kSuccess;
      });
}

QuorErrC AddressGroup::deleteAddressGroupByID(unsigned int groupId) {
  QUOR::RdbmsInterface db;
  Statement stmt(kGroupStatementSize);
  return guardStatement(
      QuorErr::kSuccess,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "AddressGroup::deleteAddressGroupByID: Exception \"%s\" thrown for group %d.",
                       text, static_cast<int>(groupId));
      },
      [&]() -> QuorErrC {
        stmt.run(db, "ui_RemoveAddressgroup.sql", groupId);
        return QuorErr::kSuccess;
      });
}
