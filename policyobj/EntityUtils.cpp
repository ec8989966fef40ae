#include "EntityUtils.h"

#include <cctype>
#include <cstring>

#include "PolicyLog.h"
#include "RdbmsInterface.h"
#include "policyobj/detail/EntityTree.h"
#include "policyobj/detail/Statement.h"
#include "port/Port.h"

using quor::policyobj::detail::EntityTree;
using quor::policyobj::detail::guardStatement;
using quor::policyobj::detail::parseIntColumn;
using quor::policyobj::detail::shownColumn;
using quor::policyobj::detail::Statement;

namespace {

constexpr size_t kEntityStatementSize = 512;
constexpr unsigned kHighestEntityType = 7;

bool sameLetterIgnoringCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool warnMissingAt(const char* email, const char* group) {
  PolicyLog::log(PolicyLog::Warning, "[WARNING]EntityUtils::MemberOfWildCardGroup: missing @ in %s or %s",
                 email, group);
  return false;
}

}  // namespace

QuorErrC EntityUtils::getAllEntities(RdbmsInterface& db, std::set<GroupEntity, GroupEntityCmp>& entities) {
  Statement stmt(kEntityStatementSize);
  return guardStatement(
      QuorErr::kDataAccessFailed,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllEntities: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> QuorErrC {
        stmt.run(db, "ui_GetAllEntities.sql");
        while (db.fetchNextRow() == 0) {
          int id = 0;
          const char* idText = db.getColVal("EntityID");
          if (!parseIntColumn(idText, id)) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::getAllEntities: could not retrieve EntityID from %s for statement %s",
                           shownColumn(idText), stmt.text());
            return QuorErr::kMissingData;
          }
          int type = 0;
          const char* typeText = db.getColVal("EntityType");
          if (!parseIntColumn(typeText, type)) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::getAllEntities: could not retrieve EntityType from %s for statement %s",
                           shownColumn(typeText), stmt.text());
            return QuorErr::kMissingData;
          }
          if (static_cast<unsigned>(type) > kHighestEntityType) {
            PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllEntities: Invalid entityTypevalue: %d", type);
            return QuorErr::kBadEntity;
          }
          const char* name = db.getColVal("EntityName");
          if (name == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::getAllEntities: could not retrieve EntityName for statement %s",
                           stmt.text());
            return QuorErr::kMissingData;
          }
          entities.insert(GroupEntity{name, static_cast<GroupEntity::EntityType>(type),
                                      static_cast<std::uint32_t>(id)});
        }
        return QuorErr::kSuccess;
      });
}

QuorErrC EntityUtils::getAllWildcardEntities(RdbmsInterface& db,
                                             std::set<GroupEntity, GroupEntityCmp>& entities) {
  return _getAllEntitiesOfSameType(db, GroupEntity::Wildcard, entities);
}

QuorErrC EntityUtils::getAllLdapEntities(RdbmsInterface& db, std::set<GroupEntity, GroupEntityCmp>& entities) {
  return _getAllEntitiesOfSameType(db, GroupEntity::Ldap, entities);
}

QuorErrC EntityUtils::_getAllEntitiesOfSameType(RdbmsInterface& db, GroupEntity::EntityType type,
                                                std::set<GroupEntity, GroupEntityCmp>& entities) {
  const int typeValue = static_cast<int>(type);
  PolicyLog::log(PolicyLog::Progress, "Retrieving entities of type %d", typeValue);
  Statement stmt(kEntityStatementSize);
  return guardStatement(
      QuorErr::kDataAccessFailed,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error,
                       "EntityUtils::_getAllEntitiesOfSameType: Exception \"%s\" thrown for statement %s", text,
                       stmt.text());
      },
      [&]() -> QuorErrC {
        stmt.run(db, "ui_GetEntitiesByType.sql", typeValue);
        while (db.fetchNextRow() == 0) {
          int id = 0;
          if (!parseIntColumn(db.getColVal("EntityID"), id)) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::_getAllEntitiesOfSameType: retrieval of EntityID returned NULL for "
                           "statement %s",
                           stmt.text());
            return QuorErr::kMissingData;
          }
          const char* name = db.getColVal("EntityName");
          if (name == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::_getAllEntitiesOfSameType: retrieval of EntityName returned NULL for "
                           "statement %s",
                           stmt.text());
            return QuorErr::kMissingData;
          }
          PolicyLog::log(PolicyLog::Progress, "Entity %s (id:%d) retrieved", name, id);
          entities.insert(GroupEntity{name, type, static_cast<std::uint32_t>(id)});
        }
        return QuorErr::kSuccess;
      });
}

