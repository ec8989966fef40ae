// The sender-list bindings of address groups to entities, with the checks of
// who may make them.
#include <algorithm>
#include <cstdlib>
#include <set>

#include "EntityUtils.h"
#include "PolicyLog.h"
#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "admin/Administration.h"
#include "admin/LibraryLog.h"

namespace quor::admin {
namespace {

using QUOR::RdbmsInterface;

Result fail(Outcome outcome, std::string message) { return Result{outcome, std::move(message)}; }

// A refusal because the object is outside the administrator's scope.
Result outside(Outcome outcome, std::string message) {
  Result r{outcome, std::move(message)};
  r.outOfScope = true;
  return r;
}

std::string column(RdbmsInterface& db, const char* name) {
  const char* value = db.getColVal(name);
  return value != nullptr ? value : "";
}

// Runs statement file `file` with its arguments; false, with the failure
// logged, when the database fails.
template <typename... Args>
bool run(RdbmsInterface& db, const char* what, const char* file, Args... args) {
  char stmt[2048];
  try {
    ZoSqlLoader loader(RdbmsInterface::GetSqlPath());
    loader.loadSQL(stmt, sizeof stmt, file, args...);
    db.executeSQL(stmt);
    return true;
  } catch (const char* failure) {
    PolicyLog::log(PolicyLog::Error, "administration: %s failed: %s", what, failure);
    return false;
  }
}

}  // namespace

bool Binding::decides() const { return entityType == GroupEntity::Wildcard; }

const std::vector<std::string>& memberships() {
  static const std::vector<std::string> known = {"nonoverrideable-white", "nonoverrideable-black",
                                                 "overrideable-black",    "overrideable-white",
                                                 "white-subtraction",     "black-subtraction"};
  return known;
}

Result Administration::readBindings(std::uint32_t entity, std::vector<Binding>& out) {
  const Result failed = fail(Outcome::kFailed, "the bindings could not be read");
  RdbmsInterface db;
  if (!run(db, "reading the bindings", "ui_GetListBindings.sql", entity, entity)) return failed;
  try {
    while (db.fetchNextRow() == 0) {
      Binding b;
      b.entity = static_cast<std::uint32_t>(std::stoul(column(db, "entity_id")));
      b.entityName = column(db, "entity_name");
      b.entityType = static_cast<std::uint32_t>(std::stoul(column(db, "entity_type")));
      b.group = static_cast<std::uint32_t>(std::stoul(column(db, "group_id")));
      b.groupName = column(db, "group_name");
      b.membership = column(db, "membership");
      b.position = std::stoi(column(db, "position"));
      out.push_back(std::move(b));
    }
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "administration: reading the bindings failed: %s", text);
    return failed;
  } catch (const std::logic_error&) {
    PolicyLog::log(PolicyLog::Error, "administration: a binding holds a value that is no number");
    return failed;
  }
  return {};
}

Result Administration::bindings(std::uint32_t adminId, std::uint32_t entity,
                                std::vector<Binding>& out) {
  if (Result r = requireRoot(adminId, "reads every binding"); !r.ok()) return r;
  return readBindings(entity, out);
}

Result Administration::managedEntities(std::uint32_t adminId, std::set<std::uint32_t>& ids) {
  RequestLog log;
  RdbmsInterface db;
  if (EntityUtils::isAdminRoot(db, adminId)) {
    GroupEntitySet all;
    if (EntityUtils::getAllEntities(db, all) != QuorErr::kSuccess || log.failed()) {
      return fail(Outcome::kFailed, "the entities could not be read");
    }
    for (const GroupEntity& e : all) ids.insert(e.id);
    return {};
  }
  std::vector<GroupEntity> own;
  if (EntityUtils::getEntity(db, adminId, own) != QuorErr::kSuccess) {
    return fail(Outcome::kFailed, "the administrator's entities could not be read");
  }
  GroupEntitySet wildcards;
  for (const GroupEntity& e : own) {
    ids.insert(e.id);
    if (e.type != GroupEntity::Wildcard) continue;
    if (wildcards.empty() &&
        EntityUtils::getAllWildcardEntities(db, wildcards) != QuorErr::kSuccess) {
      return fail(Outcome::kFailed, "the wildcard entities could not be read");
    }
    GroupEntitySet children;
    {
      std::lock_guard<std::mutex> lock(_treeMutex);
      EntityUtils::getAllWildcardChildren(e.name.c_str(), wildcards, children, false);
    }
    for (const GroupEntity& c : children) ids.insert(c.id);
  }
  if (log.failed()) return fail(Outcome::kFailed, "the managed entities could not be read");
  return {};
}

Result Administration::visibleBindings(std::uint32_t adminId, std::uint32_t entity,
                                       std::vector<Binding>& out) {
  std::set<std::uint32_t> managed;
  if (Result r = managedEntities(adminId, managed); !r.ok()) return r;
  if (entity != 0 && managed.count(entity) == 0) {
    return outside(Outcome::kNotVisible, "no entity with id " + std::to_string(entity));
  }
  std::vector<Binding> all;
  if (Result r = readBindings(entity, all); !r.ok()) return r;
  // A group of the administrator's own is seen without the whole list; the
  // list is read once, for the first group that is not.
  std::set<std::uint32_t> seen;
  bool listed = false;
  for (Binding& b : all) {
    if (managed.count(b.entity) == 0) continue;
    std::string name;
    if (seen.count(b.group) == 0 && !listed && !ownGroup(adminId, b.group, name)) {
      std::vector<SummaryNamedObject> groups;
      if (Result r = listGroups(adminId, groups); !r.ok()) return r;
      for (const SummaryNamedObject& g : groups) seen.insert(g.id);
      listed = true;
    } else if (!listed) {
      seen.insert(b.group);
    }
    if (seen.count(b.group) != 0) out.push_back(std::move(b));
  }
  return {};
}

