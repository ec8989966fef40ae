// Commands of the common runtime: encrypt-password.
//
//   quorpolicy encrypt-password
// reads a password (without echo, asked twice, when standard input is a
// terminal; otherwise the first line of standard input), encrypts it under
// the installation's credential key (creating <QUOR_HOME>/config/
// credentials.key with mode 0600 when missing) and prints the "ENC1:" text
// to put into a configuration file, e.g. as Password= of database.ini.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "QuorCrypt.h"
#include "port/PortFile.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {
namespace {

std::string readPassword() {
  const bool terminal = port::stdinIsTerminal();
  std::string first;
  if (terminal) std::fputs("Password: ", stderr);
  if (!port::readLineNoEcho(first)) throw CommandError(kExitBadInput, "no password given");
  if (terminal) {
    std::string again;
    std::fputs("Password again: ", stderr);
    if (!port::readLineNoEcho(again) || again != first) {
      throw CommandError(kExitBadInput, "the passwords do not match");
    }
  }
  if (first.empty()) throw CommandError(kExitBadInput, "the password is empty");
  return first;
}

void encryptPassword() {
  const char* home = std::getenv("QUOR_HOME");
  if (home == nullptr || *home == '\0') {
    throw CommandError(kExitFailure, "QUOR_HOME is not set");
  }
  std::string password = readPassword();
  std::string encrypted;
  if (NewEncryptStr(password.c_str(), encrypted) == 0) {
    throw CommandError(kExitFailure, "could not encrypt with key file " + credentialKeyFilePath());
  }
  std::printf("%s\n", encrypted.c_str());
}

void registerCommon(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "encrypt-password",
      "Encrypt a password for a configuration file (reads it from the terminal or standard "
      "input; prints the ENC1: text)");
  cmd->callback(encryptPassword);
}

const CommandRegistration registration(70, registerCommon);

}  // namespace
}  // namespace quor::tool
