#include "ZoListedEmailAddress.h"

#include <cstring>

#include "PolicyLog.h"
#include "addrmatch/detail/AddressPieces.h"
#include "strings/detail/BlockArena.h"

using quor::detail::isStar;

ZoListedEmailAddress::ZoListedEmailAddress(ZoStringtable* table, const char* fullAddress,
                                           const char* name)
    : ZoLockableClass(table != nullptr),
      ZoIndexedStringNamedClass(table, name),
      _fullAddress(_lookupAndCheckName(fullAddress, table)),
      _directPolicyOwner(true),
      _weight(0),
      _membership(static_cast<ZoEmailBelongsTo>(0)) {
  _computeWeight();
}

ZoListedEmailAddress::ZoListedEmailAddress(ZoStringtable* table, const ZoIndexedString* fullAddress,
                                           const ZoIndexedString* name)
    : ZoLockableClass(table != nullptr),
      ZoIndexedStringNamedClass(table, name),
      _fullAddress(_lookupAndCheckName(fullAddress, table)),
      _directPolicyOwner(true),
      _weight(0),
      _membership(static_cast<ZoEmailBelongsTo>(0)) {
  _computeWeight();
}

ZoListedEmailAddress::~ZoListedEmailAddress() {
  if (!_releaseName(_fullAddress)) {
    if (_fullAddress == nullptr) {
      PolicyLog::log(PolicyLog::Error,
                     "~ZoListedEmailAddress: Failed to cleanup _fullAddress reference: NULL");
    } else {
      PolicyLog::log(
          PolicyLog::Error,
          "~ZoListedEmailAddress: Failed to cleanup _fullAddress reference: %s , %lu",
          _fullAddress->getIdentifier() != nullptr ? _fullAddress->getIdentifier() : "NULL string",
          static_cast<unsigned long>(_fullAddress->getIndex()));
    }
  }
}

void ZoListedEmailAddress::lock() { _lock(); }

void* ZoListedEmailAddress::operator new(std::size_t size, ZoStringtable* table,
                                         const std::nothrow_t&) noexcept {
  return quor::detail::TableMemory::allocate(table, size);
}
void* ZoListedEmailAddress::operator new(std::size_t size) {
  void* p = quor::detail::TableMemory::allocate(nullptr, size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* ZoListedEmailAddress::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return quor::detail::TableMemory::allocate(nullptr, size);
}
void ZoListedEmailAddress::operator delete(void* p, std::size_t size) noexcept {
  quor::detail::TableMemory::release(p, size);
}
void ZoListedEmailAddress::operator delete(void* p, ZoStringtable*,
                                           const std::nothrow_t&) noexcept {
  quor::detail::TableMemory::release(p, 0);
}
void ZoListedEmailAddress::operator delete(void* p, const std::nothrow_t&) noexcept {
  quor::detail::TableMemory::release(p, 0);
}

const ZoIndexedString& ZoListedEmailAddress::getFullAddress() const {
  return *_subEmptyForNull(_fullAddress);
}
const ZoIndexedString* ZoListedEmailAddress::getFullAddressAsPtr() const {
  return _subEmptyForNull(_fullAddress);
}
const char* ZoListedEmailAddress::getFullAddressAsStr() const {
  return _fullAddress != nullptr ? _fullAddress->getIdentifier() : nullptr;
}

bool ZoListedEmailAddress::isStateAllowed(ZoEmailBelongsTo state) {
  const std::uint32_t s = state;
  if (s & ~std::uint32_t{63}) return false;
  const int bits = __builtin_popcount(s);
  if (bits <= 1) return true;
  if (bits > 2) return false;
  if ((s & (WhitelistSubtraction | BlacklistSubtraction)) == 0) return false;
  return s != (OverrideableBlacklist | BlacklistSubtraction) &&
         s != (OverrideableWhitelist | WhitelistSubtraction);
}

bool ZoListedEmailAddress::addMembership(ZoEmailBelongsTo m) {
  const auto merged = static_cast<ZoEmailBelongsTo>(_membership | m);
  if (isLocked() || !isStateAllowed(merged)) return false;
  _membership = merged;
  return true;
}

bool ZoListedEmailAddress::removeMembership(ZoEmailBelongsTo m) {
  const auto reduced = static_cast<ZoEmailBelongsTo>(_membership & ~static_cast<std::uint32_t>(m));
  if (isLocked() || !isStateAllowed(reduced)) return false;
  _membership = reduced;
  return true;
}

bool ZoListedEmailAddress::matchName(const ZoIndexedString& s) const {
  if (_name == nullptr) return false;
  if (_name->_internalCompare(s) == 0) return true;
  return _fullAddress != nullptr && _fullAddress->_internalCompare(s) == 0;
}

bool ZoListedEmailAddress::matchName(const char* s) const {
  if (_name == nullptr) return false;
  if (_name->explicitCompare(s) == 0) return true;
  return _fullAddress != nullptr && _fullAddress->explicitCompare(s) == 0;
}

bool ZoListedEmailAddress::operator==(const ZoListedEmailAddress& other) const {
  return getFullAddress()._internalCompare(other.getFullAddress()) == 0;
}

bool ZoListedEmailAddress::operator==(const ZoIndexedString& s) const {
  return getName()._internalCompare(s) == 0;
}

bool ZoListedEmailAddress::operator==(const char* s) const {
  return getName().explicitCompare(s) == 0;
}

void ZoListedEmailAddress::addRelatedPolicyOwner(std::string* owner) {
  if (owner == nullptr) {
    PolicyLog::log(PolicyLog::Progress,
                   "ZoListedEmailAddress::addRelatedPolicyOwner() pNewPolicyOwner is null");
    return;
  }
  PolicyLog::log(PolicyLog::Progress,
                 "ZoListedEmailAddress::addRelatedPolicyOwner() pNewPolicyOwner=%s",
                 owner->c_str());
  _relatedPolicyOwners.push_back(owner);
}

void ZoListedEmailAddress::setOriginalAddress(const char* s) {
  if (s != nullptr) _originalAddress.assign(s);
}

void ZoListedEmailAddress::_computeWeight() {
  // Only whether a piece is exactly "*" matters here, so no table is needed.
  quor::detail::AddressPieces pieces(nullptr, getFullAddress().getIdentifier(), false);
  const bool wildcardUser = isStar(pieces.user());
  bool wildcardDomain = false;
  unsigned long literalLabels = 0;
  ZoWildcardNode::stack& labels = pieces.labels();
  while (!labels.empty()) {
    if (isStar(labels.top())) {
      wildcardDomain = true;
    } else {
      ++literalLabels;
    }
    labels.pop();
  }
  _weight = static_cast<std::uint32_t>(_assignWeight(wildcardUser, wildcardDomain, literalLabels));
}

unsigned long ZoListedEmailAddress::_assignWeight(bool wildcardUser, bool wildcardDomain,
                                                  unsigned long literalLabels) {
  if (!wildcardDomain) return (wildcardUser ? 4001 : 5001) + literalLabels;
  if (literalLabels == 0) return wildcardUser ? 1 : 1001;
  return (wildcardUser ? 2001 : 3001) + literalLabels;
}

bool ZoWildcardedEmailAddress::matchName(const ZoIndexedString&) const { return true; }
bool ZoWildcardedEmailAddress::matchName(const char*) const { return true; }
