// The one form of an address and of a list pattern that the lists compare.
#include <gtest/gtest.h>

#include "lists/AddressNorm.h"

namespace quor::lists {
namespace {

TEST(AddressNorm, BringsTheFormsOfOneMailboxTogether) {
  struct Case {
    const char* name;
    const char* address;
    const char* want;
  };
  const Case cases[] = {
      {"plain", "User@Example.COM", "User@Example.COM"},
      {"trailing dots", "x@malware.example..", "x@malware.example"},
      {"last at sign starts the domain", "x@corp.example@malware.example",
       "x\ncorp.example@malware.example"},
      {"U-label in upper case",
       "a@B\xC3\x9C"
       "CHER.example",
       "a@xn--bcher-kva.example"},
      {"sharp s is not folded to ss",
       "a@stra\xC3\x9F"
       "e.example",
       "a@xn--strae-oqa.example"},
      {"ideographic full stops",
       "a@b\xC3\xBC"
       "cher\xE3\x80\x82"
       "example\xE3\x80\x82",
       "a@xn--bcher-kva.example"},
      {"a refused label stays, the others convert",
       "a@\xC3\xBC"
       "b--x.b\xC3\xBC"
       "cher.example",
       "a@\xC3\xBC"
       "b--x.xn--bcher-kva.example"},
      {"no at sign", "postmaster", "postmaster"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, normalizeAddress(c.address));
  }
  // A pattern keeps its local part and its wildcards.
  EXPECT_EQ("\"x@y\"@*.xn--bcher-kva.example", normalizePattern("\"x@y\"@*.b\xC3\xBC"
                                                                "cher.example."));
  EXPECT_EQ("user@d.example", withoutExtension("user-a+b@d.example", "+-").value_or("none"));
  EXPECT_EQ("none", withoutExtension("+tag@d.example", "+").value_or("none"));
}

}  // namespace
}  // namespace quor::lists