QuorErrC EntityUtils::getEntity(RdbmsInterface& db, unsigned adminId, std::vector<GroupEntity>& entities) {
  Statement stmt(kEntityStatementSize);
  return guardStatement(
      QuorErr::kDataAccessFailed,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "EntityUtils::getEntity: Exception \"%s\" thrown for statement %s", text,
                       stmt.text());
      },
      [&]() -> QuorErrC {
        stmt.run(db, "ui_GetAdminEntityById.sql", adminId);
        if (db.fetchNextRow() != 0) {
          PolicyLog::log(PolicyLog::Error, "[Verbose] administrator '%d' has no managing group assignments.",
                         static_cast<int>(adminId));
          return QuorErr::kMissingData;
        }
        do {
          const int id = db.getColValInt("EntityID");
          const int type = db.getColValInt("EntityType");
          const char* name = db.getColVal("EntityName");
          if (name == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "EntityUtils::getEntity: could not retrieve IdsColEntityName from NULL string");
            return QuorErr::kMissingData;
          }
          entities.push_back(GroupEntity{name, static_cast<GroupEntity::EntityType>(type),
                                         static_cast<std::uint32_t>(id)});
        } while (db.fetchNextRow() == 0);
        return QuorErr::kSuccess;
      });
}

bool EntityUtils::isAdminRoot(RdbmsInterface& db, unsigned adminId) {
  Statement stmt(kEntityStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "EntityUtils::isAdminRoot: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> bool {
        stmt.run(db, "ui_IsAdminRoot_Id.sql", adminId);
        if (db.fetchNextRow() != 0) {
          PolicyLog::log(PolicyLog::Error, "EntityUtils::isAdminRoot: No data returned for query %s",
                         stmt.text());
          return false;
        }
        int value = 0;
        const char* text = db.getColVal("IsAdminRoot");
        if (!parseIntColumn(text, value)) {
          PolicyLog::log(PolicyLog::Error,
                         "EntityUtils::isAdminRoot: could not retrieve IsAdminRoot from %s for statement %s",
                         shownColumn(text), stmt.text());
          return false;
        }
        return value == 1;
      });
}

bool EntityUtils::MemberOfWildCardGroup(const char* group, const char* email) {
  if (group == nullptr || email == nullptr) {
    PolicyLog::log(PolicyLog::Error, "[ERROR]EntityUtils::MemberOfWildCardGroup: NULL group or email addr.");
    return true;
  }
  if (std::strcmp(group, "*") == 0 || std::strcmp(group, "*@*") == 0) return true;

  // User part, from the left; a group starting with '*' accepts any user part.
  const char* g = group;
  const char* e = email;
  if (*g != '*') {
    if (*g == '\0') return warnMissingAt(email, group);
    while (*e != '\0' && *g != '@' && *e != '@') {
      if (!sameLetterIgnoringCase(*g, *e)) return false;
      ++g;
      ++e;
      if (*g == '\0') return warnMissingAt(email, group);
    }
    if (*g == '\0' || *e == '\0') return warnMissingAt(email, group);
    if (!sameLetterIgnoringCase(*g, *e)) return false;
  }

  // Domain part, from the right, until one side reaches its '@'; a '*' in the
  // group accepts whatever the address holds further left.
  const size_t groupLength = std::strlen(group);
  const size_t emailLength = std::strlen(email);
  g = group + groupLength - 1;
  e = emailLength == 0 ? email : email + emailLength - 1;
  if (*g != '@') {
    for (;;) {
      if (*e == '@') break;
      if (g == group) return warnMissingAt(email, group);
      if (e == email) break;
      if (*g == '*') return true;
      if (!sameLetterIgnoringCase(*g, *e)) return false;
      --g;
      --e;
      if (*g == '@') break;
    }
  }
  if (g == group || e == email) return warnMissingAt(email, group);
  return sameLetterIgnoringCase(*g, *e);
}

