#include "QuorNamedObj.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "PolicyLog.h"
#include "RdbmsInterface.h"
#include "policyobj/detail/EntityTree.h"
#include "policyobj/detail/ListPath.h"
#include "policyobj/detail/Statement.h"
#include "port/Port.h"

using quor::policyobj::detail::guardStatement;
using quor::policyobj::detail::kInvalidObjectId;
using quor::policyobj::detail::parseIntColumn;
using quor::policyobj::detail::shownColumn;
using quor::policyobj::detail::Statement;
using quor::policyobj::detail::WildcardReach;

namespace {

constexpr size_t kSmallStatementSize = 256;
constexpr size_t kListStatementSize = 512;
// Room for the statement's own text around the escaped name and content.
constexpr size_t kStatementTextRoom = 8192;

const char* shownName(const char* name) { return name != nullptr ? name : "(null)"; }

size_t textLength(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

bool hasSharedPrefix(const char* name) { return std::strncmp(name, "OPP:", 4) == 0; }

// Inserts before the first summary whose name is greater ignoring case, so
// after every summary that compares equal.
void insertSorted(const SummaryNamedObject& summary, std::vector<SummaryNamedObject>& summaries) {
  auto it = summaries.begin();
  while (it != summaries.end() && quor::port::quorStricmp(summary.name.c_str(), it->name.c_str()) >= 0) ++it;
  summaries.insert(it, summary);
}

// The list of one administrator while getIds accounts for each object once.
// Each listed object remembers the step that listed it first (0 the
// administrator's own entities, then one step per wildcard entity for its
// children, then one per wildcard entity for its parents); the step-by-step
// walk puts an object after every object of equal name listed before it, so
// the list is ordered by name ignoring case, then step, then id (each step
// goes through the objects in ascending id order).
class ListedObjects {
 public:
  struct Entry {
    std::uint32_t id;
    std::uint32_t step;
    bool editable;
    std::string name;
  };

  void list(std::uint32_t id, std::uint32_t step, bool editable, const std::string& name) {
    auto [it, added] = _index.try_emplace(id, _entries.size());
    if (added) {
      _entries.push_back(Entry{id, step, editable, name});
    } else {
      _entries[it->second].editable = editable;
    }
  }
  bool listed(std::uint32_t id) const { return _index.count(id) != 0; }

  // Appends the sorted list to `summaries` and forgets it.
  void moveTo(std::vector<SummaryNamedObject>& summaries) {
    std::sort(_entries.begin(), _entries.end(), [](const Entry& a, const Entry& b) {
      const int order = quor::port::quorStricmp(a.name.c_str(), b.name.c_str());
      if (order != 0) return order < 0;
      return a.step != b.step ? a.step < b.step : a.id < b.id;
    });
    summaries.reserve(summaries.size() + _entries.size());
    for (Entry& entry : _entries) {
      summaries.push_back(SummaryNamedObject{entry.id, entry.editable, false, std::move(entry.name)});
    }
    _entries.clear();
    _index.clear();
  }

 private:
  std::vector<Entry> _entries;
  std::unordered_map<std::uint32_t, size_t> _index;
};

// Accounts, for every object, for the ids that `step` holds (an entity id to
// the position of the step that reaches it first, or nothing), lists the
// objects that lose an id with the first such step, and drops objects with no
// id left. What the step-by-step passes do one entity at a time.
template <class Map, class Step>
void accountOnce(Map& objects, ListedObjects& listed, Step&& step) {
  for (auto it = objects.begin(); it != objects.end();) {
    std::set<unsigned>& ids = it->second.entityIds;
    bool any = false;
    std::uint32_t first = 0;
    for (auto idIt = ids.begin(); idIt != ids.end();) {
      std::uint32_t at = 0;
      if (step(*idIt, at)) {
        first = any ? std::min(first, at) : at;
        any = true;
        idIt = ids.erase(idIt);
      } else {
        ++idIt;
      }
    }
    if (any) listed.list(it->first, first, ids.empty(), it->second.name);
    it = any && ids.empty() ? objects.erase(it) : std::next(it);
  }
}

// Sets `deletable` of every summary from one statement that names the
// objects of the kind that rules refer to, instead of one rule statement per
// editable object. False, changing nothing and logging nothing, when that
// statement cannot be read; the caller then asks object by object, which
// logs the failure as it always has.
bool markDeletableAtOnce(QUOR::RdbmsInterface& db, QuorNamedObj::NaObjType type,
                         std::vector<SummaryNamedObject>& summaries) {
  const bool anyEditable = std::any_of(summaries.begin(), summaries.end(),
                                       [](const SummaryNamedObject& s) { return s.editable; });
  std::unordered_set<long long> used;
  if (anyEditable) {
    Statement stmt(kListStatementSize);
    const bool read = guardStatement(
        false, [](const char*) {},
        [&]() -> bool {
          const int kind = static_cast<int>(type);
          stmt.run(db, "ui_GetRuleNamedObjIds.sql", kind, kind);
          int row = 0;
          while ((row = db.fetchNextRow()) == 0) {
            const char* text = db.getColVal("NamedObjID");
            if (text == nullptr) return false;
            char* end = nullptr;
            const long long id = std::strtoll(text, &end, 10);
            if (end == text) return false;
            used.insert(id);
          }
          return row == 1;  // not -1: no connection
        });
    if (!read) return false;
  }
  // The rule statement compares the id as the unsigned number it was given.
  for (SummaryNamedObject& summary : summaries) {
    summary.deletable = summary.editable && used.count(static_cast<long long>(summary.id)) == 0;
  }
  return true;
}

// Creates or changes one object: both statements take the kind, the escaped
// name and the escaped content (and the change also the id), in a buffer
// that always holds the whole statement.
struct ObjectText {
  std::string nameBuffer;
  std::string contentBuffer;
  const char* name = nullptr;
  const char* content = nullptr;

  ObjectText(const char* rawName, const char* rawContent) {
    QUOR::RdbmsInterface::escapeData(rawName, nameBuffer, name);
    QUOR::RdbmsInterface::escapeData(rawContent, contentBuffer, content);
  }
  size_t statementSize() const { return textLength(name) + textLength(content) + kStatementTextRoom; }
};

}  // namespace

QuorNamedObj::~QuorNamedObj() = default;

bool QuorNamedObj::add(RdbmsInterface& db, unsigned adminId, const char* name, const char* content,
                       NaObjType type, unsigned& objectId) {
  std::vector<GroupEntity> entities;
  const QuorErrC rc = EntityUtils::getEntity(db, adminId, entities);
  if (rc != QuorErr::kSuccess) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::add: EntityUtils::getEntity failed (QuorErrC:%d) for admin %d",
                   rc, static_cast<int>(adminId));
    return false;
  }
  objectId = addObj(db, name, content, type);
  if (objectId == kInvalidObjectId) return false;
  return addEntityNamedObjIds(db, objectId, type, entities);
}

