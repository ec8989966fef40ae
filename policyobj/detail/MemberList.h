// The member list text of an address group: "<mas>", then "<ma>address</ma>"
// for each member in order, then "</mas>". Addresses are copied unchanged.
#ifndef QUORPOLICY_POLICYOBJ_DETAIL_MEMBERLIST_H_
#define QUORPOLICY_POLICYOBJ_DETAIL_MEMBERLIST_H_

#include <string>
#include <vector>

#include "QuorNamedObj.h"

namespace quor::policyobj::detail {

inline std::string memberListText(const std::vector<AddressGroup::AddressGroupMember>& members) {
  std::string text;
  text.reserve(members.size() * 50 + 11);
  text += "<mas>";
  for (const AddressGroup::AddressGroupMember& member : members) {
    text += "<ma>";
    text += member.address;
    text += "</ma>";
  }
  text += "</mas>";
  return text;
}

}  // namespace quor::policyobj::detail

#endif  // QUORPOLICY_POLICYOBJ_DETAIL_MEMBERLIST_H_
