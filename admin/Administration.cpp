#include "admin/Administration.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "EntityUtils.h"
#include "GlobalSetting.h"
#include "PolicyLog.h"
#include "QuorFilter.h"
#include "QuorPolicyServerInterface.h"
#include "RdbmsInterface.h"
#include "admin/LibraryLog.h"
#include "miscUtils.h"

namespace quor::admin {
namespace {

using QUOR::RdbmsInterface;

constexpr std::size_t kMaxName = 255;
constexpr std::size_t kMaxAddress = 254;

Result fail(Outcome outcome, std::string message) { return Result{outcome, std::move(message)}; }

// A literal for a statement: single quotes doubled, in quotes.
std::string literal(const std::string& text) {
  std::string buffer;
  const char* escaped = nullptr;
  RdbmsInterface::escapeData(text.c_str(), buffer, escaped);
  return std::string("'") + escaped + "'";
}

// Runs `work`, which may throw the data-access library's failure text; that
// text is logged and becomes a kFailed result naming `what`.
template <class Work>
Result guarded(const char* what, Work&& work) {
  try {
    return work();
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "administration: %s failed: %s", what, text);
    return fail(Outcome::kFailed, std::string(what) + " failed");
  }
}

std::string utcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

bool hasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::vector<AddressGroup::AddressGroupMember> toMembers(const std::vector<std::string>& addresses) {
  std::vector<AddressGroup::AddressGroupMember> members;
  members.reserve(addresses.size());
  for (const std::string& a : addresses) members.push_back(AddressGroup::AddressGroupMember{0, a});
  return members;
}

Result checkGroupInput(const std::string& name, const std::vector<std::string>& members,
                       MemberCheck check) {
  if (std::string why = nameProblem(name); !why.empty()) return fail(Outcome::kBadInput, why);
  for (const std::string& m : members) {
    if (check == MemberCheck::kStorable) {
      if (m.find("</ma>") != std::string::npos) {
        return fail(Outcome::kBadInput, "a member address may not hold </ma>");
      }
    } else if (std::string why = memberProblem(m); !why.empty()) {
      return fail(Outcome::kBadInput, why);
    }
  }
  return {};
}

}  // namespace

std::string memberProblem(const std::string& address) {
  const std::string shown = "member " + std::to_string(address.size()) + "-byte address";
  if (address.empty()) return "a member address is empty";
  if (address.size() > kMaxAddress) return shown + " is longer than 254 bytes";
  if (hasControl(address) || address.find(' ') != std::string::npos) {
    return "a member address holds a blank or a control character";
  }
  const std::size_t at = address.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size()) {
    return "a member address is not of the form local@domain";
  }
  const std::string domain = address.substr(at + 1);
  if (domain.find_first_of("<>\"'()[],;:\\") != std::string::npos ||
      domain.find("..") != std::string::npos || domain.front() == '.' || domain.back() == '.') {
    return "a member address has a malformed domain";
  }
  // The member list text ends a member at "</ma>".
  if (address.find("</ma>") != std::string::npos) return "a member address may not hold </ma>";
  return "";
}

std::string nameProblem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > kMaxName) return "the name is longer than 255 bytes";
  if (hasControl(name)) return "the name holds a control character";
  if (name.rfind("OPP:", 0) == 0) return "names beginning with OPP: are reserved";
  return "";
}

std::vector<FieldProblem> settingsProblems(const ServerSettings& s) {
  std::vector<FieldProblem> problems;
  const auto range = [&](const char* field, unsigned v, unsigned low, unsigned high) {
    if (v < low || v > high) {
      problems.push_back({field, std::string("must be between ") + std::to_string(low) + " and " +
                                     std::to_string(high)});
    }
  };
  range("backlog", s.backlog, 0, 1000);
  range("port", s.port, 1, 65535);
  range("threads", s.threads, 1, 1000);
  range("maxThreads", s.maxThreads, 2, 1000);
  range("recvTimeoutSecs", s.recvTimeoutSecs, 0, 300);
  range("sendTimeoutSecs", s.sendTimeoutSecs, 0, 300);
  if (s.maxThreads < s.threads) problems.push_back({"maxThreads", "must not be below threads"});
  return problems;
}

