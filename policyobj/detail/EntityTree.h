// A pattern tree owned for one hierarchy query: the wildcard entity names
// added as patterns, other names matched against them as addresses.
#ifndef QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_
#define QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "EntityUtils.h"

class ZoWildcardNode;

namespace quor::policyobj::detail {

// Owns a tree made with ZoWildcardEmail::makeNewTree and deletes it, with
// every node and leaf, when destroyed. Not copyable.
class EntityTree {
 public:
  EntityTree();
  ~EntityTree();
  EntityTree(const EntityTree&) = delete;
  EntityTree& operator=(const EntityTree&) = delete;

  // Adds `pattern` with no list membership; false when the tree refuses it
  // (or could not be made).
  bool addPattern(const char* pattern);

  // The full-address texts (lower-cased patterns) of the leaves that cover
  // `address`, in the tree's order. A leaf without text gives "".
  std::vector<std::string> matches(const char* address) const;

 private:
  struct Deleter {
    void operator()(ZoWildcardNode* root) const;
  };
  std::unique_ptr<ZoWildcardNode, Deleter> _root;
};

// Where the wildcard entities of one administrator reach among all wildcard
// entities: for each entity id, the first of the administrator's wildcard
// entities (its position among them, in list order) that has it as a child,
// and the first that has it as a parent. The same answers as
// EntityUtils::getAllWildcardChildren and getAllWildcardParents asked once per
// administrator entity with removeFound false, from one tree of the
// administrator's patterns and one tree of the candidates.
struct WildcardReach {
  std::unordered_map<std::uint32_t, std::size_t> firstChildOf;
  std::unordered_map<std::uint32_t, std::size_t> firstParentOf;
};

// Fills `reach` for `roots` (the administrator's wildcard entities, in list
// order) among `candidates`. False, with `reach` unusable, when the
// per-entity operations would log an error (a refused pattern, a parent with
// no candidate) or when two of the administrator's patterns share one leaf;
// the caller then asks those operations one entity at a time. Logs nothing.
bool findWildcardReach(const std::vector<const GroupEntity*>& roots, const GroupEntitySet& candidates,
                       WildcardReach& reach);

}  // namespace quor::policyobj::detail

#endif  // QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_
