#include "QuorCrypt.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "PolicyLog.h"
#include "port/Port.h"
#include "port/PortFile.h"
#include "quorcommon/detail/Files.h"

namespace {

constexpr std::string_view kMarker = "ENC1:";
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kNonceBytes = 12;
constexpr std::size_t kTagBytes = 16;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherCtx newCtx() { return CipherCtx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free); }

// Scrubs a key or clear text before its memory is released.
void wipe(void* data, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size-- > 0) *p++ = 0;
}

struct Key {
  unsigned char bytes[kKeyBytes] = {};
  ~Key() { wipe(bytes, sizeof bytes); }
};

// What reading the key file found.
enum class KeyFile { Ok, Missing, TooOpen, WrongSize, Failed };

struct KeyRead {
  KeyFile state = KeyFile::Failed;
  int err = 0;                 // Failed: the errno
  unsigned mode = 0;           // TooOpen: the permission bits
  std::size_t size = 0;        // WrongSize: the bytes found
  bool recentlyChanged = false;  // WrongSize: changed within kKeyRepairAge
};

// A key file of the wrong size is replaced only when it has not changed for
// this long: an older version of this library made the file first and wrote
// the key into it afterwards, so a young short file may still be filling up.
constexpr std::chrono::seconds kKeyRepairAge{60};

// Reads the key file. Like a private SSH key, a key file that its group or
// other users may access is refused.
KeyRead readKey(const std::string& path, Key& key) {
  namespace fs = std::filesystem;
  KeyRead r;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec) {
    r.state = ec == std::errc::no_such_file_or_directory ? KeyFile::Missing : KeyFile::Failed;
    r.err = ec.value();
    return r;
  }
  const fs::perms shared = fs::perms::group_all | fs::perms::others_all;
  if (fs::is_regular_file(st) && (st.permissions() & shared) != fs::perms::none) {
    r.state = KeyFile::TooOpen;
    r.mode = static_cast<unsigned>(st.permissions() & fs::perms::mask);
    return r;
  }
  std::string data;
  if (r.err = quor::common::detail::readWholeFile(path, data, 4096); r.err != 0) return r;
  if (data.size() != kKeyBytes) {
    wipe(data.data(), data.size());
    r.state = KeyFile::WrongSize;
    r.size = data.size();
    const auto changed = fs::last_write_time(path, ec);
    r.recentlyChanged = ec || fs::file_time_type::clock::now() - changed < kKeyRepairAge;
    return r;
  }
  std::memcpy(key.bytes, data.data(), kKeyBytes);
  wipe(data.data(), data.size());
  r.state = KeyFile::Ok;
  return r;
}

// Logs why the key could not be had, as the operation `where`.
void logKeyProblem(const char* where, const std::string& path, const KeyRead& r) {
  switch (r.state) {
    case KeyFile::TooOpen:
      PolicyLog::log(PolicyLog::Error,
                     "%s: key file %s may be read by group or others (mode %04o) and is not "
                     "used; make it private with \"chmod 600 %s\"",
                     where, path.c_str(), r.mode, path.c_str());
      break;
    case KeyFile::WrongSize:
      PolicyLog::log(PolicyLog::Error, "%s: key file %s holds %zu bytes instead of %zu%s", where,
                     path.c_str(), r.size, kKeyBytes,
                     r.recentlyChanged ? "; it changed within the last minute and may still be "
                                         "being written, so it is left alone"
                                       : "");
      break;
    default:
      PolicyLog::log(PolicyLog::Error, "%s: could not read key file %s: %s", where, path.c_str(),
                     std::strerror(r.err != 0 ? r.err : EIO));
      break;
  }
}

std::string_view keyText(const Key& key) {
  return std::string_view(reinterpret_cast<const char*>(key.bytes), kKeyBytes);
}

// Reads the key, or makes a new one when none exists. The new key is
// published whole with a link, so processes racing here never read a
// partial key and all end up with the first one published. A key file of
// the wrong size (left by an older version) cannot have encrypted anything,
// so it is replaced, under a lock that makes every repairer use the same
// new key, once it has stopped changing.
KeyRead readOrCreateKey(const std::string& path, Key& key) {
  KeyRead r = readKey(path, key);
  if (r.state == KeyFile::Missing) {
    Key fresh;
    if (RAND_bytes(fresh.bytes, kKeyBytes) != 1) return KeyRead{KeyFile::Failed, EIO};
    int err = quor::port::createPrivateFileAtomically(path, keyText(fresh));
    if (err == EEXIST) return readKey(path, key);
    if (err != 0) return KeyRead{KeyFile::Failed, err};
    std::memcpy(key.bytes, fresh.bytes, kKeyBytes);
    return KeyRead{KeyFile::Ok};
  }
  if (r.state != KeyFile::WrongSize || r.recentlyChanged) return r;
  quor::port::FileLock lock(path + ".lock");
  if (int err = lock.lock(); err != 0) return KeyRead{KeyFile::Failed, err};
  if (r = readKey(path, key); r.state != KeyFile::WrongSize || r.recentlyChanged) return r;
  Key fresh;
  if (RAND_bytes(fresh.bytes, kKeyBytes) != 1) return KeyRead{KeyFile::Failed, EIO};
  if (int err = quor::port::replaceFileDurably(path, keyText(fresh)); err != 0) {
    return KeyRead{KeyFile::Failed, err};
  }
  PolicyLog::log(PolicyLog::Warning,
                 "key file %s held %zu bytes instead of %zu and was replaced by a new key",
                 path.c_str(), r.size, kKeyBytes);
  std::memcpy(key.bytes, fresh.bytes, kKeyBytes);
  return KeyRead{KeyFile::Ok};
}

