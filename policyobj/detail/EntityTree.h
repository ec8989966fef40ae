// A pattern tree owned for one hierarchy query: the wildcard entity names
// added as patterns, other names matched against them as addresses.
#ifndef QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_
#define QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_

#include <memory>
#include <string>
#include <vector>

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

}  // namespace quor::policyobj::detail

#endif  // QUORPOLICY_POLICYOBJ_DETAIL_ENTITYTREE_H_