Result Administration::checkBinding(std::uint32_t adminId, std::uint32_t entity,
                                    std::uint32_t group, const std::string& membership,
                                    GroupEntity& target, std::string& groupName) {
  if (!membership.empty() &&
      std::find(memberships().begin(), memberships().end(), membership) == memberships().end()) {
    std::string known;
    for (const std::string& m : memberships()) known += (known.empty() ? "" : ", ") + m;
    return fail(Outcome::kBadInput,
                "unknown membership '" + membership + "' (one of " + known + ")");
  }
  RequestLog log;
  RdbmsInterface db;
  GroupEntitySet all;
  if (EntityUtils::getAllEntities(db, all) != QuorErr::kSuccess) {
    return fail(Outcome::kFailed, "the entities could not be read");
  }
  const auto found =
      std::find_if(all.begin(), all.end(), [&](const GroupEntity& e) { return e.id == entity; });
  if (found == all.end())
    return outside(Outcome::kNotVisible, "no entity with id " + std::to_string(entity));
  target = *found;
  // The entity: one of the administrator's own, or a wildcard entity that
  // one of their own wildcard entities covers.
  bool manages = EntityUtils::isAdminRoot(db, adminId);
  std::vector<GroupEntity> own;
  if (!manages) EntityUtils::getEntity(db, adminId, own);
  for (const GroupEntity& e : own) manages = manages || e.id == entity;
  if (!manages && target.type == GroupEntity::Wildcard) {
    GroupEntitySet wildcards;
    if (EntityUtils::getAllWildcardEntities(db, wildcards) != QuorErr::kSuccess) {
      return fail(Outcome::kFailed, "the wildcard entities could not be read");
    }
    std::lock_guard<std::mutex> lock(_treeMutex);
    for (const GroupEntity& e : own) {
      if (e.type != GroupEntity::Wildcard || manages) continue;
      GroupEntitySet children;
      EntityUtils::getAllWildcardChildren(e.name.c_str(), wildcards, children, false);
      const auto it = children.find(target);
      manages = it != children.end() && it->id == entity;
    }
  }
  if (!manages) {
    return outside(Outcome::kRefused, "the administrator does not manage entity " +
                                          std::to_string(entity) + " (" + target.name + ")");
  }
  // The group: one the administrator may edit; one of their own is without
  // the whole list.
  if (ownGroup(adminId, group, groupName)) return {};
  std::vector<SummaryNamedObject> groups;
  if (Result r = listGroups(adminId, groups); !r.ok()) return r;
  for (const SummaryNamedObject& s : groups) {
    if (s.id != group) continue;
    groupName = s.name;
    if (s.editable) return {};
    return fail(Outcome::kRefused, "the administrator may not edit address group " +
                                       std::to_string(group) + " (" + s.name + ")");
  }
  return outside(Outcome::kRefused, "address group " + std::to_string(group) +
                                        " does not exist or the administrator does not see it");
}

Result Administration::bind(std::uint32_t adminId, std::uint32_t entity, std::uint32_t group,
                            const std::string& membership, int position, GroupEntity& bound) {
  if (membership.empty()) return fail(Outcome::kBadInput, "a binding needs a membership");
  std::string groupName;
  if (Result r = checkBinding(adminId, entity, group, membership, bound, groupName); !r.ok()) {
    return r;
  }
  std::vector<Binding> existing;
  if (Result r = readBindings(entity, existing); !r.ok()) return r;
  for (const Binding& b : existing) {
    if (b.group == group && b.membership == membership) {
      return fail(Outcome::kRefused, "address group " + std::to_string(group) +
                                         " is already bound to entity " + std::to_string(entity) +
                                         " as " + membership);
    }
  }
  RdbmsInterface db;
  if (!run(db, "binding a group", "ui_AddListBinding.sql", entity, group, membership.c_str(),
           position, position, entity)) {
    return fail(Outcome::kFailed, "the binding was not written");
  }
  return record(adminId, "bind address group", group, groupName);
}

Result Administration::unbind(std::uint32_t adminId, std::uint32_t entity, std::uint32_t group,
                              const std::string& membership, std::size_t& removed) {
  GroupEntity target;
  std::string groupName;
  if (Result r = checkBinding(adminId, entity, group, membership, target, groupName); !r.ok()) {
    return r;
  }
  std::vector<Binding> existing;
  if (Result r = readBindings(entity, existing); !r.ok()) return r;
  removed = static_cast<std::size_t>(
      std::count_if(existing.begin(), existing.end(), [&](const Binding& b) {
        return b.group == group && (membership.empty() || b.membership == membership);
      }));
  if (removed == 0) {
    return fail(Outcome::kNotVisible, "address group " + std::to_string(group) + " is no" +
                                          (membership.empty() ? "" : " " + membership) +
                                          " list of entity " + std::to_string(entity));
  }
  RdbmsInterface db;
  if (!run(db, "unbinding a group", "ui_RemoveListBinding.sql", entity, group, membership.c_str(),
           membership.c_str())) {
    return fail(Outcome::kFailed, "the binding was not removed");
  }
  return record(adminId, "unbind address group", group, groupName);
}

}  // namespace quor::admin
