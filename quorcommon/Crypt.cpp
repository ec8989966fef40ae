#include "QuorCrypt.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
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

// Reads the key file. Returns 0, ENOENT when it does not exist, or another
// errno (EINVAL for a file of the wrong size).
int readKey(const std::string& path, Key& key) {
  std::string data;
  int err = quor::common::detail::readWholeFile(path, data, 4096);
  if (err != 0) return err;
  if (data.size() != kKeyBytes) {
    wipe(data.data(), data.size());
    return EINVAL;
  }
  std::memcpy(key.bytes, data.data(), kKeyBytes);
  wipe(data.data(), data.size());
  return 0;
}

// Reads the key, or makes a new one when none exists. Two processes racing
// here both end up with the key written by the winner.
int readOrCreateKey(const std::string& path, Key& key) {
  int err = readKey(path, key);
  if (err != ENOENT) return err;
  Key fresh;
  if (RAND_bytes(fresh.bytes, kKeyBytes) != 1) return EIO;
  err = quor::port::createPrivateFile(
      path, std::string_view(reinterpret_cast<const char*>(fresh.bytes), kKeyBytes));
  if (err == EEXIST) return readKey(path, key);
  if (err != 0) return err;
  std::memcpy(key.bytes, fresh.bytes, kKeyBytes);
  return 0;
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
  if (int err = readOrCreateKey(keyPath, key); err != 0) {
    PolicyLog::log(PolicyLog::Error, "NewEncryptStr: could not read or create key file %s: %s",
                   keyPath.c_str(), std::strerror(err));
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
  if (int err = keyPath.empty() ? ENOENT : readKey(keyPath, key); err != 0) {
    PolicyLog::log(PolicyLog::Error, "NewDecryptStr: could not read key file %s: %s",
                   keyPath.empty() ? "(QUOR_HOME not set)" : keyPath.c_str(), std::strerror(err));
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
