// Administration of the policy database on behalf of one administrator: the
// operations that the command line and the web console share.
//
// Every operation takes the acting administrator's id and asks the library
// what that administrator sees (QuorNamedObj::getIds and
// getEditableQuanantineData, with their editable and deletable marks). An
// object outside that scope answers NotVisible whether it exists or not, so
// that nobody learns of objects they cannot see. Changes are recorded in the
// change log (administrator, UTC time, operation, object id and name).
//
// Failures of the library that it only logs are caught with a RequestLog
// (LibraryLog.h); a host serving requests concurrently makes a
// LibraryLogRouter first.
//
// REQUIRES: RdbmsInterface::Init succeeded before the first operation; the
// environment is read there once and never changed here.
//
// Thread safety: all operations may run on many threads at once. Listings
// that build the wildcard pattern trees are serialised internally, as the
// library requires; so is the creation of address groups, whose new id is
// looked up after the library made them.
#ifndef QUORPOLICY_ADMIN_ADMINISTRATION_H_
#define QUORPOLICY_ADMIN_ADMINISTRATION_H_

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "QuorNamedObj.h"

namespace quor::admin {

enum class Outcome {
  kOk,
  kNotVisible,  // outside the administrator's scope, or missing
  kRefused,     // visible, but the administrator may not do this
  kBadInput,    // the request is malformed; nothing was changed
  kFailed,      // the database failed
};

struct Result {
  Outcome outcome = Outcome::kOk;
  std::string message;  // empty for kOk
  // Set with kNotVisible and with a kRefused that is about the scope (an
  // entity the administrator does not manage, a group they do not see): a
  // host that must not tell existing from missing objects answers both alike.
  bool outOfScope = false;
  bool ok() const { return outcome == Outcome::kOk; }
};

struct Group {
  std::uint32_t id = 0;
  std::string name;
  std::vector<std::string> members;
  bool editable = false;
  bool deletable = false;
};

struct EntityNode {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::string name;
  std::vector<EntityNode> children;
};

struct Change {
  std::int64_t id = 0;
  std::uint32_t adminId = 0;
  std::string adminName;
  std::string time;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string operation;
  std::uint32_t objectId = 0;
  std::string objectName;
};

// The policy server's settings as the server reads them from quor.ini.
struct ServerSettings {
  unsigned backlog = 100;
  bool keepAlive = true;
  unsigned port = 5060;
  bool https = false;
  unsigned recvTimeoutSecs = 60;
  unsigned sendTimeoutSecs = 60;
  unsigned threads = 10;
  unsigned maxThreads = 50;
  unsigned cacheTTLMins = 1440;
};

// The manual order of the filter groups, when one is in force.
struct RuleOrder {
  bool manual = false;
  std::vector<std::pair<int, std::string>> groups;  // filter kind and its name, in order
};

// One registered policy server.
struct PolicyServer {
  std::uint32_t id = 0;
  std::string address;
  std::uint32_t port = 0;
};

// An address group bound to an entity as one of its sender lists.
struct Binding {
  std::uint32_t entity = 0;
  std::string entityName;
  std::uint32_t entityType = 0;
  std::uint32_t group = 0;
  std::string groupName;
  std::string membership;
  int position = 0;
  // Only wildcard entities cover recipients; a binding elsewhere is kept but
  // decides nothing.
  bool decides() const;
};

// The memberships a binding may have, in the order they are documented.
const std::vector<std::string>& memberships();

// A value refused, by the name of its field.
struct FieldProblem {
  std::string field;
  std::string message;
};

// Why `address` is not an address pattern (local part, "@", domain; "*"
// allowed as a wildcard; no blanks or control characters; at most 254
// bytes), or empty when it is one.
std::string memberProblem(const std::string& address);
// Why `name` cannot name an object (empty, over 255 bytes, a control
// character, or the "OPP:" prefix the lists hide), or empty.
std::string nameProblem(const std::string& name);

// The values of `settings` the server would not take as they are (it
// replaces them when it reads them), one problem per field, named as in
// ServerSettings; empty when every value is taken.
std::vector<FieldProblem> settingsProblems(const ServerSettings& settings);
// Writes `settings` to quor.ini: what the library's writer stores, the cache
// lifetime in the LDAP section the server reads it from, and the time-outs,
// which the library's writer leaves alone. False when something was not
// written (the store logs why). Callers serialise writers.
bool writeServerSettings(const ServerSettings& settings);

// How member addresses are checked. The console takes address patterns only;
// the command line, run by the installation's operator, takes any text the
// stored member list can hold (nothing holding "</ma>", which ends a member).
enum class MemberCheck { kAddressPattern, kStorable };

// Argon2id in libsodium's encoded form, with the interactive limits. Empty
// when libsodium cannot work (it then logs nothing; the caller reports).
std::string hashPassword(const std::string& password);
bool verifyPassword(const std::string& encoded, const std::string& password);

class Administration {
 public:
  Administration();
  Administration(const Administration&) = delete;
  Administration& operator=(const Administration&) = delete;

  // Sign-in: kOk with the administrator's id when the name exists, has a
  // password and `password` matches it; kRefused otherwise, after the same
  // amount of hashing work for an unknown name as for a wrong password.
  Result signIn(const std::string& name, const std::string& password, std::uint32_t& adminId);
  // Stores the hash of `password` for the administrator named `name`.
  // kNotVisible for an unknown name, kBadInput for an empty password.
  Result setPassword(const std::string& name, const std::string& password);
  // The administrator's name (empty when unknown) and whether it is root.
  Result describeAdmin(std::uint32_t adminId, std::string& name, bool& root);
  // The id of the administrator named `name`; kNotVisible when there is none.
  Result adminByName(const std::string& name, std::uint32_t& adminId);
  // The lowest id of a root administrator; kNotVisible when there is none.
  Result rootAdmin(std::uint32_t& adminId);

