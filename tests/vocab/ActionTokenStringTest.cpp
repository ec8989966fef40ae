#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "QuorAction.h"
#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

namespace fs = std::filesystem;
using quor::test::LogCapture;
using quor::test::TempRoot;

const std::string kMissing =
    "QuorAction::CreateActionTokenString: ERROR: failed to retrieve string \"Delete\" from "
    "resource file ";

std::string invalid(const char* shown, int length) {
  return std::string("QuorAction::CreateActionTokenString: invalid pActionBitMap (") + shown +
         "); lenght = " + std::to_string(length) + ", expected 14";
}

struct Case {
  const char* name;
  const char* bitmap;
  bool ok;
  std::string out;
  std::vector<std::string> errors;
};

void run(const Case& c) {
  SCOPED_TRACE(c.name);
  LogCapture capture;
  std::string out = "stale";
  EXPECT_EQ(c.ok, QuorAction::CreateActionTokenString(c.bitmap, out));
  EXPECT_EQ(c.out, out);
  EXPECT_EQ(c.errors, capture.texts(1));
}

// Each test gets an installation root whose resources/ folder is set up by
// the test: the test bundle, a damaged one, or none.
class ActionTokenString : public ::testing::Test {
 protected:
  fs::path bundleDir() const { return _root.root() / "resources" / "UiDisplay"; }
  TempRoot _root;
};

TEST_F(ActionTokenString, ListsLocalizedNamesInDisplayOrder) {
  fs::create_directories(bundleDir());
  fs::copy_file(fs::path(QUOR_TEST_UIDISPLAY_DIR) / "root.res", bundleDir() / "root.res");
  const Case cases[] = {
      {"all zero", "00000000000000", true, "", {}},
      {"position 2 is never shown", "00100000000000", true, "", {}},
      {"handoff after delete", "10001000000000", true, "Remove; Handed off", {}},
      {"one name, no separator", "00000000000001", true, "X-header added", {}},
      {"one empty name", "00000000010000", true, "", {}},
      {"only 1 marks an action", "x1y0 \x01" "2Q9-./ab", true, "Quarantäne", {}},
      {"missing key shown as key", "10010000000000", true, "Remove; Archive", {kMissing}},
      {"every position",
       "11111111111111",
       true,
       "Remove; Quarantäne; Archive; Redirect; Stamp added; Attachment removed; "
       "Subject tagged; ; Notified; Cleaned; Blind copy; Handed off; X-header added",
       {kMissing}},
      {"null", nullptr, false, "", {invalid("NULL", 0)}},
      {"13 characters", "1000000000000", false, "", {invalid("1000000000000", 13)}},
      {"15 characters", "100000000000001", false, "", {invalid("100000000000001", 15)}},
  };
  for (const auto& c : cases) run(c);
}

TEST_F(ActionTokenString, MissingOrDamagedBundleShowsKeys) {
  const Case c{"no bundle", "11000000000010", true, "Delete; Quarantine; Bcc",
               {kMissing, kMissing, kMissing}};
  fs::create_directories(_root.root() / "resources");
  run(c);
  fs::create_directories(bundleDir());
  TempRoot::write(bundleDir() / "root.res", "not a compiled resource");
  run({"damaged bundle", c.bitmap, c.ok, c.out, c.errors});
}

}  // namespace