unsigned QuorNamedObj::addObj(RdbmsInterface& db, const char* name, const char* content, NaObjType type) {
  const int typeValue = static_cast<int>(type);
  const ObjectText text(name, content);
  std::unique_ptr<Statement> stmt;
  try {
    stmt = std::make_unique<Statement>(text.statementSize());
  } catch (const std::bad_alloc&) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::addObj: no memory for a statement of %zu bytes for name:%s; type:%d",
                   text.statementSize(), shownName(name), typeValue);
    return kInvalidObjectId;
  }
  return guardStatement(
      kInvalidObjectId,
      [&](const char* failure) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::addObj: Exception \"%s\" thrown for name:%s; type:%d", failure,
                       shownName(name), typeValue);
      },
      [&]() -> unsigned {
        stmt->run(db, "ui_AddNamedObj.sql", typeValue, text.name, text.content);
        if (db.fetchNextRow() != 0) {
          PolicyLog::log(PolicyLog::Error, "QuorNamedObj::addObj: could not retrieve objectId for name:%s; type:%d",
                         shownName(name), typeValue);
          return kInvalidObjectId;
        }
        int id = 0;
        const char* idText = db.getColVal("objectId");
        if (!parseIntColumn(idText, id)) {
          PolicyLog::log(PolicyLog::Error, "QuorNamedObj::addObj: could not retrieve objectId from %s for name:%s; type:%d",
                         shownColumn(idText), shownName(name), typeValue);
          return kInvalidObjectId;
        }
        return static_cast<unsigned>(id);
      });
}