bool writeServerSettings(const ServerSettings& s) {
  using P = QuorPolicyServerInterface;
  const auto store = [](const char* key, unsigned value, const char* section) {
    QUOR::GlobalSettingIF settings;
    return settings.setItem(key, std::to_string(value).c_str(), section, "quor.ini") ==
           QUOR::GS_SUCCESS;
  };
  return P::setSettingsInDatabase(s.backlog, s.keepAlive, s.port, s.https ? P::HTTPS : P::HTTP,
                                  s.threads, s.maxThreads, s.cacheTTLMins) == 0 &&
         store("ldap_cache_TTL_minutes", s.cacheTTLMins, "LDAP_SVR_1") &&
         store("recv_timeout_secs", s.recvTimeoutSecs, "policy_server") &&
         store("send_timeout_secs", s.sendTimeoutSecs, "policy_server");
}

std::string hashPassword(const std::string& password) {
  char out[crypto_pwhash_STRBYTES];
  if (sodium_init() < 0 ||
      crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return "";
  }
  return out;
}

bool verifyPassword(const std::string& encoded, const std::string& password) {
  if (sodium_init() < 0) return false;
  return crypto_pwhash_str_verify(encoded.c_str(), password.data(), password.size()) == 0;
}

Administration::Administration() = default;

Result Administration::signIn(const std::string& name, const std::string& password,
                              std::uint32_t& adminId) {
  std::string hash;
  std::uint32_t id = 0;
  Result read = guarded("reading an administrator", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(("SELECT admin_id AS admin_id, password_hash AS password_hash FROM "
                   "administrators WHERE admin_name = " +
                   literal(name))
                      .c_str());
    if (db.fetchNextRow() == 0) {
      id = static_cast<std::uint32_t>(db.getColValInt("admin_id"));
      const char* h = db.getColVal("password_hash");
      hash = h != nullptr ? h : "";
    }
    return {};
  });
  if (!read.ok()) return read;
  // An unknown name or one without a password costs the same hashing work as
  // a wrong password, so the answer's time does not tell them apart.
  // Made at the first sign-in, so that hosts that never sign anybody in
  // (the command line) do not pay for it.
  std::call_once(_dummyOnce,
                 [this] { _dummyHash = hashPassword("no administrator has this name"); });
  const bool match = verifyPassword(hash.empty() ? _dummyHash : hash, password);
  if (hash.empty() || !match) return fail(Outcome::kRefused, "wrong name or password");
  adminId = id;
  return {};
}

Result Administration::setPassword(const std::string& name, const std::string& password) {
  if (password.empty()) return fail(Outcome::kBadInput, "the password is empty");
  const std::string hash = hashPassword(password);
  if (hash.empty()) return fail(Outcome::kFailed, "the password could not be hashed");
  std::uint32_t id = 0;
  if (Result r = adminByName(name, id); !r.ok()) return r;
  return guarded("storing a password", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(("UPDATE administrators SET password_hash = " + literal(hash) +
                   " WHERE admin_id = " + std::to_string(id))
                      .c_str());
    return {};
  });
}

Result Administration::describeAdmin(std::uint32_t adminId, std::string& name, bool& root) {
  return guarded("reading an administrator", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(("SELECT admin_name AS admin_name, is_root AS is_root FROM administrators "
                   "WHERE admin_id = " +
                   std::to_string(adminId))
                      .c_str());
    if (db.fetchNextRow() != 0) return fail(Outcome::kNotVisible, "no such administrator");
    const char* n = db.getColVal("admin_name");
    name = n != nullptr ? n : "";
    root = db.getColValInt("is_root") == 1;
    return {};
  });
}

Result Administration::adminByName(const std::string& name, std::uint32_t& adminId) {
  RequestLog log;
  unsigned id = 0;
  QuorErrC rc = 0;
  {
    RdbmsInterface db;
    rc = miscUtils::getAdminId(db, name.c_str(), id);
  }
  // The library answers a missing name without logging an error.
  if (rc == QuorErr::kMissingData && !log.failed()) {
    return fail(Outcome::kNotVisible, "no such administrator");
  }
  if (rc != QuorErr::kSuccess || log.failed()) {
    return fail(Outcome::kFailed, "reading an administrator failed");
  }
  adminId = id;
  return {};
}

