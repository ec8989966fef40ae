// What the changes of the policy database since the lists in use ask a load
// to read again.
//
// Each change is named as the database announces it, "table ids" (for
// example "address_group_members 12", "entity_list_bindings 3 12"). Changes
// of a group's members or its name ("address_group_members G",
// "named_objects G") need only that group read again; a change of an entity
// or a binding needs the entities and bindings read again as well; anything
// else (another table, a change without its id) needs everything read
// again.
//
// Thread safety: none; the caller serialises.
#ifndef QUORPOLICY_LISTS_DB_POLICYCHANGES_H_
#define QUORPOLICY_LISTS_DB_POLICYCHANGES_H_

#include <set>
#include <string>

namespace quor::lists {

class PolicyChanges {
 public:
  // Adds one announced change.
  void add(const std::string& payload);
  // Whether any change was added since clear().
  bool any() const { return _any; }
  // Something must be read whole.
  bool everything() const { return _everything; }
  // Entities or bindings changed: they must be read again.
  bool structure() const { return _structure; }
  // The groups whose members or names changed.
  const std::set<unsigned>& groups() const { return _groups; }
  void clear() { *this = PolicyChanges(); }

 private:
  bool _any = false;
  bool _everything = false;
  bool _structure = false;
  std::set<unsigned> _groups;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_DB_POLICYCHANGES_H_