bool QuorNamedObj::addEntityNamedObjIds(RdbmsInterface& db, unsigned objectId, NaObjType type,
                                        std::vector<GroupEntity>& entities) {
  Statement stmt(kSmallStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::addEntityNamedObjIds: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> bool {
        for (const GroupEntity& entity : entities) {
          stmt.run(db, "ui_AddEntityNamedObj.sql", static_cast<unsigned>(entity.id), objectId, static_cast<int>(type));
        }
        return true;
      });
}

bool QuorNamedObj::modify(RdbmsInterface& db, unsigned objectId, unsigned, const char* name, const char* content,
                          NaObjType type) {
  return modifyObj(db, name, content, type, objectId) == 0;
}

unsigned QuorNamedObj::modifyObj(RdbmsInterface& db, const char* name, const char* content, NaObjType type,
                                 unsigned objectId) {
  const ObjectText text(name, content);
  std::unique_ptr<Statement> stmt;
  try {
    stmt = std::make_unique<Statement>(text.statementSize());
  } catch (const std::bad_alloc&) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::modifyObj: no memory for a statement of %zu bytes",
                   text.statementSize());
    return kInvalidObjectId;
  }
  return guardStatement(
      kInvalidObjectId,
      [&](const char* failure) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::modifyObj: Exception \"%s\" thrown", failure);
      },
      [&]() -> unsigned {
        stmt->run(db, "ui_ModifyNamedObj.sql", static_cast<int>(type), text.name, text.content, objectId);
        return 0;
      });
}

bool QuorNamedObj::getBlob(RdbmsInterface& db, unsigned objectId, std::string& content, std::string& name) {
  Statement stmt(kSmallStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getBlob: Exception \"%s\" thrown for statement %s", text,
                       stmt.text());
      },
      [&]() -> bool {
        stmt.run(db, "ui_GetNamedObjBlob.sql", objectId);
        if (db.fetchNextRow() != 0) {
          PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getBlob: could not retrieve blob for statement %s",
                         stmt.text());
          return false;
        }
        const char* value = db.getColVal("Content");
        if (value == nullptr) {
          PolicyLog::log(PolicyLog::Error,
                         "QuorNamedObj::getBlob: could not retrieve Content from NULL string for statement %s",
                         stmt.text());
          return false;
        }
        content = value;
        const char* objectName = db.getColVal("Name");
        if (objectName != nullptr) name = objectName;
        return true;
      });
}

bool QuorNamedObj::getContentBlob(RdbmsInterface& db, unsigned objectId, std::string& content, std::string& name) {
  return getBlob(db, objectId, content, name);
}

bool QuorNamedObj::test(unsigned, std::string&, std::string&) { return true; }

