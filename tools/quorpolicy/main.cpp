// quorpolicy: the command-line tool of the policy library.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "lists/LoadError.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {
namespace {

// Failure texts of drivers and servers may run over several lines; a
// command's failure is reported on one.
std::string oneLine(const std::string& text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return out;
}

// A malformed list file is bad input; anything else that stops a load is a
// failure.
int exitStatus(const lists::LoadError& e) {
  return e.kind() == lists::LoadError::Malformed ? kExitBadInput : kExitFailure;
}

int exitStatus(const CommandError& e) { return e.status(); }

// Prints the failure of a command on one line and gives its exit status.
template <typename Error>
int fail(const Error& e) {
  std::fprintf(stderr, "quorpolicy: %s\n", oneLine(e.what()).c_str());
  return exitStatus(e);
}

std::vector<std::pair<int, Registrar>>& registry() {
  static std::vector<std::pair<int, Registrar>> entries;
  return entries;
}
}  // namespace

CommandRegistration::CommandRegistration(int order, Registrar registrar) {
  registry().emplace_back(order, registrar);
}

void registerAllCommands(CLI::App& app) {
  auto entries = registry();
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& entry : entries) entry.second(app);
}

}  // namespace quor::tool

int main(int argc, char** argv) {
  CLI::App app{
      "quorpolicy: black/white list matching, policy objects and policy server settings of the "
      "mail-security gateway"};
  app.set_version_flag("--version", std::string("quorpolicy ") + QUORPOLICY_VERSION);
  app.require_subcommand(0, 1);
  quor::tool::registerAllCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const quor::tool::CommandError& e) {
    return quor::tool::fail(e);
  } catch (const quor::lists::LoadError& e) {
    return quor::tool::fail(e);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorpolicy: %s\n", e.what());
    return quor::tool::kExitFailure;
  }
  if (app.get_subcommands().empty()) {
    std::fputs(app.help().c_str(), stdout);
  }
  return quor::tool::kExitOk;
}
