// ZoListedEmailAddress and ZoWildcardedEmailAddress: one entry of a sender or
// recipient list, as it hangs as a leaf in an address pattern tree.
//
// A leaf knows its whole pattern text (_fullAddress), its user part (the
// inherited name), the lists it is on (a ZoEmailBelongsTo bit set), a weight
// that ranks how specific the pattern is, and the policies that own it. Both
// texts are table elements or private copies owned by the leaf; the policy
// owner strings belong to the caller and must outlive the leaf. The wildcard
// leaf stands for the user part "*" and matches any name.
//
// Thread safety: leaves are built and given memberships on one thread; once
// locked they are only read and may be read from any number of threads.
#ifndef QUORPOLICY_INCLUDE_ZOLISTEDEMAILADDRESS_H_
#define QUORPOLICY_INCLUDE_ZOLISTEDEMAILADDRESS_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "QuorExport.h"
#include "ZoIndexedString.h"
#include "ZoLockableClass.h"

// List memberships, as bits.
enum ZoEmailBelongsTo : std::uint32_t {
  NonOverrideableWhitelist = 1,
  NonOverrideableBlacklist = 2,
  OverrideableBlacklist = 4,
  OverrideableWhitelist = 8,
  WhitelistSubtraction = 16,
  BlacklistSubtraction = 32,
};

class QUORPOLICY_API ZoListedEmailAddress : public ZoLockableClass,
                                            public ZoIndexedStringNamedClass {
 public:
  // Registered for lock-on-init when `table` is not null. Both texts are
  // interned in `table` (or copied without one); the weight is computed from
  // the full address at once.
  ZoListedEmailAddress(ZoStringtable* table, const char* fullAddress, const char* name);
  ZoListedEmailAddress(ZoStringtable* table, const ZoIndexedString* fullAddress,
                       const ZoIndexedString* name);
  // Releases the full address and the name; the owner strings are not freed.
  ~ZoListedEmailAddress() override;
  ZoListedEmailAddress(const ZoListedEmailAddress&) = delete;
  ZoListedEmailAddress& operator=(const ZoListedEmailAddress&) = delete;

  // Leaves are made like tree nodes (ZoWildcardNode.h): in their table's
  // memory by the tree, on the heap by a plain new; delete releases both.
  static void* operator new(std::size_t size, ZoStringtable* table, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* p, std::size_t size) noexcept;
  static void operator delete(void* p, ZoStringtable* table, const std::nothrow_t&) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;

  // Membership changes are refused from now on.
  void lock() override;

  // The whole pattern; the empty handle for a null pointer.
  const ZoIndexedString& getFullAddress() const;
  const ZoIndexedString* getFullAddressAsPtr() const;
  // Its text, or null.
  const char* getFullAddressAsStr() const;

  std::uint32_t getWeight() const { return _weight; }
  ZoEmailBelongsTo getMembership() const { return _membership; }

  // No bit, one bit of 1 to 32, or two bits of which one is a subtraction
  // bit, except 4+32 and 8+16.
  static bool isStateAllowed(ZoEmailBelongsTo state);
  // False, changing nothing, when locked or when the result is not allowed.
  bool addMembership(ZoEmailBelongsTo m);
  bool removeMembership(ZoEmailBelongsTo m);

  bool inNonOverrideableWhitelist() const { return (_membership & NonOverrideableWhitelist) != 0; }
  bool inNonOverrideableBlacklist() const { return (_membership & NonOverrideableBlacklist) != 0; }
  bool inOverrideableBlacklist() const { return (_membership & OverrideableBlacklist) != 0; }
  bool inOverrideableWhitelist() const { return (_membership & OverrideableWhitelist) != 0; }
  bool inWhitelistSubtraction() const { return (_membership & WhitelistSubtraction) != 0; }
  bool inBlacklistSubraction() const { return (_membership & BlacklistSubtraction) != 0; }

  // True when `s` equals the user part or the whole pattern.
  virtual bool matchName(const ZoIndexedString& s) const;
  virtual bool matchName(const char* s) const;

  // Equal full addresses.
  bool operator==(const ZoListedEmailAddress& other) const;
  // The name compared with `s`.
  bool operator==(const ZoIndexedString& s) const;
  bool operator==(const char* s) const;

  // Appends `owner` (logged at level 4); a null owner is logged and ignored.
  // The string must outlive the leaf.
  void addRelatedPolicyOwner(std::string* owner);
  std::vector<std::string*>* getRelatedPolicyOwners() { return &_relatedPolicyOwners; }
  void setDirectPolicyOwner(bool direct) { _directPolicyOwner = direct; }
  bool getDirectPolicyOwner() const { return _directPolicyOwner; }
  // Copies `s`; a null `s` changes nothing.
  void setOriginalAddress(const char* s);
  const char* getOriginalAddress() const { return _originalAddress.c_str(); }

 protected:
  virtual void _computeWeight();
  static unsigned long _assignWeight(bool wildcardUser, bool wildcardDomain,
                                     unsigned long literalLabels);
  static bool _allowRedundantBlackWhiteListing() { return false; }

  const ZoIndexedString* _fullAddress;
  std::vector<std::string*> _relatedPolicyOwners;
  bool _directPolicyOwner;
  std::string _originalAddress;
  std::uint32_t _weight;
  ZoEmailBelongsTo _membership;

 private:
  friend class ZoWildcardNode;
  friend class ZoWildcardEmail;
};

class QUORPOLICY_API ZoWildcardedEmailAddress : public ZoListedEmailAddress {
 public:
  using ZoListedEmailAddress::ZoListedEmailAddress;
  ~ZoWildcardedEmailAddress() override = default;

  // Any name matches.
  bool matchName(const ZoIndexedString& s) const override;
  bool matchName(const char* s) const override;
};

#endif  // QUORPOLICY_INCLUDE_ZOLISTEDEMAILADDRESS_H_