bool QuorNamedObj::getIds(RdbmsInterface& db, unsigned adminId, NaObjType type,
                          std::vector<SummaryNamedObject>& summaries) {
  // The step-by-step walk is what the progress trace describes; without a
  // reader of that trace each object is accounted for once. A caller's
  // non-empty vector would take part in the step-by-step sorted inserts, so
  // it keeps that walk too.
  const bool stepwise = PolicyLog::isLogged(PolicyLog::Progress) ||
                        quor::policyobj::detail::stepwiseListsForced() || !summaries.empty();
  const bool root = EntityUtils::isAdminRoot(db, adminId);
  ObjectMap objects;
  if (!_getNamedObjIds(db, objects, type, root ? &summaries : nullptr)) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getIds: _getNamedObjIds failed for admin %d",
                   static_cast<int>(adminId));
    return false;
  }
  if (!root) {
    std::vector<GroupEntity> entities;
    const QuorErrC rc = EntityUtils::getEntity(db, adminId, entities);
    if (rc != QuorErr::kSuccess) {
      PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getIds: EntityUtils::getEntity failed (QuorErrC:%d) for admin %d",
                     rc, static_cast<int>(adminId));
      return false;
    }
    if (stepwise) {
      _addDirRefNamedObjIds(entities, objects, summaries);
      if (!_addIndirRefNamedObjIds(db, entities, objects, summaries)) return false;
    } else {
      // Each object is accounted for once: first for the administrator's own
      // entities, then for the children of their wildcard entities, then for
      // the parents, with the step that reaches each entity first.
      ListedObjects listed;
      std::unordered_set<std::uint32_t> own;
      for (const GroupEntity& entity : entities) own.insert(entity.id);
      accountOnce(objects, listed, [&](unsigned id, std::uint32_t& step) {
        step = 0;
        return own.count(id) != 0;
      });
      std::vector<const GroupEntity*> roots;
      bool ldap = false;
      for (const GroupEntity& entity : entities) {
        if (entity.type == GroupEntity::Wildcard) roots.push_back(&entity);
        if (entity.type == GroupEntity::Ldap) ldap = true;
      }
      if (!roots.empty()) {
        GroupEntitySet candidates;
        if (EntityUtils::getAllWildcardEntities(db, candidates) != QuorErr::kSuccess) {
          listed.moveTo(summaries);
          return false;
        }
        WildcardReach reach;
        if (findWildcardReach(roots, candidates, reach)) {
          accountOnce(objects, listed, [&](unsigned id, std::uint32_t& step) {
            const auto it = reach.firstChildOf.find(id);
            if (it == reach.firstChildOf.end()) return false;
            step = static_cast<std::uint32_t>(1 + it->second);
            return true;
          });
          // Links to parents only make an object visible; nothing is removed.
          const auto parentsFrom = static_cast<std::uint32_t>(1 + roots.size());
          for (const auto& [id, entry] : objects) {
            if (listed.listed(id)) continue;
            bool any = false;
            size_t first = 0;
            for (const unsigned entityId : entry.entityIds) {
              const auto it = reach.firstParentOf.find(entityId);
              if (it == reach.firstParentOf.end()) continue;
              first = any ? std::min(first, it->second) : it->second;
              any = true;
            }
            if (any) listed.list(id, parentsFrom + static_cast<std::uint32_t>(first), false, entry.name);
          }
          listed.moveTo(summaries);
        } else {
          // The per-entity operations log what went wrong; let them.
          listed.moveTo(summaries);
          if (!_addRelatedWildcardIds(db, entities, objects, summaries)) return false;
        }
      } else {
        listed.moveTo(summaries);
      }
      if (ldap && !_addRelatedLdapIds(db, entities, objects, summaries)) return false;
    }
  }
  // The root administrator's objects are all editable; they are deletable on
  // the same terms as anyone else's: when no rule refers to them.
  if (stepwise || !markDeletableAtOnce(db, type, summaries)) {
    for (SummaryNamedObject& summary : summaries) {
      summary.deletable = summary.editable && _isDeletability(db, summary.id);
    }
  }
  return true;
}

