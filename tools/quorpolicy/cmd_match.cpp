// quorpolicy match: decides for addresses whether they are white-listed,
// black-listed or not listed across black and white list files.
//
//   quorpolicy match --list FIRST.list [--list NEXT.list ...] [--json] [ADDRESS ...]
//
// Each --list file becomes one pattern tree; the first is the strongest. All
// files are read and checked before any tree is built, so a malformed line
// (exit status 2) stops the command before anything is matched. Entries the
// tree refuses are reported as warnings with file and line and skipped. The
// trees are then frozen, and every address given as an argument (or, without
// any, every line of standard input that is neither blank nor a "#" comment)
// is answered with one line of text or one JSON object.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ZoWildcardEmail.h"
#include "lists/AddressNorm.h"
#include "lists/ListFile.h"
#include "lists/ListSet.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {
namespace {

using lists::ListAnswer;
using lists::ListSet;
using lists::membershipName;
using lists::normalizeAddress;

struct MatchOptions {
  std::vector<std::string> lists;
  std::vector<std::string> addresses;
  bool json = false;
};

std::string resultName(ZoBlackWhiteListResult result) {
  const std::uint32_t flag = BothNonOverrideableListsMatched;
  std::string name;
  switch (result & ~flag) {
    case NotListed: name = "NotListed"; break;
    case Whitelisted: name = "Whitelisted"; break;
    case Blacklisted: name = "Blacklisted"; break;
    case EqualWeightWhitelisted: name = "EqualWeightWhitelisted"; break;
    default: name = std::to_string(result & ~flag); break;
  }
  if ((result & flag) != 0) name += "+BothNonOverrideableListsMatched";
  return name;
}

void printText(const ListSet& loaded, const std::string& address, const ListAnswer& a) {
  std::string line = address + ": " + resultName(a.result) + " (" + std::to_string(a.result) + "), ";
  if (ZoWildcardEmail::isWhitelisted(a.result)) {
    line += "white-listed";
  } else if (ZoWildcardEmail::isBlacklisted(a.result)) {
    line += "black-listed";
  } else {
    line += "not listed";
  }
  if (a.listed) {
    line += " by \"" + a.pattern + "\" (" + membershipName(a.membership) + ") in " + loaded.name(a.tree);
    if (a.line != 0) line += " line " + std::to_string(a.line);
    if (!a.original.empty()) line += ", entered as \"" + a.original + "\"";
  }
  std::cout << line << '\n';
}

void printJson(const ListSet& loaded, const std::string& address, const ListAnswer& a) {
  nlohmann::json out;
  out["address"] = address;
  out["result"] = resultName(a.result);
  out["value"] = static_cast<std::uint32_t>(a.result);
  out["whitelisted"] = ZoWildcardEmail::isWhitelisted(a.result);
  out["blacklisted"] = ZoWildcardEmail::isBlacklisted(a.result);
  out["bothNonOverrideableListsMatched"] = (a.result & BothNonOverrideableListsMatched) != 0;
  if (a.listed) {
    out["pattern"] = a.pattern;
    out["list"] = loaded.name(a.tree);
    out["listIndex"] = a.tree;
    out["line"] = a.line == 0 ? nlohmann::json() : nlohmann::json(a.line);
    out["membership"] = membershipName(a.membership);
    out["membershipValue"] = a.membership;
    out["original"] = a.original.empty() ? nlohmann::json() : nlohmann::json(a.original);
  } else {
    for (const char* key : {"pattern", "list", "listIndex", "line", "membership", "membershipValue", "original"}) {
      out[key] = nullptr;
    }
  }
  // Invalid UTF-8 in an address or list text is replaced rather than thrown.
  std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void runMatch(const MatchOptions& options) {
  if (options.lists.empty()) throw CommandError(kExitBadInput, "match: at least one --list FILE is required");

  ListSet::Options load;
  load.showProgress = true;
  load.warn = [](const std::string& text) {
    std::fprintf(stderr, "quorpolicy: warning: %s\n", text.c_str());
  };
  const std::unique_ptr<ListSet> lists = ListSet::load(options.lists, load);
  const ListSet& loaded = *lists;

  auto respond = [&](const std::string& address) {
    // Entries were read in the compared form; the address is brought to it
    // too, so that "u@a.b." and a Unicode domain decide as their lists do.
    const ListAnswer a = loaded.answer(normalizeAddress(address));
    if (options.json) {
      printJson(loaded, address, a);
    } else {
      printText(loaded, address, a);
    }
  };

  if (!options.addresses.empty()) {
    for (const std::string& address : options.addresses) respond(address);
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      const auto first = line.find_first_not_of(" \t\r");
      if (first == std::string::npos || line[first] == '#') continue;
      const auto last = line.find_last_not_of(" \t\r");
      respond(line.substr(first, last - first + 1));
    }
  }
  std::cout.flush();
  if (!std::cout) throw CommandError(kExitFailure, "match: cannot write the answers");
}

void registerMatch(CLI::App& app) {
  auto options = std::make_shared<MatchOptions>();
  CLI::App* cmd = app.add_subcommand(
      "match", "Decide whether addresses are white-listed, black-listed or not listed across list files");
  cmd->add_option("-l,--list", options->lists,
                  "A list file; repeat for several lists, the strongest first")
      ->allow_extra_args(false);
  cmd->add_flag("--json", options->json, "Print one JSON object per address");
  cmd->add_option("addresses", options->addresses,
                  "Addresses to decide; without any, one address per line is read from standard input (blank lines and # comments skipped)");
  cmd->callback([options] { runMatch(*options); });
}

const CommandRegistration kRegistration(20, registerMatch);

}  // namespace
}  // namespace quor::tool
