#include "policyobj/detail/EntityTree.h"

#include <algorithm>

#include "ZoListedEmailAddress.h"
#include "ZoWildcardEmail.h"

namespace quor::policyobj::detail {
namespace {

// The tree keeps patterns lower-cased (ASCII only); a match's text is that.
std::string lowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

void keepFirst(std::unordered_map<std::uint32_t, std::size_t>& first, std::uint32_t id, std::size_t position) {
  auto [it, added] = first.try_emplace(id, position);
  if (!added) it->second = std::min(it->second, position);
}

}  // namespace

void EntityTree::Deleter::operator()(ZoWildcardNode* root) const { delete root; }

EntityTree::EntityTree() : _root(ZoWildcardEmail::makeNewTree()) {}

EntityTree::~EntityTree() = default;

bool EntityTree::addPattern(const char* pattern) {
  if (!_root) return false;
  return _root->addAddressPattern(pattern, static_cast<ZoEmailBelongsTo>(0), nullptr, nullptr);
}

std::vector<std::string> EntityTree::matches(const char* address) const {
  std::vector<std::string> texts;
  if (!_root) return texts;
  std::vector<ZoListedEmailAddress*> leaves;
  _root->findMatches(address, leaves);
  texts.reserve(leaves.size());
  for (const ZoListedEmailAddress* leaf : leaves) {
    const char* text = leaf->getFullAddressAsStr();
    texts.emplace_back(text != nullptr ? text : "");
  }
  return texts;
}

bool findWildcardReach(const std::vector<const GroupEntity*>& roots, const GroupEntitySet& candidates,
                       WildcardReach& reach) {
  reach = WildcardReach{};
  if (roots.empty() || candidates.empty()) return true;

  // Children. A tree of one root's pattern matches a candidate exactly when
  // the leaf of that pattern covers it, so one tree of all roots, matched
  // once per candidate, answers for every root, provided each distinct
  // pattern has a leaf of its own (a pattern always covers its own text).
  EntityTree rootTree;
  std::unordered_map<std::string, std::vector<std::size_t>> rootsByLeaf;
  for (std::size_t k = 0; k < roots.size(); ++k) {
    const std::string text = lowerAscii(roots[k]->name);
    auto [it, added] = rootsByLeaf.try_emplace(text);
    if (added && !rootTree.addPattern(roots[k]->name.c_str())) return false;
    it->second.push_back(k);
  }
  for (const auto& entry : rootsByLeaf) {
    const std::vector<std::string> own = rootTree.matches(entry.first.c_str());
    if (std::find(own.begin(), own.end(), entry.first) == own.end()) return false;  // shares a leaf
  }
  for (const GroupEntity& candidate : candidates) {
    for (const std::string& text : rootTree.matches(candidate.name.c_str())) {
      const auto owners = rootsByLeaf.find(text);
      if (owners == rootsByLeaf.end()) return false;
      for (const std::size_t k : owners->second) {
        if (candidate.name != roots[k]->name) keepFirst(reach.firstChildOf, candidate.id, k);
      }
    }
  }

  // Parents: the tree of all candidates is the same for every root.
  EntityTree candidateTree;
  std::unordered_map<std::string, std::vector<std::uint32_t>> idsByText;
  for (const GroupEntity& candidate : candidates) {
    if (!candidateTree.addPattern(candidate.name.c_str())) return false;
    idsByText[lowerAscii(candidate.name)].push_back(candidate.id);
  }
  for (std::size_t k = 0; k < roots.size(); ++k) {
    const std::string root = lowerAscii(roots[k]->name);
    for (const std::string& text : candidateTree.matches(roots[k]->name.c_str())) {
      if (text == root) continue;  // the root itself, ignoring case
      const auto ids = idsByText.find(text);
      if (ids == idsByText.end()) return false;
      for (const std::uint32_t id : ids->second) keepFirst(reach.firstParentOf, id, k);
    }
  }
  return true;
}

}  // namespace quor::policyobj::detail
