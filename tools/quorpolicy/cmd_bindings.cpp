// quorpolicy admin bind / unbind / bindings: address groups as the sender
// lists of entities.
//
//   admin bind --admin A --entity E --group G --membership M [--position N]
//   admin unbind --admin A --entity E --group G [--membership M]
//   admin bindings [--entity E] [--json]
//
// Entities and groups are given by id, administrators by name or id, as the
// other admin subcommands take them. An administrator may bind an entity
// that is one of their own entities, or a wildcard entity that one of their
// own wildcard entities covers, and only a group they may edit (the root
// administrator: any). A refusal changes nothing and exits with status 3.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "QuorErrC.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {
namespace {

using QUOR::RdbmsInterface;

const char* const kMemberships[] = {"nonoverrideable-white", "nonoverrideable-black",
                                    "overrideable-black",    "overrideable-white",
                                    "white-subtraction",     "black-subtraction"};

struct BindOptions {
  std::string home;
  std::string admin;
  unsigned entity = 0;
  unsigned group = 0;
  std::string membership;
  int position = -1;
  bool json = false;
};

struct Binding {
  unsigned entity = 0;
  std::string entityName;
  unsigned entityType = 0;
  unsigned group = 0;
  std::string groupName;
  std::string membership;
  int position = 0;
};

std::string column(RdbmsInterface& db, const char* name) {
  const char* value = db.getColVal(name);
  return value != nullptr ? value : "";
}

unsigned number(const std::string& text) {
  return text.empty() ? 0 : static_cast<unsigned>(std::stoul(text));
}

// Runs statement file `file` with its arguments; throws CommandError naming
// `what` when the database fails.
template <typename... Args>
void run(RdbmsInterface& db, const std::string& what, const char* file, Args... args) {
  char stmt[2048];
  try {
    ZoSqlLoader loader(RdbmsInterface::GetSqlPath());
    loader.loadSQL(stmt, sizeof stmt, file, args...);
    db.executeSQL(stmt);
  } catch (const char* failure) {
    throw CommandError(kExitFailure, what + " failed: " + failure);
  }
}

std::vector<Binding> readBindings(unsigned entity) {
  RdbmsInterface db;
  run(db, "reading the bindings", "ui_GetListBindings.sql", entity, entity);
  std::vector<Binding> out;
  try {
    while (db.fetchNextRow() == 0) {
      Binding b;
      b.entity = number(column(db, "entity_id"));
      b.entityName = column(db, "entity_name");
      b.entityType = number(column(db, "entity_type"));
      b.group = number(column(db, "group_id"));
      b.groupName = column(db, "group_name");
      b.membership = column(db, "membership");
      b.position = std::stoi(column(db, "position"));
      out.push_back(std::move(b));
    }
  } catch (const char* failure) {
    throw CommandError(kExitFailure, std::string("reading the bindings failed: ") + failure);
  } catch (const std::logic_error&) {
    throw CommandError(kExitFailure, "reading the bindings failed: a value is not a number");
  }
  return out;
}

unsigned adminIdOf(const std::string& admin) {
  if (!admin.empty() && admin.size() <= 9 &&
      admin.find_first_not_of("0123456789") == std::string::npos) {
    return static_cast<unsigned>(std::stoul(admin));
  }
  RdbmsInterface db;
  std::string buffer;
  const char* escaped = nullptr;
  RdbmsInterface::escapeData(admin.c_str(), buffer, escaped);
  std::vector<char> stmt(admin.size() * 2 + 512, '\0');
  try {
    ZoSqlLoader loader(RdbmsInterface::GetSqlPath());
    loader.loadSQL(stmt.data(), static_cast<int>(stmt.size()), "ui_GetAdminIdByName.sql", escaped);
    db.executeSQL(stmt.data());
    if (db.fetchNextRow() != 0) {
      throw CommandError(kExitNotFound, "no administrator named '" + admin + "'");
    }
    return number(column(db, "AdminID"));
  } catch (const char* failure) {
    throw CommandError(kExitFailure, "looking up administrator '" + admin + "' failed: " + failure);
  } catch (const std::logic_error&) {
    throw CommandError(kExitFailure, "the id of administrator '" + admin + "' is unreadable");
  }
}

std::optional<GroupEntity> entityById(unsigned id) {
  RdbmsInterface db;
  GroupEntitySet all;
  if (EntityUtils::getAllEntities(db, all) != QuorErr::kSuccess) {
    throw CommandError(kExitFailure, "reading the entities failed");
  }
  for (const GroupEntity& e : all) {
    if (e.id == id) return e;
  }
  return std::nullopt;
}

// Refuses (status 3) unless administrator `admin` may bind lists to
// `entity`: one of their own entities, or a wildcard entity that one of
// their own wildcard entities covers.
void checkEntity(unsigned admin, const std::string& adminText, const GroupEntity& entity) {
  RdbmsInterface db;
  if (EntityUtils::isAdminRoot(db, admin)) return;
  std::vector<GroupEntity> own;
  EntityUtils::getEntity(db, admin, own);
  for (const GroupEntity& e : own) {
    if (e.id == entity.id) return;
  }
  if (entity.type == GroupEntity::Wildcard) {
    GroupEntitySet wildcards;
    if (EntityUtils::getAllWildcardEntities(db, wildcards) != QuorErr::kSuccess) {
      throw CommandError(kExitFailure, "reading the wildcard entities failed");
    }
    for (const GroupEntity& e : own) {
      if (e.type != GroupEntity::Wildcard) continue;
      GroupEntitySet children;
      EntityUtils::getAllWildcardChildren(e.name.c_str(), wildcards, children, false);
      const auto it = children.find(entity);
      if (it != children.end() && it->id == entity.id) return;
    }
  }
  throw CommandError(kExitRefused, "administrator '" + adminText + "' does not manage entity " +
                                       std::to_string(entity.id) + " (" + entity.name + ")");
}

// Refuses (status 3) unless `group` is an address group that administrator
// `admin` may edit.
void checkGroup(unsigned admin, const std::string& adminText, unsigned group) {
  RdbmsInterface db;
  std::vector<SummaryNamedObject> visible;
  if (!QuorNamedObj::getIds(db, admin, QuorNamedObj::AddressGroupList, visible)) {
    throw CommandError(kExitFailure, "listing the address groups of administrator '" + adminText +
                                         "' failed (an administrator needs managing entities)");
  }
  for (const SummaryNamedObject& s : visible) {
    if (s.id != group) continue;
    if (s.editable) return;
    throw CommandError(kExitRefused, "administrator '" + adminText +
                                         "' may not edit address group " + std::to_string(group) +
                                         " (" + s.name + ")");
  }
  throw CommandError(kExitRefused, "address group " + std::to_string(group) +
                                       " does not exist or administrator '" + adminText +
                                       "' does not see it");
}

// The administrator, entity and group of a bind or unbind, checked.
GroupEntity checkedTarget(const BindOptions& o) {
  if (!o.membership.empty() && std::find(std::begin(kMemberships), std::end(kMemberships),
                                         o.membership) == std::end(kMemberships)) {
    std::string known;
    for (const char* m : kMemberships) known += std::string(known.empty() ? "" : ", ") + m;
    throw CommandError(kExitBadInput,
                       "unknown membership '" + o.membership + "' (one of " + known + ")");
  }
  openRootDatabase(o.home);
  const unsigned admin = adminIdOf(o.admin);
  const std::optional<GroupEntity> entity = entityById(o.entity);
  if (!entity) throw CommandError(kExitNotFound, "no entity with id " + std::to_string(o.entity));
  checkEntity(admin, o.admin, *entity);
  checkGroup(admin, o.admin, o.group);
  return *entity;
}

void bind(const BindOptions& o) {
  const GroupEntity entity = checkedTarget(o);
  for (const Binding& b : readBindings(o.entity)) {
    if (b.group == o.group && b.membership == o.membership) {
      throw CommandError(kExitRefused, "address group " + std::to_string(o.group) +
                                           " is already bound to entity " +
                                           std::to_string(o.entity) + " as " + o.membership);
    }
  }
  RdbmsInterface db;
  run(db, "binding the group", "ui_AddListBinding.sql", o.entity, o.group, o.membership.c_str(),
      o.position, o.position, o.entity);
  std::printf("address group %u is bound to entity %u (%s) as %s%s\n", o.group, o.entity,
              entity.name.c_str(), o.membership.c_str(),
              entity.type == GroupEntity::Wildcard
                  ? ""
                  : "; it decides nothing: only wildcard entities cover recipients");
}

void unbind(const BindOptions& o) {
  checkedTarget(o);
  std::size_t matching = 0;
  for (const Binding& b : readBindings(o.entity)) {
    if (b.group == o.group && (o.membership.empty() || b.membership == o.membership)) ++matching;
  }
  if (matching == 0) {
    throw CommandError(kExitNotFound, "address group " + std::to_string(o.group) + " is no" +
                                          (o.membership.empty() ? "" : " " + o.membership) +
                                          " list of entity " + std::to_string(o.entity));
  }
  RdbmsInterface db;
  run(db, "unbinding the group", "ui_RemoveListBinding.sql", o.entity, o.group,
      o.membership.c_str(), o.membership.c_str());
  std::printf("%zu binding(s) of address group %u to entity %u removed\n", matching, o.group,
              o.entity);
}

void listBindings(const BindOptions& o) {
  openRootDatabase(o.home);
  const std::vector<Binding> bindings = readBindings(o.entity);
  if (o.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const Binding& b : bindings) {
      out.push_back({{"entity", b.entity},
                     {"entityName", b.entityName},
                     {"group", b.group},
                     {"groupName", b.groupName},
                     {"membership", b.membership},
                     {"position", b.position},
                     {"decides", b.entityType == GroupEntity::Wildcard}});
    }
    std::cout << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return;
  }
  for (const Binding& b : bindings) {
    std::printf("%u\t%s\t%u\t%s\t%s\t%d%s\n", b.entity, b.entityName.c_str(), b.group,
                b.groupName.c_str(), b.membership.c_str(), b.position,
                b.entityType == GroupEntity::Wildcard ? "" : "\t(decides nothing)");
  }
}

