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
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "admin/BindingJson.h"
#include "tools/quorpolicy/AdminSession.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {
namespace {

struct BindOptions {
  std::string home;
  std::string admin;
  unsigned entity = 0;
  unsigned group = 0;
  std::string membership;
  int position = -1;
  bool json = false;
};

// Throws the refusal of `r`, naming the administrator as it was given.
void requireOk(const admin::Result& r, const BindOptions& o) {
  if (r.ok()) return;
  std::string message = r.message;
  const std::string generic = "the administrator";
  if (const std::size_t at = message.find(generic); at != std::string::npos) {
    message.replace(at, generic.size(), "administrator '" + o.admin + "'");
  }
  throw CommandError(exitStatusOf(r), message);
}

void bind(const BindOptions& o) {
  AdminSession session(o.home);
  GroupEntity entity;
  requireOk(session.administration().bind(session.adminId(o.admin), o.entity, o.group, o.membership,
                                          o.position, entity),
            o);
  std::printf("address group %u is bound to entity %u (%s) as %s%s\n", o.group, o.entity,
              entity.name.c_str(), o.membership.c_str(),
              entity.type == GroupEntity::Wildcard
                  ? ""
                  : "; it decides nothing: only wildcard entities cover recipients");
}

void unbind(const BindOptions& o) {
  AdminSession session(o.home);
  std::size_t removed = 0;
  requireOk(session.administration().unbind(session.adminId(o.admin), o.entity, o.group,
                                            o.membership, removed),
            o);
  std::printf("%zu binding(s) of address group %u to entity %u removed\n", removed, o.group,
              o.entity);
}

void listBindings(const BindOptions& o) {
  AdminSession session(o.home);
  std::vector<admin::Binding> bindings;
  requireOk(session.administration().bindings(session.root(), o.entity, bindings), o);
  if (o.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const admin::Binding& b : bindings) out.push_back(b);
    std::cout << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return;
  }
  for (const admin::Binding& b : bindings) {
    std::printf("%u\t%s\t%u\t%s\t%s\t%d%s\n", b.entity, b.entityName.c_str(), b.group,
                b.groupName.c_str(), b.membership.c_str(), b.position,
                b.decides() ? "" : "\t(decides nothing)");
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