  // The named objects of one kind that the administrator sees.
  Result listObjects(std::uint32_t adminId, QuorNamedObj::NaObjType kind,
                     std::vector<SummaryNamedObject>& objects);

  Result listGroups(std::uint32_t adminId, std::vector<SummaryNamedObject>& groups);
  Result getGroup(std::uint32_t adminId, std::uint32_t groupId, Group& group);
  // `entity`, when not 0, is linked besides the administrator's entities.
  Result createGroup(std::uint32_t adminId, const std::string& name,
                     const std::vector<std::string>& members, std::uint32_t& groupId,
                     MemberCheck check = MemberCheck::kAddressPattern, std::uint32_t entity = 0);
  Result modifyGroup(std::uint32_t adminId, std::uint32_t groupId, const std::string& name,
                     const std::vector<std::string>& members,
                     MemberCheck check = MemberCheck::kAddressPattern);
  Result deleteGroup(std::uint32_t adminId, std::uint32_t groupId);

  Result listAreas(std::uint32_t adminId, std::vector<QuarantineData>& areas);
  Result getArea(std::uint32_t adminId, std::uint32_t areaId, QuarantineData& area);
  Result modifyArea(std::uint32_t adminId, std::uint32_t areaId, const std::string& name,
                    const std::string& content);

  // The entities as a forest: a wildcard entity hangs under the nearest
  // wildcard pattern that covers it. Root sees every entity; another
  // administrator the entities they manage, with what hangs under them.
  Result entityTree(std::uint32_t adminId, std::vector<EntityNode>& roots);

  // The policy server's settings with the library's messages about them
  // (values it replaced, keys it did not find). Root only.
  Result showSettings(std::uint32_t adminId, ServerSettings& settings,
                      std::vector<std::string>& messages);
  // Writes the settings to quor.ini when every value is one the server takes
  // as it is; otherwise kBadInput with one problem per refused field and
  // nothing written. Root only.
  Result setSettings(std::uint32_t adminId, const ServerSettings& settings,
                     std::vector<FieldProblem>& problems);

  // The manual rule order and the registered policy servers. Root only.
  Result ruleOrder(std::uint32_t adminId, RuleOrder& order);
  Result policyServers(std::uint32_t adminId, std::vector<PolicyServer>& servers);

  // The bindings of entity `entity` (0: of every entity), by entity and
  // position. Root only.
  Result bindings(std::uint32_t adminId, std::uint32_t entity, std::vector<Binding>& out);
  // The bindings that administrator `adminId` may see, by entity and
  // position: those of the entities they manage (see bind) whose group they
  // see. `entity` 0: of every such entity; another id: of that entity only,
  // kNotVisible (out of scope) when they do not manage it.
  Result visibleBindings(std::uint32_t adminId, std::uint32_t entity, std::vector<Binding>& out);
  // Binds address group `group` to `entity` with `membership` at `position`
  // (negative: last). The administrator must manage the entity (one of their
  // own, or a wildcard entity one of their wildcard entities covers; root:
  // any) and may edit the group. kNotVisible for an unknown entity, kRefused
  // for a binding that exists already; `bound` is the entity. Messages
  // about the acting administrator call them "the administrator".
  Result bind(std::uint32_t adminId, std::uint32_t entity, std::uint32_t group,
              const std::string& membership, int position, GroupEntity& bound);
  // Removes the bindings of `group` to `entity` (of one membership, or of
  // any when `membership` is empty), with the checks of bind; kNotVisible
  // when there is none. `removed` is their number.
  Result unbind(std::uint32_t adminId, std::uint32_t entity, std::uint32_t group,
                const std::string& membership, std::size_t& removed);

  // The change log, newest first (at most `limit` entries); root only
  // (kRefused otherwise).
  Result changes(std::uint32_t adminId, std::vector<Change>& out, std::size_t limit = 1000);

 private:
  Result requireRoot(std::uint32_t adminId, const char* what);
  // The checks that bind and unbind share; `target` is the entity,
  // `groupName` the group's name.
  Result checkBinding(std::uint32_t adminId, std::uint32_t entity, std::uint32_t group,
                      const std::string& membership, GroupEntity& target, std::string& groupName);
  Result readBindings(std::uint32_t entity, std::vector<Binding>& out);
  // The ids of the entities the administrator manages: root every entity;
  // another administrator their own and the wildcard entities their own
  // wildcard entities cover.
  Result managedEntities(std::uint32_t adminId, std::set<std::uint32_t>& ids);
  Result record(std::uint32_t adminId, const char* operation, std::uint32_t objectId,
                const std::string& objectName);
  Result findGroup(std::uint32_t adminId, std::uint32_t groupId, SummaryNamedObject& summary);
  // True when the group exists, is linked to entities, is listed at all (no
  // "OPP:" name) and the library says the administrator may edit it: then it
  // is visible and editable without building the whole list. `name` is its
  // name. False says nothing either way.
  bool ownGroup(std::uint32_t adminId, std::uint32_t groupId, std::string& name);
  bool groupExists(std::uint32_t groupId, bool& exists);

  std::mutex _treeMutex;      // the library's pattern-tree work runs one at a time
  std::mutex _createMutex;    // a new group's id is read back by its name
  std::mutex _settingsMutex;  // quor.ini is read and written by one request at a time
  std::once_flag _dummyOnce;
  std::string _dummyHash;  // verified for unknown names, to take as long
};

}  // namespace quor::admin

#endif  // QUORPOLICY_ADMIN_ADMINISTRATION_H_