QuorErrC EntityUtils::getAllWildcardParents(const char* rootEntity,
                                            std::set<GroupEntity, GroupEntityCmp>& entities,
                                            std::set<GroupEntity, GroupEntityCmp>& found, bool removeFound) {
  if (rootEntity == nullptr) {
    PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllWildcardParents: NULL rootEntity parameter");
    return QuorErr::kNullRootEntity;
  }
  if (entities.empty()) {
    PolicyLog::log(PolicyLog::Progress, "No entities to add");
    return QuorErr::kSuccess;
  }
  EntityTree tree;
  for (const GroupEntity& candidate : entities) {
    PolicyLog::log(PolicyLog::Progress, "Adding entity %s to ZoWildcardNode", candidate.name.c_str());
    if (!tree.addPattern(candidate.name.c_str())) {
      PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllWildcardParents: ZoWildcardNode::addAddressPattern failed for %s",
                     candidate.name.c_str());
    }
  }
  const std::vector<std::string> matches = tree.matches(rootEntity);
  PolicyLog::log(PolicyLog::Progress, "Found %d matches", static_cast<int>(matches.size()));
  int position = 0;
  for (const std::string& text : matches) {
    ++position;
    if (quor::port::quorStricmp(text.c_str(), rootEntity) == 0) continue;
    PolicyLog::log(PolicyLog::Progress, "%d: entity %s", position, text.c_str());
    // The tree hands back lower-cased patterns; candidates are matched
    // ignoring ASCII case so that stored names with capitals are still found.
    // Names differing only in case share one leaf, so each of them is a parent.
    bool any = false;
    for (const GroupEntity& candidate : entities) {
      if (quor::port::quorStricmp(candidate.name.c_str(), text.c_str()) == 0) {
        found.insert(candidate);
        any = true;
      }
    }
    if (!any) {
      PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllWildcardParents: Could not find %s in map", text.c_str());
      return QuorErr::kMissingData;
    }
  }
  if (removeFound) _removeFoundEntities(entities, found);
  return QuorErr::kSuccess;
}

QuorErrC EntityUtils::getAllWildcardChildren(const char* rootEntity,
                                             std::set<GroupEntity, GroupEntityCmp>& entities,
                                             std::set<GroupEntity, GroupEntityCmp>& found, bool removeFound) {
  if (rootEntity == nullptr) {
    PolicyLog::log(PolicyLog::Error, "EntityUtils::getAllWildcardChildren: NULL rootEntity parameter");
    return QuorErr::kNullRootEntity;
  }
  if (entities.empty()) {
    PolicyLog::log(PolicyLog::Progress, "No entities to add");
    return QuorErr::kSuccess;
  }
  EntityTree tree;
  if (!tree.addPattern(rootEntity)) {
    PolicyLog::log(PolicyLog::Error,
                   "EntityUtils::getAllWildcardChildren: ZoWildcardNode::addAddressPattern failed for %s (rootEntity)",
                   rootEntity);
    return QuorErr::kBadEntity;
  }
  for (const GroupEntity& candidate : entities) {
    if (candidate.name == rootEntity) continue;
    const size_t count = tree.matches(candidate.name.c_str()).size();
    PolicyLog::log(PolicyLog::Progress, "Checking if entity %s is a child of %s returned %d matches",
                   candidate.name.c_str(), rootEntity, static_cast<int>(count));
    if (count == 0) continue;
    if (count > 1) {
      PolicyLog::log(PolicyLog::Error,
                     "EntityUtils::getAllWildcardChildren: Found %d matches when looking for \"%s\" in \"%s\"",
                     static_cast<int>(count), candidate.name.c_str(), rootEntity);
    }
    PolicyLog::log(PolicyLog::Progress, "1: entity %s", candidate.name.c_str());
    found.insert(candidate);
  }
  if (removeFound) _removeFoundEntities(entities, found);
  return QuorErr::kSuccess;
}

QuorErrC EntityUtils::getAllLdapParents(const char* rootEntity, std::set<GroupEntity, GroupEntityCmp>&,
                                        std::set<GroupEntity, GroupEntityCmp>&, bool) {
  PolicyLog::log(PolicyLog::Progress, "EntityUtils::getAllLdapParents: rootEntity: %s\n", shownColumn(rootEntity));
  return QuorErr::kSuccess;
}

QuorErrC EntityUtils::getAllLdapChildren(const char* rootEntity, std::set<GroupEntity, GroupEntityCmp>&,
                                         std::set<GroupEntity, GroupEntityCmp>&, bool) {
  PolicyLog::log(PolicyLog::Progress, "EntityUtils::getAllLdapChildren: checking root entity %s\n",
                 shownColumn(rootEntity));
  return QuorErr::kSuccess;
}

void EntityUtils::_removeFoundEntities(std::set<GroupEntity, GroupEntityCmp>& entities,
                                       std::set<GroupEntity, GroupEntityCmp>& found) {
  // One pass gives the same result and messages as rescanning from the first
  // candidate after each removal: candidates already passed are not in found.
  size_t removed = 0;
  for (auto it = entities.begin(); it != entities.end() && removed < found.size();) {
    if (found.count(*it) != 0) {
      PolicyLog::log(PolicyLog::Progress, "Removing found entry %s from the map", it->name.c_str());
      it = entities.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
}