void registerBindings(CLI::App& app) {
  CLI::App* admin = app.get_subcommand("admin");
  auto o = std::make_shared<BindOptions>();
  // The root comes from admin's own --home option.
  CLI::Option* home = admin->get_option("--home");
  auto withHome = [o, home](void (*command)(const BindOptions&)) {
    return [o, home, command] {
      o->home = home->count() > 0 ? home->as<std::string>() : std::string();
      command(*o);
    };
  };

  CLI::App* bindCmd =
      admin->add_subcommand("bind", "Make an address group a sender list of an entity");
  bindCmd->add_option("--admin", o->admin, "Administrator name or id")->required();
  bindCmd->add_option("--entity", o->entity, "Entity id")->required();
  bindCmd->add_option("--group", o->group, "Address group id")->required();
  bindCmd->add_option("--membership", o->membership, "Membership of the group's members")
      ->required();
  bindCmd
      ->add_option("--position", o->position, "Position among the entity's lists (default: last)")
      ->check(CLI::Range(0, 1000000));
  bindCmd->callback(withHome(bind));

  CLI::App* unbindCmd =
      admin->add_subcommand("unbind", "Remove an address group from an entity's lists");
  unbindCmd->add_option("--admin", o->admin, "Administrator name or id")->required();
  unbindCmd->add_option("--entity", o->entity, "Entity id")->required();
  unbindCmd->add_option("--group", o->group, "Address group id")->required();
  unbindCmd->add_option("--membership", o->membership, "Only this membership (default: all)");
  unbindCmd->callback(withHome(unbind));

  CLI::App* list = admin->add_subcommand("bindings", "List the sender lists of the entities");
  list->add_option("--entity", o->entity, "Only this entity id");
  list->add_flag("--json", o->json, "Print a JSON array");
  list->callback(withHome(listBindings));
}

// After `admin` (order 40), which these subcommands join.
const CommandRegistration kBindingsRegistration(41, registerBindings);

}  // namespace
}  // namespace quor::tool