std::string base64Encode(const unsigned char* data, std::size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data,
                          static_cast<int>(size));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Strict base64 decoding: length a multiple of 4, only the base64 alphabet,
// '=' padding at the end only. Returns false otherwise.
bool base64Decode(std::string_view text, std::vector<unsigned char>& out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  std::size_t pad = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '+' || c == '/';
    if (c == '=') {
      if (i < text.size() - 2) return false;
      ++pad;
    } else if (!alpha || pad > 0) {
      return false;
    }
  }
  out.assign(text.size() / 4 * 3, 0);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0 || static_cast<std::size_t>(n) < pad) return false;
  out.resize(static_cast<std::size_t>(n) - pad);
  return true;
}

}  // namespace

std::string credentialKeyFilePath() {
  std::string root = quor::common::detail::quorHomeDir();
  if (root.empty()) return {};
  return root + quor::port::kPathSeparator + "config" + quor::port::kPathSeparator +
         "credentials.key";
}

int NewEncryptStr(const char* plain, std::string& encrypted) {
  if (plain == nullptr) return 0;
  std::string keyPath = credentialKeyFilePath();
  if (keyPath.empty()) {
    PolicyLog::log(PolicyLog::Error, "NewEncryptStr: Environment variable \"QUOR_HOME\" not set");
    return 0;
  }
  Key key;
  if (KeyRead r = readOrCreateKey(keyPath, key); r.state != KeyFile::Ok) {
    if (r.state == KeyFile::Failed) {
      PolicyLog::log(PolicyLog::Error, "NewEncryptStr: could not read or create key file %s: %s",
                     keyPath.c_str(), std::strerror(r.err != 0 ? r.err : EIO));
    } else {
      logKeyProblem("NewEncryptStr", keyPath, r);
    }
    return 0;
  }
  const std::size_t plainLen = std::strlen(plain);
  std::vector<unsigned char> blob(kNonceBytes + plainLen + kTagBytes);
  unsigned char* nonce = blob.data();
  unsigned char* cipher = nonce + kNonceBytes;
  unsigned char* tag = cipher + plainLen;
  if (RAND_bytes(nonce, kNonceBytes) != 1) return 0;

  CipherCtx ctx = newCtx();
  int len = 0;
  bool ok = ctx != nullptr &&
            EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes, nonce) == 1 &&
            EVP_EncryptUpdate(ctx.get(), cipher, &len, reinterpret_cast<const unsigned char*>(plain),
                              static_cast<int>(plainLen)) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagBytes),
                                tag) == 1;
  if (!ok) {
    PolicyLog::log(PolicyLog::Error, "NewEncryptStr: encryption failed");
    return 0;
  }
  encrypted = std::string(kMarker) + base64Encode(blob.data(), blob.size());
  return 1;
}

int NewDecryptStr(char* text) {
  if (text == nullptr) return 0;
  const std::size_t textLen = std::strlen(text);
  std::string_view view(text, textLen);
  if (view.substr(0, kMarker.size()) != kMarker) return 0;

  std::vector<unsigned char> blob;
  if (!base64Decode(view.substr(kMarker.size()), blob) || blob.size() < kNonceBytes + kTagBytes) {
    PolicyLog::log(PolicyLog::Error, "NewDecryptStr: encrypted credential is malformed");
    return 0;
  }
  std::string keyPath = credentialKeyFilePath();
  Key key;
  if (keyPath.empty()) {
    PolicyLog::log(PolicyLog::Error, "NewDecryptStr: could not read key file %s: %s",
                   "(QUOR_HOME not set)", std::strerror(ENOENT));
    return 0;
  }
  if (KeyRead r = readKey(keyPath, key); r.state != KeyFile::Ok) {
    // Decrypting never repairs a key: a new key decrypts nothing.
    r.recentlyChanged = false;
    logKeyProblem("NewDecryptStr", keyPath, r);
    return 0;
  }
  const std::size_t cipherLen = blob.size() - kNonceBytes - kTagBytes;
  unsigned char* nonce = blob.data();
  unsigned char* cipher = nonce + kNonceBytes;
  unsigned char* tag = cipher + cipherLen;
  std::vector<unsigned char> clear(cipherLen + 1, 0);

  CipherCtx ctx = newCtx();
  int len = 0;
  int total = 0;
  bool ok = ctx != nullptr &&
            EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes, nonce) == 1 &&
            EVP_DecryptUpdate(ctx.get(), clear.data(), &len, cipher,
                              static_cast<int>(cipherLen)) == 1;
  total = len;
  ok = ok &&
       EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagBytes), tag) ==
           1 &&
       EVP_DecryptFinal_ex(ctx.get(), clear.data() + total, &len) == 1;
  // A clear text with a NUL inside cannot be a credential handed over as a
  // C string.
  ok = ok && std::memchr(clear.data(), '\0', cipherLen) == nullptr;
  if (!ok) {
    wipe(clear.data(), clear.size());
    PolicyLog::log(PolicyLog::Error, "NewDecryptStr: encrypted credential could not be decrypted");
    return 0;
  }
  // The base64 text is longer than the ciphertext, so this always fits.
  std::memcpy(text, clear.data(), cipherLen);
  std::memset(text + cipherLen, 0, textLen - cipherLen + 1);
  wipe(clear.data(), clear.size());
  return 1;
}