Result Administration::rootAdmin(std::uint32_t& adminId) {
  return guarded("reading an administrator", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL("SELECT MIN(admin_id) AS admin_id FROM administrators WHERE is_root = 1");
    if (db.fetchNextRow() != 0 || db.getColVal("admin_id") == nullptr) {
      return fail(Outcome::kNotVisible, "no root administrator");
    }
    adminId = static_cast<std::uint32_t>(db.getColValInt("admin_id"));
    return {};
  });
}

Result Administration::listObjects(std::uint32_t adminId, QuorNamedObj::NaObjType kind,
                                   std::vector<SummaryNamedObject>& objects) {
  RequestLog log;
  bool listed = false;
  {
    std::lock_guard<std::mutex> lock(_treeMutex);
    RdbmsInterface db;
    listed = QuorNamedObj::getIds(db, adminId, kind, objects);
  }
  if (!listed || log.failed())
    return fail(Outcome::kFailed, "the named objects could not be listed");
  return {};
}

Result Administration::listGroups(std::uint32_t adminId, std::vector<SummaryNamedObject>& groups) {
  if (!listObjects(adminId, QuorNamedObj::AddressGroupList, groups).ok()) {
    return fail(Outcome::kFailed, "the address groups could not be listed");
  }
  return {};
}

Result Administration::findGroup(std::uint32_t adminId, std::uint32_t groupId,
                                 SummaryNamedObject& summary) {
  std::vector<SummaryNamedObject> groups;
  if (Result r = listGroups(adminId, groups); !r.ok()) return r;
  for (const SummaryNamedObject& s : groups) {
    if (s.id == groupId) {
      summary = s;
      return {};
    }
  }
  return fail(Outcome::kNotVisible, "no such address group");
}

bool Administration::ownGroup(std::uint32_t adminId, std::uint32_t groupId, std::string& name) {
  RequestLog log;
  RdbmsInterface db;
  bool linked = false;
  const Result read = guarded("reading an address group", [&]() -> Result {
    db.executeSQL(("SELECT n.name AS name, (SELECT COUNT(*) FROM entity_named_objects e WHERE "
                   "e.object_id = n.object_id) AS links FROM named_objects n WHERE n.kind = 5 "
                   "AND n.object_id = " +
                   std::to_string(groupId))
                      .c_str());
    if (db.fetchNextRow() != 0) return fail(Outcome::kNotVisible, "");
    const char* n = db.getColVal("name");
    name = n != nullptr ? n : "";
    linked = db.getColValInt("links") > 0;
    while (db.fetchNextRow() == 0) {
    }
    return {};
  });
  if (!read.ok() || !linked || name.rfind("OPP:", 0) == 0) return false;
  return QuorNamedObj::isEditable(db, adminId, groupId) && !log.failed();
}

bool Administration::groupExists(std::uint32_t groupId, bool& exists) {
  return guarded("reading an address group",
                 [&]() -> Result {
                   RdbmsInterface db;
                   db.executeSQL(("SELECT COUNT(*) AS n FROM named_objects WHERE object_id = " +
                                  std::to_string(groupId))
                                     .c_str());
                   exists = db.fetchNextRow() == 0 && db.getColValInt("n") > 0;
                   return {};
                 })
      .ok();
}

Result Administration::getGroup(std::uint32_t adminId, std::uint32_t groupId, Group& group) {
  SummaryNamedObject summary;
  if (Result r = findGroup(adminId, groupId, summary); !r.ok()) return r;
  RequestLog log;
  std::vector<AddressGroup::AddressGroupMember> members;
  std::string content;
  std::string name = summary.name;
  {
    RdbmsInterface db;
    QuorNamedObj::getBlob(db, groupId, content, name);
  }
  if (AddressGroup::getAddressGroupMembersByID(groupId, members) != QuorErr::kSuccess ||
      log.failed()) {
    return fail(Outcome::kFailed, "the address group could not be read");
  }
  group.id = groupId;
  group.name = name;
  group.editable = summary.editable;
  group.deletable = summary.deletable;
  group.members.clear();
  for (const auto& m : members) group.members.push_back(m.address);
  return {};
}

