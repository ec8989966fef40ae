// Stored credentials: encryption and in-place decryption of passwords kept in
// configuration files.
//
// An encrypted credential is the text "ENC1:" followed by the base64 form of
// nonce (12 bytes) | ciphertext | tag (16 bytes), made with AES-256-GCM under
// the key in "<QUOR_HOME>/config/credentials.key" (32 random bytes, created
// with mode 0600 by the first encryption). Any text without the "ENC1:"
// prefix is a plain credential and is left alone, so plain passwords keep
// working.
//
// Thread safety: both functions may be called from any thread.
#ifndef QUORPOLICY_INCLUDE_QUORCRYPT_H_
#define QUORPOLICY_INCLUDE_QUORCRYPT_H_

#include <string>

#include "QuorExport.h"

// Decrypts an "ENC1:" credential in place; the clear text is never longer
// than the stored text. Returns non-zero when `text` now holds the clear
// text. Returns 0 and leaves `text` unchanged for a null pointer, a plain
// text, and (logged as an error) a marked text that does not decrypt: bad
// base64, wrong length, a missing or wrong key file, or a failed tag check.
QUOR_COMMON_API int NewDecryptStr(char* text);

// Encrypts `plain` into the "ENC1:" form, creating the key file (mode 0600)
// when it does not exist. Returns non-zero on success; 0 (logged) when
// QUOR_HOME is unset, the key file cannot be read or created, or `plain` is
// null. `encrypted` is set only on success.
QUOR_COMMON_API int NewEncryptStr(const char* plain, std::string& encrypted);

// The full path of the key file, native separators; empty when QUOR_HOME is
// unset.
QUOR_COMMON_API std::string credentialKeyFilePath();

#endif  // QUORPOLICY_INCLUDE_QUORCRYPT_H_
