#include "ZoResbundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;

// Action display names the console shows, by resource key, and a summary
// formatted from arguments.
TEST(ZoResbundle, GetString_KnowsActionKeysAndFormatsArguments) {
  TempRoot root;  // no resources/ folder: the build tree's bundle is used
  QUOR::ZoResbundle bundle(QUOR::ZoResbundle::GetResourceFileName(), "UiDisplay", nullptr);
  ASSERT_TRUE(bundle.isOpen());
  const struct {
    const char* key;
    const char* want;
  } cases[] = {
      {"Delete", "Delete"},
      {"InsertXHeaderTag", "Insert X-header tag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    std::string text;
    EXPECT_TRUE(bundle.getString(c.key, text));
    EXPECT_EQ(c.want, text);
    icu::UnicodeString unicode;
    EXPECT_TRUE(bundle.getString(c.key, unicode));
    EXPECT_TRUE(unicode == icu::UnicodeString::fromUTF8(c.want));
  }
  std::string text;
  EXPECT_TRUE(bundle.getString("ActionSummary", std::vector<std::string>{"2", "Delete; Bcc"}, text));
  EXPECT_EQ("2 action(s) taken: Delete; Bcc", text);
  std::vector<icu::Formattable> args = {icu::Formattable(int32_t{3}),
                                        icu::Formattable(icu::UnicodeString("Notify"))};
  EXPECT_TRUE(bundle.getString("ActionSummary", args, text));
  EXPECT_EQ("3 action(s) taken: Notify", text);
}

TEST(ZoResbundle, GetString_MissingKeyOrBundleIsFalse) {
  TempRoot root;
  std::string text = "untouched";
  {
    QUOR::ZoResbundle bundle("UiDisplay", "en");
    ASSERT_TRUE(bundle.isOpen());
    EXPECT_FALSE(bundle.getString("Stamp", text));
    EXPECT_FALSE(bundle.getString(nullptr, text));
  }
  LogCapture capture;
  QUOR::ZoResbundle missing("NoSuchBundle", nullptr);
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(QUOR::ZoResbundle(nullptr, nullptr).isOpen());
  EXPECT_TRUE(capture.contains(2, "ZoResbundle: no resource folder or bundle name given"));
  EXPECT_FALSE(missing.getString("Delete", text));
  std::vector<std::string> args = {"a"};
  EXPECT_FALSE(missing.getString("ActionSummary", args, text));
  EXPECT_EQ("untouched", text);
  const std::string folder =
      std::string(QUOR::ZoResbundle::GetResourceFileName()) + "/NoSuchBundle/";
  EXPECT_TRUE(capture.contains(2, "ZoResbundle: could not open bundle " + folder +
                                      ": U_MISSING_RESOURCE_ERROR"))
      << quor::test::describe(capture.entries());
}

TEST(ZoResbundle, GetResourceFileName_PrefersTheInstallationRoot) {
  TempRoot root;
  const std::string fallback = QUOR::ZoResbundle::GetResourceFileName();
  EXPECT_NE((root.root() / "resources").string(), fallback);
  std::filesystem::create_directories(root.root() / "resources" / "UiDisplay");
  TempRoot::write(root.root() / "resources" / "UiDisplay" / "root.res", "not a bundle");
  EXPECT_EQ((root.root() / "resources").string(), QUOR::ZoResbundle::GetResourceFileName());
  // A broken bundle there is a missing bundle, never a crash.
  LogCapture capture;
  QUOR::ZoResbundle bundle("UiDisplay", nullptr);
  std::string text;
  EXPECT_FALSE(bundle.getString("Delete", text));
  EXPECT_EQ(1u, capture.texts(2).size()) << quor::test::describe(capture.entries());
}

TEST(ZoCachedResbundle, GetString_AnswersFromCacheAndCopies) {
  TempRoot root;
  QUOR::ZoCachedResbundle bundle("UiDisplay", nullptr);
  std::string text;
  EXPECT_TRUE(bundle.getString("Bcc", text));
  EXPECT_TRUE(bundle.getString("Bcc", text));
  EXPECT_FALSE(bundle.getString("Nope", text));
  EXPECT_FALSE(bundle.getString(nullptr, text));
  EXPECT_EQ("Bcc", text);
  EXPECT_EQ(1u, bundle.cachedCount());
  QUOR::ZoCachedResbundle copy(bundle);
  EXPECT_EQ(1u, copy.cachedCount());
  EXPECT_TRUE(copy.getString("Notify", text));
  EXPECT_EQ("Notify", text);
  EXPECT_EQ(2u, copy.cachedCount());
  EXPECT_EQ(1u, bundle.cachedCount());
}

}  // namespace
