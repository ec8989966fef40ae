#include <gtest/gtest.h>

#include "QuorCommonUtil.h"

namespace {

TEST(QuorCommonUtil, IsNumAndIsValidPort_Boundaries) {
  const struct {
    const char* text;
    bool num;
    bool port;
  } cases[] = {
      {nullptr, false, false}, {"", false, false},      {"0", true, false},
      {"1", true, true},       {"65535", true, true},   {"65536", true, false},
      {"00080", true, true},   {"-1", false, false},    {"8o", false, false},
      {"99999999999999999999", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    EXPECT_EQ(c.num, isNum(c.text));
    EXPECT_EQ(c.port, isValidPort(c.text));
  }
}

}  // namespace
