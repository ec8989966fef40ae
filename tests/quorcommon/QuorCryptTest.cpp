#include "QuorCrypt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;

std::vector<char> buffer(const std::string& text) {
  std::vector<char> b(text.begin(), text.end());
  b.push_back('\0');
  return b;
}

TEST(QuorCrypt, RoundTrip_DecryptsInPlaceAndMakesPrivateKey) {
  TempRoot root;
  const char* passwords[] = {"secret", "", "p@ss w0rd;=#", "\xC3\xA9t\xC3\xA9",
                             "a much longer password of more than one cipher block, 0123456789"};
  for (const char* password : passwords) {
    SCOPED_TRACE(password);
    std::string encrypted, again;
    ASSERT_NE(0, NewEncryptStr(password, encrypted));
    ASSERT_NE(0, NewEncryptStr(password, again));
    EXPECT_NE(encrypted, again);  // fresh randomness each time
    EXPECT_EQ(0u, encrypted.rfind("ENC1:", 0));
    EXPECT_EQ(std::string::npos, encrypted.find(password[0] != '\0' ? password : "\x01"));
    auto text = buffer(encrypted);
    ASSERT_NE(0, NewDecryptStr(text.data()));
    EXPECT_STREQ(password, text.data());
  }
  struct stat st {};
  ASSERT_EQ(0, ::stat(root.config("credentials.key").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
  EXPECT_EQ(32, st.st_size);
}

TEST(QuorCrypt, Decrypt_LeavesPlainTextsAlone) {
  TempRoot root;
  const char* plains[] = {"", "secret", "enc1:lowercase", "ENC1", "ENC:abc"};
  for (const char* plain : plains) {
    SCOPED_TRACE(plain);
    auto text = buffer(plain);
    EXPECT_EQ(0, NewDecryptStr(text.data()));
    EXPECT_STREQ(plain, text.data());
  }
  EXPECT_EQ(0, NewDecryptStr(nullptr));
}

TEST(QuorCrypt, Decrypt_TamperedValuesFailAndLog) {
  TempRoot root;
  std::string good;
  ASSERT_NE(0, NewEncryptStr("secret", good));
  std::string flipped = good;
  char& c = flipped[10];
  c = c == 'A' ? 'B' : 'A';
  const char* const kUndecryptable = "NewDecryptStr: encrypted credential could not be decrypted";
  const char* const kMalformed = "NewDecryptStr: encrypted credential is malformed";
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"changed byte", flipped, kUndecryptable},
      {"cut short", good.substr(0, good.size() - 4), kUndecryptable},
      {"not base64", "ENC1:!!!!", kMalformed},
      {"too short", "ENC1:AAAA", kMalformed},
      {"empty body", "ENC1:", kMalformed},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LogCapture capture;
    auto text = buffer(t.text);
    EXPECT_EQ(0, NewDecryptStr(text.data()));
    EXPECT_EQ(t.text, text.data());
    EXPECT_EQ((std::vector<std::string>{t.message}), capture.texts(1));
  }
}

// A credential made under one installation root, read under another that
// has a different key or none.
TEST(QuorCrypt, Decrypt_OtherOrMissingKeyFails) {
  for (bool otherKey : {true, false}) {
    SCOPED_TRACE(otherKey ? "other key" : "no key file");
    std::string encrypted;
    {
      TempRoot first;
      ASSERT_NE(0, NewEncryptStr("secret", encrypted));
    }
    TempRoot second;
    std::string unused;
    if (otherKey) {
      ASSERT_NE(0, NewEncryptStr("x", unused));  // makes a different key
    }
    LogCapture capture;
    auto text = buffer(encrypted);
    EXPECT_EQ(0, NewDecryptStr(text.data()));
    EXPECT_EQ(encrypted, text.data());
    const std::string want =
        otherKey ? "NewDecryptStr: encrypted credential could not be decrypted"
                 : "NewDecryptStr: could not read key file " +
                       second.config("credentials.key").string() + ": No such file or directory";
    EXPECT_EQ((std::vector<std::string>{want}), capture.texts(1));
  }
}

}  // namespace