Result Administration::createGroup(std::uint32_t adminId, const std::string& name,
                                   const std::vector<std::string>& members, std::uint32_t& groupId,
                                   MemberCheck check, std::uint32_t entity) {
  if (Result r = checkGroupInput(name, members, check); !r.ok()) return r;
  std::vector<AddressGroup::AddressGroupMember> list = toMembers(members);
  std::lock_guard<std::mutex> lock(_createMutex);
  {
    RdbmsInterface db;
    std::vector<GroupEntity> entities;
    if (EntityUtils::getEntity(db, adminId, entities) != QuorErr::kSuccess || entities.empty()) {
      return fail(Outcome::kRefused, "this administrator manages no entities");
    }
  }
  {
    RequestLog log;
    AddressGroup::addAddressGroup(adminId, name.c_str(), entity, list);
    if (log.failed()) return fail(Outcome::kFailed, "the address group was not written");
  }
  Result found = guarded("reading the new group's id", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(("SELECT MAX(object_id) AS object_id FROM named_objects WHERE kind = 5 AND "
                   "name = " +
                   literal(name))
                      .c_str());
    if (db.fetchNextRow() != 0 || db.getColVal("object_id") == nullptr) {
      return fail(Outcome::kFailed, "the new address group was not found");
    }
    groupId = static_cast<std::uint32_t>(db.getColValInt("object_id"));
    return {};
  });
  if (!found.ok()) return found;
  return record(adminId, "create address group", groupId, name);
}

Result Administration::modifyGroup(std::uint32_t adminId, std::uint32_t groupId,
                                   const std::string& name, const std::vector<std::string>& members,
                                   MemberCheck check) {
  // The common case, an administrator changing a group of their own, needs
  // no list; anything else is decided by the list.
  std::string stored;
  if (!ownGroup(adminId, groupId, stored)) {
    SummaryNamedObject summary;
    if (Result r = findGroup(adminId, groupId, summary); !r.ok()) return r;
    if (!summary.editable) return fail(Outcome::kRefused, "this address group is not editable");
  }
  if (Result r = checkGroupInput(name, members, check); !r.ok()) return r;
  std::vector<AddressGroup::AddressGroupMember> list = toMembers(members);
  {
    RequestLog log;
    AddressGroup::modifyAddressGroup(groupId, name.c_str(), list);
    if (log.failed()) return fail(Outcome::kFailed, "the address group was not written");
  }
  return record(adminId, "modify address group", groupId, name);
}

Result Administration::deleteGroup(std::uint32_t adminId, std::uint32_t groupId) {
  const Result refused = fail(Outcome::kRefused, "this address group may not be deleted");
  std::string name;
  if (!ownGroup(adminId, groupId, name)) {
    SummaryNamedObject summary;
    if (Result r = findGroup(adminId, groupId, summary); !r.ok()) return r;
    if (!summary.deletable) return refused;
    name = summary.name;
  }
  {
    RequestLog log;
    AddressGroup::deleteAddressGroupByID(groupId);
    if (log.failed()) return fail(Outcome::kFailed, "the address group was not deleted");
  }
  // The removal leaves a group that a rule uses where it is.
  bool exists = true;
  if (!groupExists(groupId, exists))
    return fail(Outcome::kFailed, "the deletion could not be checked");
  if (exists) return refused;
  return record(adminId, "delete address group", groupId, name);
}

Result Administration::listAreas(std::uint32_t adminId, std::vector<QuarantineData>& areas) {
  RequestLog log;
  bool listed = false;
  {
    std::lock_guard<std::mutex> lock(_treeMutex);
    RdbmsInterface db;
    listed = QuorNamedObj::getEditableQuanantineData(db, adminId, areas);
  }
  if (!listed || log.failed()) {
    return fail(Outcome::kFailed, "the quarantine areas could not be listed");
  }
  return {};
}

Result Administration::getArea(std::uint32_t adminId, std::uint32_t areaId, QuarantineData& area) {
  std::vector<QuarantineData> areas;
  if (Result r = listAreas(adminId, areas); !r.ok()) return r;
  for (const QuarantineData& a : areas) {
    if (a.id == areaId) {
      area = a;
      return {};
    }
  }
  return fail(Outcome::kNotVisible, "no such quarantine area");
}

