// quorpolicy admin: the administration console's daily questions on the
// policy database of the installation (QUOR_HOME and its database
// configuration, as `quorpolicy init` sets them up).
//
//   admin entities                         every entity: id, type, name
//   admin objects --admin A [--kind K]     named objects of a kind that A sees
//   admin quarantine --admin A             A's quarantine areas with content
//   admin group add --admin A --name N [--entity E] [--member ADDR]...
//   admin group modify --id G --name N [--member ADDR]...
//   admin group show --id G                name, content and members
//   admin group delete --id G
//   admin remove --admin A --object O      remove a named object for A
//   admin passwd NAME                      set NAME's console password (from
//                                          the terminal without echo, or the
//                                          first line of standard input)
//   admin changes [--json]                 the change log (root only: the
//                                          root administrator's view)
//
// An administrator is given by name or by numeric id.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "QuorErrC.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "admin/LibraryLog.h"
#include "port/PortFile.h"
#include "tools/quorpolicy/AdminSession.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {
namespace {

using QUOR::RdbmsInterface;

struct AdminOptions {
  std::string home;
  std::string admin;
  unsigned kind = QuorNamedObj::AddressGroupList;
  unsigned id = 0;
  unsigned entity = 0;
  std::string name;
  std::vector<std::string> members;
  bool json = false;
};

// One command's administration on the root the options name.
struct Session : AdminSession {
  explicit Session(const AdminOptions& options) : AdminSession(options.home) {}
};

// Refuses, naming it, a member address that the member list cannot hold.
void checkMembers(const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    // "</ma>" would end the member early in the member list text.
    if (address.find("</ma>") != std::string::npos) {
      throw CommandError(kExitBadInput, "member address '" + address + "' may not hold </ma>");
    }
  }
}

void listEntities(const AdminOptions& options) {
  Session session(options);
  RdbmsInterface db;
  std::set<GroupEntity, GroupEntityCmp> entities;
  const QuorErrC rc = EntityUtils::getAllEntities(db, entities);
  if (rc != QuorErr::kSuccess) {
    throw CommandError(kExitFailure,
                       "listing the entities failed (code " + std::to_string(rc) + ")");
  }
  for (const GroupEntity& entity : entities) {
    std::printf("%u\t%u\t%s\n", entity.id, static_cast<unsigned>(entity.type), entity.name.c_str());
  }
}

void listObjects(const AdminOptions& options) {
  Session session(options);
  const unsigned admin = session.adminId(options.admin);
  std::vector<SummaryNamedObject> summaries;
  if (!session.administration()
           .listObjects(admin, static_cast<QuorNamedObj::NaObjType>(options.kind), summaries)
           .ok()) {
    throw CommandError(kExitFailure, "listing the named objects of administrator '" +
                                         options.admin +
                                         "' failed (an administrator needs managing entities)");
  }
  for (const SummaryNamedObject& s : summaries) {
    std::printf("%u\t%s\t%s\t%s\n", s.id, s.editable ? "editable" : "-",
                s.deletable ? "deletable" : "-", s.name.c_str());
  }
}

void listQuarantine(const AdminOptions& options) {
  Session session(options);
  const unsigned admin = session.adminId(options.admin);
  std::vector<QuarantineData> areas;
  if (!session.administration().listAreas(admin, areas).ok()) {
    throw CommandError(kExitFailure, "listing the quarantine areas of administrator '" +
                                         options.admin + "' failed");
  }
  for (const QuarantineData& area : areas) {
    std::printf("%u\t%s\t%s\n", area.id, area.editable ? "editable" : "-", area.name.c_str());
    std::printf("%s\n\n", area.content.c_str());
  }
}

void addGroup(const AdminOptions& options) {
  Session session(options);
  const unsigned admin = session.adminId(options.admin);
  checkMembers(options.members);
  std::uint32_t id = 0;
  const admin::Result r = session.administration().createGroup(
      admin, options.name, options.members, id, admin::MemberCheck::kStorable, options.entity);
  if (r.outcome == admin::Outcome::kFailed) {
    throw CommandError(kExitFailure, "address group '" + options.name + "' was not written");
  }
  if (!r.ok()) {
    throw CommandError(exitStatusOf(r), "address group '" + options.name + "': " + r.message);
  }
  std::printf("address group '%s' written with %zu members\n", options.name.c_str(),
              options.members.size());
}

