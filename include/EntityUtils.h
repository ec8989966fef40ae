// EntityUtils: the entities that policies, named objects and administrators
// are scoped to (groups, LDAP objects and wildcard address patterns), read
// from the policy database, and the relations between wildcard entities.
//
// GroupEntity is a plain record; entity sets are ordered by name alone
// (GroupEntityCmp), so a set holds at most one entity per exact name.
//
// Ownership: every operation works on the caller's RdbmsInterface and
// containers. Containers are appended to, never cleared; what was added
// before a failure stays.
//
// Thread safety: the database operations keep no state. The wildcard
// hierarchy operations build pattern trees that intern into the shared
// default string table and register on the shared lock-on-init queue, so
// they must not run concurrently with each other or with the building of any
// tree made with ZoWildcardEmail::makeNewTree. The LDAP operations and
// MemberOfWildCardGroup may run anywhere.
#ifndef QUORPOLICY_INCLUDE_ENTITYUTILS_H_
#define QUORPOLICY_INCLUDE_ENTITYUTILS_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "QuorErrC.h"
#include "QuorExport.h"

namespace QUOR {
class RdbmsInterface;
}

// One entity: its name (for a wildcard entity an address pattern), type and
// database id.
struct QUORPOLICY_API GroupEntity {
  // Values 0 to 7 are valid; only Ldap and Wildcard carry behaviour here, the
  // others are stored and passed through unchanged.
  enum EntityType : std::uint32_t {
    Ldap = 2,      // an object of an LDAP directory
    Wildcard = 6,  // an address pattern
  };

  std::string name;
  EntityType type;
  std::uint32_t id;
};
static_assert(sizeof(GroupEntity::EntityType) == 4);

// Orders entities by name, bytewise and case-sensitive; type and id take no
// part.
struct QUORPOLICY_API GroupEntityCmp {
  bool operator()(const GroupEntity& a, const GroupEntity& b) const { return a.name < b.name; }
};

using GroupEntitySet = std::set<GroupEntity, GroupEntityCmp>;

class QUORPOLICY_API EntityUtils {
 public:
  using RdbmsInterface = QUOR::RdbmsInterface;

  // Adds every entity of the database to `entities`. 0; 1002 when EntityID or
  // EntityType is NULL or not a number, or EntityName is NULL; 1007 for a
  // type above 7; 1003 when the data-access library threw. Each failure is
  // logged at error level.
  static QuorErrC getAllEntities(RdbmsInterface& db, std::set<GroupEntity, GroupEntityCmp>& entities);
  // Adds the wildcard (type 6) entities; codes as _getAllEntitiesOfSameType.
  static QuorErrC getAllWildcardEntities(RdbmsInterface& db,
                                         std::set<GroupEntity, GroupEntityCmp>& entities);
  // Adds the LDAP (type 2) entities; codes as _getAllEntitiesOfSameType.
  static QuorErrC getAllLdapEntities(RdbmsInterface& db,
                                     std::set<GroupEntity, GroupEntityCmp>& entities);

  // Appends the entities that administrator `adminId` manages, in the order
  // the database gives them. 1002 when there are none (or no connection) or a
  // name is NULL; 1003 when the data-access library threw.
  static QuorErrC getEntity(RdbmsInterface& db, unsigned adminId, std::vector<GroupEntity>& entities);

  // True exactly when the database says IsAdminRoot is 1 for `adminId`.
  // Missing rows, unreadable values and data-access failures give false and
  // are logged.
  static bool isAdminRoot(RdbmsInterface& db, unsigned adminId);

  // True when `email` falls under the wildcard group name `group`, comparing
  // ASCII letters without case. A NULL argument gives true with an error
  // message; a malformed pair gives false with a warning. No database work.
  static bool MemberOfWildCardGroup(const char* group, const char* email);

  // Adds to `found` the candidates whose patterns cover `rootEntity` (its
  // parents); the root itself, compared ignoring case, is left out. A match is
  // looked up among the candidates ignoring ASCII case, so candidates whose
  // stored names hold capitals are found. 1004 for a NULL root; 1002 when a
  // match has no candidate (found keeps what was added, removeFound is not
  // applied). With `removeFound`, the candidates named in `found` are removed
  // from `entities` at the end.
  static QuorErrC getAllWildcardParents(const char* rootEntity,
                                        std::set<GroupEntity, GroupEntityCmp>& entities,
                                        std::set<GroupEntity, GroupEntityCmp>& found,
                                        bool removeFound);
  // Adds to `found` the candidates that `rootEntity`'s pattern covers (its
  // children); a candidate named exactly like the root is left out. 1004 for
  // a NULL root; 1007 when the pattern tree refuses the root's pattern.
  static QuorErrC getAllWildcardChildren(const char* rootEntity,
                                         std::set<GroupEntity, GroupEntityCmp>& entities,
                                         std::set<GroupEntity, GroupEntityCmp>& found,
                                         bool removeFound);
  // LDAP entities are not related to one another here: both log the root at
  // progress level, return 0 and touch neither set.
  static QuorErrC getAllLdapParents(const char* rootEntity,
                                    std::set<GroupEntity, GroupEntityCmp>& entities,
                                    std::set<GroupEntity, GroupEntityCmp>& found, bool removeFound);
  static QuorErrC getAllLdapChildren(const char* rootEntity,
                                     std::set<GroupEntity, GroupEntityCmp>& entities,
                                     std::set<GroupEntity, GroupEntityCmp>& found,
                                     bool removeFound);

  // The class has no data; assignment does nothing.
  EntityUtils& operator=(const EntityUtils&) { return *this; }

 private:
  static QuorErrC _getAllEntitiesOfSameType(RdbmsInterface& db, GroupEntity::EntityType type,
                                            std::set<GroupEntity, GroupEntityCmp>& entities);
  static void _removeFoundEntities(std::set<GroupEntity, GroupEntityCmp>& entities,
                                   std::set<GroupEntity, GroupEntityCmp>& found);
};

#endif  // QUORPOLICY_INCLUDE_ENTITYUTILS_H_