Result Administration::modifyArea(std::uint32_t adminId, std::uint32_t areaId,
                                  const std::string& name, const std::string& content) {
  QuarantineData area;
  if (Result r = getArea(adminId, areaId, area); !r.ok()) return r;
  if (!area.editable) return fail(Outcome::kRefused, "this quarantine area is not editable");
  if (std::string why = nameProblem(name); !why.empty()) return fail(Outcome::kBadInput, why);
  if (content.find('\0') != std::string::npos) {
    return fail(Outcome::kBadInput, "the content holds a NUL character");
  }
  RequestLog log;
  bool written = false;
  {
    RdbmsInterface db;
    written = QuorNamedObj::modify(db, areaId, adminId, name.c_str(), content.c_str(),
                                   QuorNamedObj::QuarantineArea);
  }
  if (!written || log.failed())
    return fail(Outcome::kFailed, "the quarantine area was not written");
  return record(adminId, "modify quarantine area", areaId, name);
}

Result Administration::entityTree(std::uint32_t adminId, std::vector<EntityNode>& roots) {
  RequestLog log;
  GroupEntitySet all;
  std::vector<GroupEntity> own;
  bool root = false;
  {
    RdbmsInterface db;
    if (EntityUtils::getAllEntities(db, all) != QuorErr::kSuccess) {
      return fail(Outcome::kFailed, "the entities could not be read");
    }
    root = EntityUtils::isAdminRoot(db, adminId);
    if (!root) EntityUtils::getEntity(db, adminId, own);
  }
  // The parents of every wildcard entity among the wildcard entities.
  GroupEntitySet wildcards;
  for (const GroupEntity& e : all) {
    if (e.type == GroupEntity::Wildcard) wildcards.insert(e);
  }
  std::map<std::uint32_t, GroupEntitySet> parents;
  {
    std::lock_guard<std::mutex> lock(_treeMutex);
    for (const GroupEntity& w : wildcards) {
      GroupEntitySet candidates = wildcards;
      EntityUtils::getAllWildcardParents(w.name.c_str(), candidates, parents[w.id], false);
    }
  }
  // The nearest parent is the one with the most parents of its own.
  std::map<std::uint32_t, std::vector<std::uint32_t>> children;
  std::map<std::uint32_t, const GroupEntity*> byId;
  std::set<std::uint32_t> hasParent;
  for (const GroupEntity& e : all) byId[e.id] = &e;
  for (const auto& [id, found] : parents) {
    const GroupEntity* best = nullptr;
    for (const GroupEntity& p : found) {
      if (p.id == id) continue;
      if (best == nullptr || parents[p.id].size() > parents[best->id].size()) best = &p;
    }
    if (best != nullptr) {
      children[best->id].push_back(id);
      hasParent.insert(id);
    }
  }
  const auto build = [&](auto& self, std::uint32_t id, int depth) -> EntityNode {
    const GroupEntity& e = *byId[id];
    EntityNode node{e.id, static_cast<std::uint32_t>(e.type), e.name, {}};
    if (depth < 64) {
      for (std::uint32_t c : children[id]) node.children.push_back(self(self, c, depth + 1));
    }
    return node;
  };
  if (root) {
    for (const GroupEntity& e : all) {
      if (hasParent.count(e.id) == 0) roots.push_back(build(build, e.id, 0));
    }
  } else {
    for (const GroupEntity& e : own) {
      if (byId.count(e.id) != 0) roots.push_back(build(build, e.id, 0));
    }
  }
  if (log.failed()) return fail(Outcome::kFailed, "the entity hierarchy could not be built");
  return {};
}

Result Administration::showSettings(std::uint32_t adminId, ServerSettings& s,
                                    std::vector<std::string>& messages) {
  std::string name;
  bool root = false;
  if (Result r = describeAdmin(adminId, name, root); !r.ok()) return r;
  if (!root) return fail(Outcome::kRefused, "only the root administrator manages the settings");
  using P = QuorPolicyServerInterface;
  P::Protocol protocol = s.https ? P::HTTPS : P::HTTP;
  QuorErrC rc = 0;
  {
    std::lock_guard<std::mutex> lock(_settingsMutex);
    RequestLog log;
    rc = P::getSettingsFromDatabase(s.backlog, s.keepAlive, s.port, protocol, s.recvTimeoutSecs,
                                    s.sendTimeoutSecs, s.threads, s.maxThreads, s.cacheTTLMins,
                                    false);
    messages = log.messages();
  }
  s.https = protocol == P::HTTPS;
  if (rc != 0) return fail(Outcome::kFailed, "the settings could not be read");
  return {};
}

