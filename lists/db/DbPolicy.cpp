#include "lists/db/DbPolicy.h"

#include <malloc.h>

#include <algorithm>
#include <new>
#include <set>
#include <stdexcept>
#include <utility>

#include "EntityUtils.h"
#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "ZoWildcardNode.h"

namespace quor::lists {
namespace {

struct NamedBit {
  const char* name;
  std::uint32_t bit;
};

constexpr NamedBit kMemberships[] = {
    {"nonoverrideable-white", NonOverrideableWhitelist},
    {"nonoverrideable-black", NonOverrideableBlacklist},
    {"overrideable-black", OverrideableBlacklist},
    {"overrideable-white", OverrideableWhitelist},
    {"white-subtraction", WhitelistSubtraction},
    {"black-subtraction", BlacklistSubtraction},
};

// At most this many scope vectors are kept; a full cache starts over.
constexpr std::size_t kMaxCachedVectors = 65536;

std::string membershipNameOf(std::uint32_t bit) {
  for (const NamedBit& m : kMemberships) {
    if (m.bit == bit) return m.name;
  }
  return std::to_string(bit);
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string text(QUOR::RdbmsInterface& db, const char* column) {
  const char* value = db.getColVal(column);
  return value != nullptr ? value : "";
}

// Runs a statement file without arguments beyond `args`.
template <typename... Args>
void runFile(QUOR::RdbmsInterface& db, const char* file, Args... args) {
  char stmt[1024];
  ZoSqlLoader loader(QUOR::RdbmsInterface::GetSqlPath());
  loader.loadSQL(stmt, sizeof stmt, file, args...);
  db.executeSQL(stmt);
}

std::unique_ptr<ZoWildcardNode> newTree(ZoStringtable* table) {
  std::unique_ptr<ZoWildcardNode> root(
      new (std::nothrow) ZoWildcardRootNode(table, ZoStringtable::getConstEmptyIndexedString()));
  if (root == nullptr) {
    ZoWildcardEmail::clearLockOnInitQueue();
    throw std::runtime_error("cannot create a pattern tree");
  }
  return root;
}

}  // namespace

std::uint32_t membershipBit(const std::string& name) {
  for (const NamedBit& m : kMemberships) {
    if (name == m.name) return m.bit;
  }
  return 0;
}

DbPolicyData readDbPolicy(QUOR::RdbmsInterface& db, const std::set<unsigned>* known) {
  DbPolicyData data;
  std::string step = "reading the policy version";
  try {
    runFile(db, "ui_GetPolicyVersion.sql");
    if (db.fetchNextRow() != 0) throw "no policy_version row";
    data.version = std::stoll(text(db, "version"));

    step = "reading the wildcard entities";
    GroupEntitySet wildcards;
    if (EntityUtils::getAllWildcardEntities(db, wildcards) != QuorErr::kSuccess) {
      throw "the library could not list them";
    }
    for (const GroupEntity& e : wildcards) data.entities.push_back({e.id, e.name, e.type});

    step = "reading the bindings";
    runFile(db, "ui_GetListBindings.sql", 0u, 0u);
    while (db.fetchNextRow() == 0) {
      DbBinding b;
      b.entity = static_cast<unsigned>(std::stoul(text(db, "entity_id")));
      b.group = static_cast<unsigned>(std::stoul(text(db, "group_id")));
      b.groupName = text(db, "group_name");
      b.membership = text(db, "membership");
      b.position = std::stoi(text(db, "position"));
      data.bindings.push_back(std::move(b));
    }

    step = "reading the members of the bound groups";
    if (known != nullptr) {
      data.partial = true;
      std::set<unsigned> wanted;
      for (const DbBinding& b : data.bindings) {
        if (known->count(b.group) == 0) wanted.insert(b.group);
      }
      for (const unsigned group : wanted) {
        std::vector<std::string>& members = data.members[group];
        runFile(db, "ui_GetMemberAddressByAGId.sql", group);
        while (db.fetchNextRow() == 0) members.push_back(text(db, "MemberAddress"));
      }
      return data;
    }
    runFile(db, "ui_GetBoundGroupMembers.sql");
    while (db.fetchNextRow() == 0) {
      const auto group = static_cast<unsigned>(std::stoul(text(db, "group_id")));
      data.members[group].push_back(text(db, "address"));
    }
  } catch (const char* failure) {
    throw std::runtime_error(step + ": " + failure);
  } catch (const std::logic_error&) {
    throw std::runtime_error(step + ": a value is not a number");
  }
  return data;
}

DbPolicyData readDbGroups(QUOR::RdbmsInterface& db, const std::set<unsigned>& groups) {
  DbPolicyData data;
  data.groupsOnly = true;
  std::string step = "reading the policy version";
  try {
    runFile(db, "ui_GetPolicyVersion.sql");
    if (db.fetchNextRow() != 0) throw "no policy_version row";
    data.version = std::stoll(text(db, "version"));
    step = "reading the changed groups";
    for (const unsigned group : groups) {
      std::vector<std::string>& members = data.members[group];
      runFile(db, "ui_GetMemberAddressByAGId.sql", group);
      while (db.fetchNextRow() == 0) members.push_back(text(db, "MemberAddress"));
      runFile(db, "ui_GetNamedObjBlob.sql", group);
      if (db.fetchNextRow() == 0) data.groupNames[group] = text(db, "Name");
    }
  } catch (const char* failure) {
    throw std::runtime_error(step + ": " + failure);
  } catch (const std::logic_error&) {
    throw std::runtime_error(step + ": a value is not a number");
  }
  return data;
}

struct DbPolicy::List {
  std::shared_ptr<ZoStringtable> table;  // before the tree: its names live here
  std::unique_ptr<ZoWildcardNode> tree;
  std::size_t entries = 0;
  std::size_t refused = 0;
};

struct DbPolicy::Entities {
  std::shared_ptr<ZoStringtable> table;  // before the tree: its names live here
  std::unique_ptr<ZoWildcardNode> tree;
  // Entity pattern: indexes of its scopes in DbPolicy::_scopes.
  std::unordered_map<std::string, std::vector<std::size_t>> scopes;
};

struct DbPolicy::Scope {
  DbEntity entity;
  std::uint32_t weight = 0;                              // of the entity's pattern
  std::vector<std::pair<const List*, DbBinding>> lists;  // in position order
};

struct DbPolicy::Vector {
  // The matcher takes the trees as a mutable vector but only reads it.
  mutable std::vector<ZoWildcardNode*> trees;
  std::vector<std::pair<const Scope*, const DbBinding*>> what;  // per tree
  std::size_t scopes = 0;
};

DbPolicy::DbPolicy() = default;
DbPolicy::~DbPolicy() = default;

std::set<unsigned> DbPolicy::groups() const {
  std::set<unsigned> out;
  for (const auto& [key, list] : _lists) out.insert(key.first);
  return out;
}

std::unique_ptr<const DbPolicy> DbPolicy::build(const DbPolicyData& data) {
  return build(data, nullptr);
}

std::shared_ptr<const DbPolicy::List> DbPolicy::makeList(
    const std::shared_ptr<ZoStringtable>& table, const std::vector<std::string>* members,
    std::uint32_t bit) {
  auto list = std::make_shared<List>();
  list->table = table;
  list->tree = newTree(table.get());
  if (members != nullptr) {
    for (const std::string& member : *members) {
      const bool added = list->tree->addAddressPattern(
          lowerAscii(member).c_str(), static_cast<ZoEmailBelongsTo>(bit), nullptr, nullptr);
      ++(added ? list->entries : list->refused);
    }
  }
  return list;
}

void DbPolicy::count() {
  _entries = _refused = 0;
  for (const auto& [key, list] : _lists) {
    _entries += list->entries;
    _refused += list->refused;
  }
  _bindings = _inert.size();
  for (const auto& scope : _scopes) _bindings += scope->lists.size();
}

std::unique_ptr<const DbPolicy> DbPolicy::buildGroups(const DbPolicyData& data,
                                                      const DbPolicy& previous) {
  std::unique_ptr<DbPolicy> p(new DbPolicy());
  p->_version = data.version;
  p->_table = std::make_shared<ZoStringtable>();
  p->_entities = previous._entities;
  p->_lists = previous._lists;
  for (auto& [key, list] : p->_lists) {
    const auto members = data.members.find(key.first);
    if (members != data.members.end()) list = makeList(p->_table, &members->second, key.second);
  }
  const auto named = [&data](DbBinding b) {
    const auto name = data.groupNames.find(b.group);
    if (name != data.groupNames.end()) b.groupName = name->second;
    return b;
  };
  // The same scopes in the same order, so that the entity index still
  // refers to them; only their trees and group names may differ.
  for (const auto& scope : previous._scopes) {
    p->_scopes.push_back(std::make_unique<Scope>());
    Scope& copy = *p->_scopes.back();
    copy.entity = scope->entity;
    copy.weight = scope->weight;
    for (const auto& [list, binding] : scope->lists) {
      const auto fresh = p->_lists.find({binding.group, membershipBit(binding.membership)});
      copy.lists.emplace_back(fresh->second.get(), named(binding));
    }
  }
  for (const DbBinding& b : previous._inert) p->_inert.push_back(named(b));
  p->count();
  ZoWildcardEmail::initScanTimeMode();
  return p;
}

std::unique_ptr<const DbPolicy> DbPolicy::build(const DbPolicyData& data,
                                                const DbPolicy* previous) {
  // Blocks from 1 MiB up (the table's chunks) get mappings of their own,
  // returned to the system when a replaced generation is freed, as for list
  // files.
  static const bool pinned = ::mallopt(M_MMAP_THRESHOLD, 1 << 20) != 0;
  (void)pinned;
  if (data.groupsOnly) return previous != nullptr ? buildGroups(data, *previous) : nullptr;
  std::unique_ptr<DbPolicy> p(new DbPolicy());
  p->_version = data.version;
  p->_table = std::make_shared<ZoStringtable>();

  std::map<unsigned, const DbEntity*> wildcards;
  for (const DbEntity& e : data.entities) {
    if (e.type == GroupEntity::Wildcard) wildcards.emplace(e.id, &e);
  }
  // Bindings in decision order within an entity.
  std::vector<const DbBinding*> bindings;
  for (const DbBinding& b : data.bindings) bindings.push_back(&b);
  std::stable_sort(bindings.begin(), bindings.end(), [](const DbBinding* a, const DbBinding* b) {
    return a->entity != b->entity ? a->entity < b->entity : a->position < b->position;
  });

  // One tree per (group, membership), shared by every entity binding it.
  std::map<unsigned, Scope*> scopes;
  for (const DbBinding* b : bindings) {
    const auto entity = wildcards.find(b->entity);
    const std::uint32_t bit = membershipBit(b->membership);
    if (entity == wildcards.end() || bit == 0) {
      p->_inert.push_back(*b);
      continue;
    }
    std::shared_ptr<const List>& list = p->_lists[{b->group, bit}];
    const auto members = data.members.find(b->group);
    if (list == nullptr && members == data.members.end() && data.partial) {
      // Not read: the tree in use, unchanged.
      if (previous == nullptr) return nullptr;
      const auto old = previous->_lists.find({b->group, bit});
      if (old == previous->_lists.end()) return nullptr;
      list = old->second;
    } else if (list == nullptr) {
      list = makeList(p->_table, members != data.members.end() ? &members->second : nullptr, bit);
    }
    Scope*& scope = scopes[b->entity];
    if (scope == nullptr) {
      p->_scopes.push_back(std::make_unique<Scope>());
      scope = p->_scopes.back().get();
      scope->entity = *entity->second;
    }
    scope->lists.emplace_back(list.get(), *b);
  }

  // The entity patterns, to find the scopes of a recipient; in a table of
  // their own, so that the generations sharing them do not keep the
  // members' names of this one.
  auto entities = std::make_shared<Entities>();
  entities->table = std::make_shared<ZoStringtable>();
  entities->tree = newTree(entities->table.get());
  for (std::size_t i = 0; i < p->_scopes.size(); ++i) {
    const std::string pattern = lowerAscii(p->_scopes[i]->entity.name);
    entities->tree->addAddressPattern(pattern.c_str(), NonOverrideableWhitelist, nullptr, nullptr);
    entities->scopes[pattern].push_back(i);
  }
  p->_entities = std::move(entities);
  p->count();
  ZoWildcardEmail::initScanTimeMode();
  return p;
}

std::shared_ptr<const DbPolicy::Vector> DbPolicy::vectorFor(const std::string& recipient) const {
  std::vector<ZoListedEmailAddress*> leaves;
  _entities->tree->findMatches(recipient.c_str(), leaves);
  std::vector<std::pair<std::uint32_t, const Scope*>> covering;
  for (const ZoListedEmailAddress* leaf : leaves) {
    const char* full = leaf->getFullAddressAsStr();
    if (full == nullptr) continue;
    const auto it = _entities->scopes.find(full);
    if (it == _entities->scopes.end()) continue;
    for (const std::size_t s : it->second)
      covering.emplace_back(leaf->getWeight(), _scopes[s].get());
  }
  // Broadest first; entities of equal weight by id.
  std::sort(covering.begin(), covering.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second->entity.id < b.second->entity.id;
  });
  covering.erase(std::unique(covering.begin(), covering.end()), covering.end());
  std::vector<unsigned> key;
  for (const auto& c : covering) key.push_back(c.second->entity.id);
  {
    std::shared_lock<std::shared_mutex> read(_cacheMutex);
    const auto it = _cache.find(key);
    if (it != _cache.end()) return it->second;
  }
  auto v = std::make_shared<Vector>();
  v->scopes = covering.size();
  for (const auto& c : covering) {
    for (const auto& [list, binding] : c.second->lists) {
      v->trees.push_back(list->tree.get());
      v->what.emplace_back(c.second, &binding);
    }
  }
  std::unique_lock<std::shared_mutex> write(_cacheMutex);
  if (_cache.size() >= kMaxCachedVectors) _cache.clear();
  _cache.emplace(std::move(key), v);
  return v;
}

DbDecision DbPolicy::decide(const std::string& sender, const std::string& recipient) const {
  DbDecision d;
  const std::shared_ptr<const Vector> v = vectorFor(recipient);
  d.scopes = v->scopes;
  d.lists = v->trees.size();
  unsigned long tree = 0;
  const char* pattern = nullptr;
  ZoEmailBelongsTo membership{};
  d.result =
      ZoWildcardEmail::matchEmailAddress(sender.c_str(), v->trees, &tree, &pattern, &membership);
  if (d.result == NotListed || pattern == nullptr || tree >= v->what.size()) return d;
  const auto& [scope, binding] = v->what[tree];
  d.listed = true;
  d.entity = scope->entity.id;
  d.entityName = scope->entity.name;
  d.group = binding->group;
  d.groupName = binding->groupName;
  d.pattern = pattern;
  d.membership = membershipNameOf(membership);
  return d;
}

}  // namespace quor::lists
