// Registration of the quorpolicy subcommands.
//
// Each group of commands lives in its own cmd_*.cpp and registers itself with
// a static CommandRegistration; main() adds every registered group to the
// command line in the order of their `order` values.
//
// A command reports failure by throwing CommandError with its exit status and
// message; main() prints "quorpolicy: <message>" to standard error and exits
// with that status.
#ifndef QUORPOLICY_TOOLS_QUORPOLICY_COMMAND_H_
#define QUORPOLICY_TOOLS_QUORPOLICY_COMMAND_H_

#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>

namespace quor::tool {

// Exit statuses shared by all commands.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,    // the operation failed (database, file system, ...)
  kExitBadInput = 2,   // malformed input or arguments
  kExitRefused = 3,    // the operation was refused (permission, rule, state)
  kExitNotFound = 4,   // the named thing does not exist
};

class CommandError : public std::runtime_error {
 public:
  CommandError(int status, const std::string& message)
      : std::runtime_error(message), _status(status) {}
  int status() const { return _status; }

 private:
  int _status;
};

using Registrar = void (*)(CLI::App& app);

struct CommandRegistration {
  CommandRegistration(int order, Registrar registrar);
};

// Calls every registrar in order. Used by main().
void registerAllCommands(CLI::App& app);

}  // namespace quor::tool

#endif  // QUORPOLICY_TOOLS_QUORPOLICY_COMMAND_H_