Result Administration::setSettings(std::uint32_t adminId, const ServerSettings& s,
                                   std::vector<FieldProblem>& problems) {
  std::string name;
  bool root = false;
  if (Result r = describeAdmin(adminId, name, root); !r.ok()) return r;
  if (!root) return fail(Outcome::kRefused, "only the root administrator manages the settings");
  problems = settingsProblems(s);
  if (!problems.empty()) return fail(Outcome::kBadInput, "some settings were refused");
  std::lock_guard<std::mutex> lock(_settingsMutex);
  RequestLog log;
  const bool written = writeServerSettings(s);
  if (!written) return fail(Outcome::kFailed, "the settings were not written");
  return record(adminId, "set policy server settings", 0, "quor.ini");
}

Result Administration::requireRoot(std::uint32_t adminId, const char* what) {
  std::string name;
  bool root = false;
  if (Result r = describeAdmin(adminId, name, root); !r.ok()) return r;
  if (!root) return fail(Outcome::kRefused, std::string("only the root administrator ") + what);
  return {};
}

Result Administration::ruleOrder(std::uint32_t adminId, RuleOrder& order) {
  if (Result r = requireRoot(adminId, "reads the rule order"); !r.ok()) return r;
  RequestLog log;
  std::vector<QuorFilter::FilterType> kinds;
  QuorErrC rc = 0;
  {
    RdbmsInterface db;
    rc = miscUtils::getUserDefinedRuleOrder(db, order.manual, kinds, false);
  }
  if (rc != 0) return fail(Outcome::kFailed, "the rule order could not be read");
  for (const QuorFilter::FilterType kind : kinds) {
    const char* name = QuorFilter::getFilterName(kind);
    order.groups.emplace_back(static_cast<int>(kind), name != nullptr ? name : "");
  }
  return {};
}

Result Administration::policyServers(std::uint32_t adminId, std::vector<PolicyServer>& servers) {
  if (Result r = requireRoot(adminId, "reads the policy servers"); !r.ok()) return r;
  RequestLog log;
  std::vector<PolicyServerInfo> found;
  if (QuorPolicyServerInterface::getPolicyServerInfo(found) != 0) {
    return fail(Outcome::kFailed, "the policy servers could not be read");
  }
  for (const PolicyServerInfo& p : found) servers.push_back({p.scannerId, p.ipAddr, p.agentPort});
  return {};
}

Result Administration::changes(std::uint32_t adminId, std::vector<Change>& out, std::size_t limit) {
  std::string name;
  bool root = false;
  if (Result r = describeAdmin(adminId, name, root); !r.ok()) return r;
  if (!root) return fail(Outcome::kRefused, "only the root administrator reads the change log");
  return guarded("reading the change log", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(
        ("SELECT c.change_id AS change_id, c.admin_id AS admin_id, a.admin_name AS admin_name, "
         "c.changed_at AS changed_at, c.operation AS operation, c.object_id AS object_id, "
         "c.object_name AS object_name FROM change_log c LEFT JOIN administrators a ON "
         "a.admin_id = c.admin_id ORDER BY c.change_id DESC LIMIT " +
         std::to_string(limit))
            .c_str());
    const auto text = [&](const char* column) {
      const char* v = db.getColVal(column);
      return std::string(v != nullptr ? v : "");
    };
    while (db.fetchNextRow() == 0) {
      Change c;
      c.id = std::strtoll(text("change_id").c_str(), nullptr, 10);
      c.adminId = static_cast<std::uint32_t>(db.getColValInt("admin_id"));
      c.adminName = text("admin_name");
      c.time = text("changed_at");
      c.operation = text("operation");
      c.objectId = static_cast<std::uint32_t>(db.getColValInt("object_id"));
      c.objectName = text("object_name");
      out.push_back(std::move(c));
    }
    return {};
  });
}

Result Administration::record(std::uint32_t adminId, const char* operation, std::uint32_t objectId,
                              const std::string& objectName) {
  return guarded("recording a change", [&]() -> Result {
    RdbmsInterface db;
    db.executeSQL(("INSERT INTO change_log (admin_id, changed_at, operation, object_id, "
                   "object_name) VALUES (" +
                   std::to_string(adminId) + ", " + literal(utcNow()) + ", " + literal(operation) +
                   ", " + std::to_string(objectId) + ", " + literal(objectName) + ")")
                      .c_str());
    return {};
  });
}

}  // namespace quor::admin