bool QuorNamedObj::_getNamedObjIds(RdbmsInterface& db, std::map<unsigned, _nameAndEntities>& objects, NaObjType type,
                                   std::vector<SummaryNamedObject>* summaries) {
  Statement stmt(kListStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::_getNamedObjIds: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> bool {
        stmt.run(db, "ui_GetEntityNamedObj.sql", static_cast<int>(type), static_cast<int>(type));
        while (db.fetchNextRow() == 0) {
          int entityId = 0;
          const char* entityText = db.getColVal("EntityID");
          if (!parseIntColumn(entityText, entityId)) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::_getNamedObjIds: could not retrieve EntityID from %s for statement %s",
                           shownColumn(entityText), stmt.text());
            return false;
          }
          int objectId = 0;
          const char* objectText = db.getColVal("NamedObjID");
          if (!parseIntColumn(objectText, objectId)) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::_getNamedObjIds: could not retrieve NamedObjID from %s for statement %s",
                           shownColumn(objectText), stmt.text());
            return false;
          }
          const char* name = db.getColVal("Name");
          if (name == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::_getNamedObjIds: could not retrieve tb_NamedObjID.Name for statement %s",
                           stmt.text());
            return false;
          }
          if (hasSharedPrefix(name)) continue;
          const auto id = static_cast<unsigned>(objectId);
          auto [it, inserted] = objects.try_emplace(id);
          if (inserted) {
            it->second.name = name;
            if (summaries != nullptr) summaries->push_back(SummaryNamedObject{id, true, false, name});
          }
          it->second.entityIds.insert(static_cast<unsigned>(entityId));
        }
        return true;
      });
}

void QuorNamedObj::_addDirRefNamedObjIds(std::vector<GroupEntity>& entities,
                                         std::map<unsigned, _nameAndEntities>& objects,
                                         std::vector<SummaryNamedObject>& summaries) {
  if (entities.empty()) return;
  // Erasing and going on with the next entry is the same as rescanning from
  // the first: entries already passed hold no id of the administrator.
  for (auto it = objects.begin(); it != objects.end();) {
    std::set<unsigned>& ids = it->second.entityIds;
    bool any = false;
    for (const GroupEntity& entity : entities) {
      if (ids.erase(entity.id) != 0) any = true;
    }
    if (!any) {
      ++it;
      continue;
    }
    insertSorted(SummaryNamedObject{it->first, ids.empty(), false, it->second.name}, summaries);
    it = ids.empty() ? objects.erase(it) : std::next(it);
  }
}

bool QuorNamedObj::_addIndirRefNamedObjIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                           std::map<unsigned, _nameAndEntities>& objects,
                                           std::vector<SummaryNamedObject>& summaries) {
  if (entities.empty()) return true;
  auto hasType = [&](GroupEntity::EntityType type) {
    for (const GroupEntity& entity : entities) {
      if (entity.type == type) return true;
    }
    return false;
  };
  if (hasType(GroupEntity::Wildcard) && !_addRelatedWildcardIds(db, entities, objects, summaries)) return false;
  if (hasType(GroupEntity::Ldap)) return _addRelatedLdapIds(db, entities, objects, summaries);
  return true;
}

bool QuorNamedObj::_addRelatedWildcardIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                          std::map<unsigned, _nameAndEntities>& objects,
                                          std::vector<SummaryNamedObject>& summaries) {
  GroupEntitySet candidates;
  if (EntityUtils::getAllWildcardEntities(db, candidates) != QuorErr::kSuccess) return false;
  GroupEntitySet found;
  for (const GroupEntity& entity : entities) {
    if (entity.type != GroupEntity::Wildcard) continue;
    found.clear();
    if (EntityUtils::getAllWildcardChildren(entity.name.c_str(), candidates, found, false) != QuorErr::kSuccess) {
      return false;
    }
    _addChildrenNamedObjs(found, objects, summaries);
  }
  for (const GroupEntity& entity : entities) {
    if (entity.type != GroupEntity::Wildcard) continue;
    found.clear();
    if (EntityUtils::getAllWildcardParents(entity.name.c_str(), candidates, found, false) != QuorErr::kSuccess) {
      return false;
    }
    _addParentNamedObjs(found, objects, summaries);
  }
  return true;
}

