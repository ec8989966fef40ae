// Sender lists from the policy database: the decision for one recipient.
//
// Address groups are bound to entities as sender lists (table
// entity_list_bindings: entity, group, membership, position). A recipient's
// scopes are the wildcard entities whose patterns cover it; their lists form
// one ordered vector, the broadest entity first (by increasing weight of the
// entity's pattern, as the address lists weigh patterns; ties by entity id),
// each entity's lists by position, and one matchEmailAddress call over that
// vector decides the sender. Per recipient this means: a non-overrideable
// entry of a broader scope decides first; overrideable entries of every scope
// are weighed by how specific the sender pattern is; a narrower scope can
// subtract a broader scope's overrideable entries. Bindings of other entity
// types (groups, LDAP objects) cover no recipient here: they are kept and
// reported as deciding nothing.
//
// A DbPolicy is built once from a snapshot of the database (DbPolicyData)
// and never changes afterwards, so a newer one can be swapped in beside it
// as a new generation of file lists is. Every (group, membership) becomes
// one pattern tree, shared by all entities that bind it; the entity patterns
// form one more tree that finds the scopes of a recipient. A build from the
// members of a few groups alone shares that tree, and the trees of the other
// groups, with the generation it follows.
//
// Thread safety: read and build run on one thread at a time, and not
// concurrently with any other building of pattern trees (the lock-on-init
// queue is process-wide). decide() may run on any number of threads.
#ifndef QUORPOLICY_LISTS_DB_DBPOLICY_H_
#define QUORPOLICY_LISTS_DB_DBPOLICY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZoIndexedString.h"
#include "ZoWildcardEmail.h"

namespace QUOR {
class RdbmsInterface;
}

namespace quor::lists {

// One binding as read from the database.
struct DbBinding {
  unsigned entity = 0;
  unsigned group = 0;
  std::string groupName;
  std::string membership;  // a membership name of list files
  int position = 0;
};

// One entity with a binding.
struct DbEntity {
  unsigned id = 0;
  std::string name;  // for a wildcard entity its address pattern
  unsigned type = 0;
};

// What the decision is made from.
struct DbPolicyData {
  long long version = 0;  // the policy version the snapshot reflects
  std::vector<DbEntity> entities;
  std::vector<DbBinding> bindings;
  std::map<unsigned, std::vector<std::string>> members;  // group id: member patterns
  // Members were read only for some groups (those in `members`); the trees
  // of the others come from the lists in use.
  bool partial = false;
  // Only the members and names of some groups were read (those in `members`
  // and `groupNames`): entities, bindings and the other groups' trees come
  // from the lists in use. `entities` and `bindings` are empty.
  bool groupsOnly = false;
  std::map<unsigned, std::string> groupNames;  // groupsOnly: group id: name
};

// The membership bit of a membership name; 0 for an unknown name.
std::uint32_t membershipBit(const std::string& name);

// Reads a snapshot through the library's unit of work (statement files
// ui_GetPolicyVersion.sql, ui_GetListBindings.sql, ui_GetBoundGroupMembers.sql
// and the library's entity list). The version is read first: data newer than
// it is possible, older is not. With `known`, the members of the bound groups
// in it are not read (ui_GetMemberAddressByAGId.sql for each other one), and
// the data is partial. Throws std::runtime_error naming what failed.
DbPolicyData readDbPolicy(QUOR::RdbmsInterface& db, const std::set<unsigned>* known = nullptr);

// Reads the policy version, then the members and name of each group in
// `groups` (ui_GetMemberAddressByAGId.sql, ui_GetNamedObjBlob.sql): data
// with groupsOnly set. A group without a row keeps the name it has. Throws
// std::runtime_error naming what failed.
DbPolicyData readDbGroups(QUOR::RdbmsInterface& db, const std::set<unsigned>& groups);

// The decision for one sender and recipient, with what made it.
struct DbDecision {
  ZoBlackWhiteListResult result = NotListed;
  bool listed = false;  // a list entry decided
  unsigned entity = 0;  // the scope whose list decided
  std::string entityName;
  unsigned group = 0;  // the deciding list
  std::string groupName;
  std::string pattern;     // the deciding member pattern
  std::string membership;  // the deciding entry's membership name
  std::size_t scopes = 0;  // how many entities cover the recipient
  std::size_t lists = 0;   // how many lists were consulted
};

class DbPolicy {
 public:
  // Builds and locks every tree. Member patterns a tree refuses (a second
  // entry of the same pattern that conflicts) are counted in refused().
  static std::unique_ptr<const DbPolicy> build(const DbPolicyData& data);
  // As above from partial data: the trees of groups whose members were not
  // read are shared with `previous`. Null when one of them is bound with a
  // membership `previous` has no tree for (a full read is needed then).
  // From groupsOnly data, everything but the trees of the groups read (and
  // the names of those) is `previous`'s, shared; null without `previous`.
  static std::unique_ptr<const DbPolicy> build(const DbPolicyData& data, const DbPolicy* previous);
  ~DbPolicy();
  DbPolicy(const DbPolicy&) = delete;
  DbPolicy& operator=(const DbPolicy&) = delete;

  DbDecision decide(const std::string& sender, const std::string& recipient) const;

  // The bindings of entities that cover no recipient (not wildcard).
  const std::vector<DbBinding>& inert() const { return _inert; }
  long long version() const { return _version; }
  // The groups that have trees.
  std::set<unsigned> groups() const;
  std::size_t entries() const { return _entries; }
  // The bindings, deciding or not.
  std::size_t bindings() const { return _bindings; }
  std::size_t refused() const { return _refused; }

 private:
  struct Scope;     // a wildcard entity with its lists in position order
  struct List;      // one (group, membership) tree
  struct Vector;    // the trees of one set of scopes, with what each one is
  struct Entities;  // the tree of the scopes' patterns

  DbPolicy();
  static std::unique_ptr<const DbPolicy> buildGroups(const DbPolicyData& data,
                                                     const DbPolicy& previous);
  // A tree of `members` for membership `bit`, its names in `table`.
  static std::shared_ptr<const List> makeList(const std::shared_ptr<ZoStringtable>& table,
                                              const std::vector<std::string>* members,
                                              std::uint32_t bit);
  std::shared_ptr<const Vector> vectorFor(const std::string& recipient) const;
  // Sets the counts from the trees and scopes.
  void count();

  // The table the trees built with this generation keep their names in
  // (each List holds the table of its own tree).
  std::shared_ptr<ZoStringtable> _table;
  std::map<std::pair<unsigned, std::uint32_t>, std::shared_ptr<const List>> _lists;
  // In the order of the bindings; Entities refers to them by index.
  std::vector<std::unique_ptr<Scope>> _scopes;
  std::shared_ptr<const Entities> _entities;
  std::vector<DbBinding> _inert;
  long long _version = 0;
  std::size_t _entries = 0;
  std::size_t _bindings = 0;
  std::size_t _refused = 0;

  // Vectors by the ids of the scopes covering a recipient; bounded.
  mutable std::shared_mutex _cacheMutex;
  mutable std::map<std::vector<unsigned>, std::shared_ptr<const Vector>> _cache;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_DB_DBPOLICY_H_
