// The one form of an address and of a list pattern that the lists compare.
#include <gtest/gtest.h>

#include "tools/quorpolicy/AddressNorm.h"

namespace quor::tool {
namespace {

TEST(AddressNorm, BringsTheFormsOfOneMailboxTogether) {
  struct Case {
    const char* name;
    const char* address;
    const char* want;
  };
  const Case cases[] = {
      {"plain", "User@Example.COM", "User@Example.COM"},
      {"trailing dot", "x@malware.example.", "x@malware.example"},
      {"trailing dots", "x@malware.example..", "x@malware.example"},
      {"last at sign starts the domain", "x@corp.example@malware.example",
       "x\ncorp.example@malware.example"},
      {"U-label",
       "a@b\xC3\xBC"
       "cher.example",
       "a@xn--bcher-kva.example"},
      {"U-label upper case",
       "a@B\xC3\x9C"
       "CHER.example",
       "a@xn--bcher-kva.example"},
      {"A-label kept", "a@XN--BCHER-KVA.example", "a@XN--BCHER-KVA.example"},
      {"sharp s is not folded to ss",
       "a@stra\xC3\x9F"
       "e.example",
       "a@xn--strae-oqa.example"},
      {"ideographic full stop",
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
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, normalizeAddress(c.address));
  }
}

TEST(AddressNorm, Patterns_KeepTheirLocalPartAndWildcards) {
  struct Case {
    const char* pattern;
    const char* want;
  };
  const Case cases[] = {
      {"*", "*"},
      {"sales@*", "sales@*"},
      {"*@*.b\xC3\xBC"
       "cher.example.",
       "*@*.xn--bcher-kva.example"},
      {"\"x@y\"@d.example.", "\"x@y\"@d.example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(c.want, normalizePattern(c.pattern));
    EXPECT_EQ(c.want, normalizePattern(normalizePattern(c.pattern)));
  }
}

TEST(AddressNorm, WithoutExtension_CutsAtTheFirstDelimiter) {
  struct Case {
    const char* address;
    const char* delimiters;
    const char* want;  // null: no extension
  };
  const Case cases[] = {
      {"user+tag@d.example", "+", "user@d.example"},
      {"user-a+b@d.example", "+-", "user@d.example"},
      {"user@d+x.example", "+", nullptr},
      {"+tag@d.example", "+", nullptr},
      {"user+tag@d.example", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const auto got = withoutExtension(c.address, c.delimiters);
    EXPECT_EQ(c.want != nullptr, got.has_value());
    if (c.want != nullptr && got) {
      EXPECT_EQ(c.want, *got);
    }
  }
}

}  // namespace
}  // namespace quor::tool