void modifyGroup(const AdminOptions& options) {
  Session session(options);
  checkMembers(options.members);
  const std::string group = "address group " + std::to_string(options.id);
  const admin::Result r = session.administration().modifyGroup(
      session.root(), options.id, options.name, options.members, admin::MemberCheck::kStorable);
  if (r.outcome == admin::Outcome::kFailed)
    throw CommandError(kExitFailure, group + " was not written");
  if (!r.ok()) throw CommandError(exitStatusOf(r), group + ": " + r.message);
  std::printf("%s written with %zu members\n", group.c_str(), options.members.size());
}

void showGroup(const AdminOptions& options) {
  Session session(options);
  std::string content;
  std::string name;
  {
    RdbmsInterface db;
    if (!QuorNamedObj::getBlob(db, options.id, content, name)) {
      throw CommandError(kExitNotFound, "no named object with id " + std::to_string(options.id));
    }
  }
  std::vector<AddressGroup::AddressGroupMember> members;
  admin::RequestLog watch;
  if (AddressGroup::getAddressGroupMembersByID(options.id, members) == QuorErr::kMemberUnreadable) {
    throw CommandError(
        kExitFailure, "a member of address group " + std::to_string(options.id) + " is unreadable");
  }
  if (watch.failed())
    throw CommandError(kExitFailure, "the members of address group " + std::to_string(options.id) +
                                         " could not be read");
  std::printf("id\t%u\nname\t%s\ncontent\t%s\n", options.id, name.c_str(), content.c_str());
  for (const AddressGroup::AddressGroupMember& member : members)
    std::printf("member\t%s\n", member.address.c_str());
}

void deleteGroup(const AdminOptions& options) {
  Session session(options);
  const std::string group = "address group " + std::to_string(options.id);
  const admin::Result r = session.administration().deleteGroup(session.root(), options.id);
  if (r.outcome == admin::Outcome::kFailed)
    throw CommandError(kExitFailure, group + " was not deleted");
  if (!r.ok()) throw CommandError(exitStatusOf(r), group + ": " + r.message);
  std::printf("%s deleted\n", group.c_str());
}

void removeObject(const AdminOptions& options) {
  Session session(options);
  const unsigned admin = session.adminId(options.admin);
  RdbmsInterface db;
  const QuorErrC rc = QuorNamedObj::remove(db, options.id, admin);
  const std::string object = "named object " + std::to_string(options.id);
  switch (rc) {
    case QuorErr::kSuccess:
      std::printf("%s removed\n", object.c_str());
      return;
    case QuorErr::kReferencedByRule:
    case QuorErr::kRemoveAnsweredMinus2:
      throw CommandError(kExitRefused, "a rule refers to " + object + "; it cannot be removed");
    case QuorErr::kNotEditable:
      throw CommandError(kExitRefused,
                         "administrator '" + options.admin + "' may not edit " + object);
    case QuorErr::kRemoveAnsweredMinus1:
      throw CommandError(kExitNotFound, object + " does not exist");
    default:
      throw CommandError(kExitFailure, "removing " + object +
                                           " failed: the database did not answer (code " +
                                           std::to_string(rc) + ")");
  }
}

std::string readNewPassword() {
  const bool terminal = port::stdinIsTerminal();
  std::string first;
  if (terminal) std::fputs("New password: ", stderr);
  if (!port::readLineNoEcho(first)) throw CommandError(kExitBadInput, "no password given");
  if (terminal) {
    std::string again;
    std::fputs("New password again: ", stderr);
    if (!port::readLineNoEcho(again) || again != first) {
      throw CommandError(kExitBadInput, "the passwords do not match");
    }
  }
  return first;
}

void setPassword(const AdminOptions& options) {
  Session session(options);
  const std::string password = readNewPassword();
  const admin::Result r = session.administration().setPassword(options.name, password);
  if (!r.ok()) {
    throw CommandError(exitStatusOf(r), "administrator '" + options.name + "': " + r.message);
  }
  std::printf("password of administrator '%s' set\n", options.name.c_str());
}

