#include "policyobj/detail/EntityTree.h"

#include "ZoListedEmailAddress.h"
#include "ZoWildcardEmail.h"

namespace quor::policyobj::detail {

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

}  // namespace quor::policyobj::detail