bool QuorNamedObj::_addRelatedLdapIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                      std::map<unsigned, _nameAndEntities>& objects,
                                      std::vector<SummaryNamedObject>& summaries) {
  GroupEntitySet candidates;
  if (EntityUtils::getAllLdapEntities(db, candidates) != QuorErr::kSuccess) return false;
  GroupEntitySet found;
  for (const GroupEntity& entity : entities) {
    if (entity.type != GroupEntity::Ldap) continue;
    found.clear();
    if (EntityUtils::getAllLdapChildren(entity.name.c_str(), candidates, found, false) != QuorErr::kSuccess) {
      return false;
    }
    _addChildrenNamedObjs(found, objects, summaries);
  }
  for (const GroupEntity& entity : entities) {
    if (entity.type != GroupEntity::Ldap) continue;
    found.clear();
    if (EntityUtils::getAllLdapParents(entity.name.c_str(), candidates, found, false) != QuorErr::kSuccess) {
      return false;
    }
    _addParentNamedObjs(found, objects, summaries);
  }
  return true;
}

void QuorNamedObj::_addChildrenNamedObjs(std::set<GroupEntity, GroupEntityCmp>& found,
                                         std::map<unsigned, _nameAndEntities>& objects,
                                         std::vector<SummaryNamedObject>& summaries) {
  if (found.empty()) return;
  auto it = objects.begin();
  while (it != objects.end()) {
    std::set<unsigned>& ids = it->second.entityIds;
    PolicyLog::log(PolicyLog::Progress, "_addChildrenNamedObjs: Checking %s (id:%d): set size:%d",
                   it->second.name.c_str(), static_cast<int>(it->first), static_cast<int>(ids.size()));
    if (ids.empty()) {
      ++it;
      continue;
    }
    bool any = false;
    for (const GroupEntity& child : found) {
      PolicyLog::log(PolicyLog::Progress, "_addChildrenNamedObjs: Checking child %s (id:%d)", child.name.c_str(),
                     static_cast<int>(child.id));
      if (ids.erase(child.id) != 0) {
        PolicyLog::log(PolicyLog::Progress, "Found match for %s (id:%d)", child.name.c_str(),
                       static_cast<int>(child.id));
        any = true;
      }
    }
    if (!any) {
      ++it;
      continue;
    }
    _updateEditableIds(SummaryNamedObject{it->first, ids.empty(), false, it->second.name}, summaries);
    // A fully accounted entry leaves the map and the walk starts over from
    // the first remaining entry. Entries already passed hold no id of these
    // children any more, so the second look changes no result: its only
    // effect is the progress trace, which hosts may read. When nobody listens
    // at the progress level the walk goes on with the next entry instead,
    // which avoids a cost quadratic in the number of objects.
    if (!ids.empty()) {
      ++it;
    } else {
      it = objects.erase(it);
      if (PolicyLog::isLogged(PolicyLog::Progress)) it = objects.begin();
    }
  }
}

void QuorNamedObj::_addParentNamedObjs(std::set<GroupEntity, GroupEntityCmp>& found,
                                       std::map<unsigned, _nameAndEntities>& objects,
                                       std::vector<SummaryNamedObject>& summaries) {
  if (found.empty()) return;
  for (const auto& [id, entry] : objects) {
    PolicyLog::log(PolicyLog::Progress, "_addParentNamedObjs: Checking %s (id:%d): set size:%d", entry.name.c_str(),
                   static_cast<int>(id), static_cast<int>(entry.entityIds.size()));
    if (entry.entityIds.empty()) continue;
    for (const GroupEntity& parent : found) {
      PolicyLog::log(PolicyLog::Progress, "_addParentNamedObjs: Checking parent %s (id:%d)", parent.name.c_str(),
                     static_cast<int>(parent.id));
      if (entry.entityIds.count(parent.id) != 0) {
        PolicyLog::log(PolicyLog::Progress, "Found match for %s (id:%d)", parent.name.c_str(),
                       static_cast<int>(parent.id));
        _updateEditableIds(SummaryNamedObject{id, false, false, entry.name}, summaries);
      }
    }
  }
}