void showChanges(const AdminOptions& options) {
  Session session(options);
  std::vector<admin::Change> changes;
  const admin::Result r = session.administration().changes(session.root(), changes);
  if (!r.ok()) throw CommandError(exitStatusOf(r), "the change log: " + r.message);
  if (options.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const admin::Change& c : changes) {
      out.push_back({{"id", c.id},
                     {"time", c.time},
                     {"adminId", c.adminId},
                     {"admin", c.adminName},
                     {"operation", c.operation},
                     {"objectId", c.objectId},
                     {"objectName", c.objectName}});
    }
    std::cout << out.dump(2) << "\n";
    return;
  }
  for (const admin::Change& c : changes) {
    std::printf("%s\t%s\t%s\t%u\t%s\n", c.time.c_str(), c.adminName.c_str(), c.operation.c_str(),
                c.objectId, c.objectName.c_str());
  }
}

void registerAdmin(CLI::App& app) {
  auto options = std::make_shared<AdminOptions>();
  CLI::App* admin =
      app.add_subcommand("admin", "Administration console queries on the policy database");
  admin->require_subcommand(1);
  admin->add_option("--home", options->home, "Installation root (default: $QUOR_HOME)");

  CLI::App* entities = admin->add_subcommand("entities", "List every entity: id, type, name");
  entities->callback([options] { listEntities(*options); });

  CLI::App* objects =
      admin->add_subcommand("objects", "List the named objects of a kind an administrator sees");
  objects->add_option("--admin", options->admin, "Administrator name or id")->required();
  objects->add_option("--kind", options->kind,
                      "Kind: 3 quarantine area, 5 address group (default 5)");
  objects->callback([options] { listObjects(*options); });

  CLI::App* quarantine =
      admin->add_subcommand("quarantine", "List an administrator's quarantine areas with content");
  quarantine->add_option("--admin", options->admin, "Administrator name or id")->required();
  quarantine->callback([options] { listQuarantine(*options); });

  CLI::App* remove = admin->add_subcommand("remove", "Remove a named object for an administrator");
  remove->add_option("--admin", options->admin, "Administrator name or id")->required();
  remove->add_option("--object", options->id, "Named object id")->required();
  remove->callback([options] { removeObject(*options); });

  CLI::App* passwd = admin->add_subcommand(
      "passwd", "Set an administrator's console password (terminal or standard input)");
  passwd->add_option("NAME", options->name, "Administrator name")->required();
  passwd->callback([options] { setPassword(*options); });

  CLI::App* changes = admin->add_subcommand("changes", "Show the change log, newest first");
  changes->add_flag("--json", options->json, "Write JSON");
  changes->callback([options] { showChanges(*options); });

  CLI::App* group = admin->add_subcommand("group", "Address groups");
  group->require_subcommand(1);
  CLI::App* add =
      group->add_subcommand("add", "Create an address group linked to an administrator's entities");
  add->add_option("--admin", options->admin, "Administrator name or id")->required();
  add->add_option("--name", options->name, "Group name")->required();
  add->add_option("--entity", options->entity, "Also link the group to this entity id");
  add->add_option("--member", options->members, "Member address (repeatable)");
  add->callback([options] { addGroup(*options); });
  CLI::App* modify = group->add_subcommand("modify", "Replace an address group's name and members");
  modify->add_option("--id", options->id, "Group id")->required();
  modify->add_option("--name", options->name, "Group name")->required();
  modify->add_option("--member", options->members, "Member address (repeatable)");
  modify->callback([options] { modifyGroup(*options); });
  CLI::App* show = group->add_subcommand("show", "Show an address group with its members");
  show->add_option("--id", options->id, "Group id")->required();
  show->callback([options] { showGroup(*options); });
  CLI::App* del = group->add_subcommand("delete", "Delete an address group");
  del->add_option("--id", options->id, "Group id")->required();
  del->callback([options] { deleteGroup(*options); });
}

const CommandRegistration kAdminRegistration(40, registerAdmin);

}  // namespace
}  // namespace quor::tool
