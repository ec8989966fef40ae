#include "QuorCrypt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;

// Decrypts a copy of `text`: the plain text, or "<failed>" when
// NewDecryptStr reports a failure (and then must leave the text as it was).
std::string decrypt(const std::string& text) {
  std::vector<char> b(text.begin(), text.end());
  b.push_back('\0');
  if (NewDecryptStr(b.data()) != 0) return b.data();
  return text == b.data() ? "<failed>" : "<failed, text changed>";
}

TEST(QuorCrypt, RoundTrip_DecryptsInPlaceAndMakesPrivateKey) {
  TempRoot root;
  const char* passwords[] = {"secret", "", "a much longer password of more than one cipher block"};
  for (const char* password : passwords) {
    SCOPED_TRACE(password);
    std::string encrypted, again;
    ASSERT_NE(0, NewEncryptStr(password, encrypted));
    ASSERT_NE(0, NewEncryptStr(password, again));
    EXPECT_NE(encrypted, again);  // fresh randomness each time
    EXPECT_EQ(0u, encrypted.rfind("ENC1:", 0));
    EXPECT_EQ(std::string::npos, encrypted.find(password[0] != '\0' ? password : "\x01"));
    EXPECT_EQ(password, decrypt(encrypted));
  }
  struct stat st {};
  ASSERT_EQ(0, ::stat(root.config("credentials.key").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
  EXPECT_EQ(32, st.st_size);
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
      {"data after padding", good.substr(0, good.size() - 2) + "=A", kMalformed},
      {"not base64", "ENC1:!!!!", kMalformed},
      {"too short", "ENC1:AAAA", kMalformed},
      {"empty body", "ENC1:", kMalformed},
      {"plain text: not marked", "enc1:secret", nullptr},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LogCapture capture;
    EXPECT_EQ("<failed>", decrypt(t.text));
    EXPECT_EQ(t.message != nullptr ? std::vector<std::string>{t.message} : std::vector<std::string>{},
              capture.texts(1));
  }
  EXPECT_EQ(0, NewDecryptStr(nullptr));
}

// A credential made under one installation root, read under another that
// has no key file.
TEST(QuorCrypt, Decrypt_MissingKeyFails) {
  std::string encrypted;
  {
    TempRoot first;
    ASSERT_NE(0, NewEncryptStr("secret", encrypted));
  }
  TempRoot second;
  LogCapture capture;
  EXPECT_EQ("<failed>", decrypt(encrypted));
  EXPECT_EQ((std::vector<std::string>{"NewDecryptStr: could not read key file " +
                                      second.config("credentials.key").string() +
                                      ": No such file or directory"}),
            capture.texts(1));
}

// Processes that all make the key at first use agree on one whole key:
// each one's credential decrypts with the key left on disk.
TEST(QuorCrypt, Encrypt_RacingProcessesShareOneWholeKey) {
  constexpr int kRounds = 30;
  constexpr int kProcesses = 8;
  for (int round = 0; round < kRounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempRoot root;
    int start[2];
    ASSERT_EQ(0, ::pipe(start));
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      children.push_back(quor::test::spawnChild([&] {
        ::close(start[1]);
        char go;
        if (::read(start[0], &go, 1) != 0) return 2;  // released when the pipe closes
        std::string encrypted;
        if (NewEncryptStr(("secret" + std::to_string(i)).c_str(), encrypted) == 0) return 1;
        TempRoot::write(root.root() / ("out" + std::to_string(i)), encrypted);
        return 0;
      }));
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t child : children) EXPECT_EQ(0, quor::test::waitExit(child));
    for (int i = 0; i < kProcesses; ++i) {
      EXPECT_EQ("secret" + std::to_string(i),
                decrypt(TempRoot::read(root.root() / ("out" + std::to_string(i)))));
    }
    EXPECT_EQ(32u, std::filesystem::file_size(root.config("credentials.key")));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(root.root() / "config"), {}))
        << "no temporary file left";
  }
}

// A key file others may read is refused, as is one of the wrong size; the
// latter is replaced once it has stopped changing, since a key of the wrong
// size never encrypted anything.
TEST(QuorCrypt, KeyFile_OpenOrShortKeysAreRefusedOrReplaced) {
  const std::string key32(32, 'k');
  const struct {
    const char* name;
    std::string key;
    unsigned mode;
    int ageSecs;
    bool encrypts;
    const char* message;  // %s: the key file's path; null: none
  } cases[] = {
      {"readable by others", key32, 0644, 3600, false,
       "NewEncryptStr: key file %s may be read by group or others (mode 0644) and is not used; "
       "make it private with \"chmod 600 %s\""},
      {"group may write", key32, 0620, 3600, false,
       "NewEncryptStr: key file %s may be read by group or others (mode 0620) and is not used; "
       "make it private with \"chmod 600 %s\""},
      {"empty, left long ago", "", 0600, 3600, true, nullptr},
      {"short, left long ago", "abc", 0600, 3600, true, nullptr},
      {"empty, just made", "", 0600, 0, false,
       "NewEncryptStr: key file %s holds 0 bytes instead of 32; it changed within the last "
       "minute and may still be being written, so it is left alone"},
      {"as long as a key file may be, just made", std::string(4096, 'k'), 0600, 0, false,
       "NewEncryptStr: key file %s holds 4096 bytes instead of 32; it changed within the last "
       "minute and may still be being written, so it is left alone"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempRoot root;
    const std::string path = root.config("credentials.key").string();
    TempRoot::write(path, c.key);
    ASSERT_EQ(0, ::chmod(path.c_str(), c.mode));
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(c.ageSecs));
    LogCapture capture;
    std::string encrypted;
    EXPECT_EQ(c.encrypts, NewEncryptStr("secret", encrypted) != 0);
    std::string want;
    if (c.message != nullptr) {
      want = c.message;
      for (auto at = want.find("%s"); at != std::string::npos; at = want.find("%s")) {
        want.replace(at, 2, path);
      }
      EXPECT_EQ((std::vector<std::string>{want}), capture.texts(1));
      EXPECT_EQ(c.key, TempRoot::read(path));
      continue;
    }
    EXPECT_TRUE(capture.texts(1).empty());
    EXPECT_EQ(32u, TempRoot::read(path).size());
    EXPECT_EQ("secret", decrypt(encrypted));
  }
}

}  // namespace