void QuorNamedObj::_updateEditableIds(const SummaryNamedObject& summary, std::vector<SummaryNamedObject>& summaries) {
  for (auto it = summaries.begin(); it != summaries.end(); ++it) {
    const int order = quor::port::quorStricmp(summary.name.c_str(), it->name.c_str());
    if (order < 0) {
      summaries.insert(it, summary);
      return;
    }
    if (order == 0 && summary.id == it->id) {
      it->editable = summary.editable;
      return;
    }
  }
  summaries.push_back(summary);
}

bool QuorNamedObj::isEditable(RdbmsInterface& db, unsigned adminId, unsigned objectId) {
  if (EntityUtils::isAdminRoot(db, adminId)) return true;
  std::vector<GroupEntity> entities;
  const QuorErrC rc = EntityUtils::getEntity(db, adminId, entities);
  if (rc != QuorErr::kSuccess) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::isEditable: EntityUtils::getEntity failed (QuorErrC:%d) for admin %d",
                   rc, static_cast<int>(adminId));
    return false;
  }
  std::vector<unsigned> ids;
  if (!getEntityIds(db, ids, objectId)) {
    PolicyLog::log(PolicyLog::Error, "QuorNamedObj::isEditable: getEntityIds failed");
    return false;
  }
  for (const unsigned id : ids) {
    bool own = false;
    for (const GroupEntity& entity : entities) {
      if (entity.id == id) own = true;
    }
    if (!own) return false;
  }
  return true;
}

bool QuorNamedObj::getEntityIds(RdbmsInterface& db, std::vector<unsigned>& ids, unsigned objectId) {
  ids.reserve(ids.size() + 10);
  Statement stmt(kSmallStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getEntityIds: Exception \"%s\" thrown for statement %s", text,
                       stmt.text());
      },
      [&]() -> bool {
        stmt.run(db, "ui_GetEntityId4NamedObj.sql", objectId);
        while (db.fetchNextRow() == 0) {
          int id = 0;
          const char* text = db.getColVal("EntityID");
          if (!parseIntColumn(text, id)) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::getEntityIds: could not retrieve EntityID from %s for statement %s",
                           shownColumn(text), stmt.text());
            return false;
          }
          ids.push_back(static_cast<unsigned>(id));
        }
        return true;
      });
}

bool QuorNamedObj::_isDeletability(RdbmsInterface& db, unsigned objectId) {
  Statement stmt(kSmallStatementSize);
  return guardStatement(
      false,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::_isDeletability: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> bool {
        stmt.run(db, "ui_GetNamedObjRule.sql", objectId, objectId);
        return db.fetchNextRow() == 1;
      });
}

QuorErrC QuorNamedObj::remove(RdbmsInterface& db, unsigned objectId, unsigned adminId) {
  Statement ruleStmt(kListStatementSize);
  Statement removeStmt(kListStatementSize);
  const Statement* current = &ruleStmt;
  return guardStatement(
      QuorErr::kDataAccessFailed,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "uiNamedObjectI::remove: Exception \"%s\" thrown for statement %s", text,
                       current->text());
      },
      [&]() -> QuorErrC {
        ruleStmt.run(db, "ui_GetNamedObjRule.sql", objectId, objectId);
        const int rule = db.fetchNextRow();
        if (rule < 0) return QuorErr::kDataAccessFailed;
        if (rule == 0) return QuorErr::kReferencedByRule;
        if (!isEditable(db, adminId, objectId)) return QuorErr::kNotEditable;
        current = &removeStmt;
        removeStmt.run(db, "ui_RemoveNamedObj.sql", objectId, adminId);
        if (db.fetchNextRow() != 0) {
          PolicyLog::log(PolicyLog::Error, "uinamedObjectI::remove: No data returned for query %s", removeStmt.text());
          return QuorErr::kDataAccessFailed;
        }
        switch (db.getColValInt("retId")) {
          case -1:
            return QuorErr::kRemoveAnsweredMinus1;
          case -2:
            return QuorErr::kRemoveAnsweredMinus2;
          default:
            return QuorErr::kSuccess;
        }
      });
}
