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
//
//   quorpolicy match --db --recipient R [--home ROOT] [--json] [SENDER ...]
//
// decides the senders for recipient R from the sender lists bound to
// entities in the policy database of the installation root, and names the
// entity, group, member pattern and membership that decided.
#include <cstdio>
#include <iostream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "RdbmsInterface.h"
#include "ZoWildcardEmail.h"
#include "lists/AddressNorm.h"
#include "lists/ListFile.h"
#include "lists/ListSet.h"
#include "lists/db/DbPolicy.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

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
  bool db = false;
  std::string recipient;
  std::string home;
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

// Every address given, or every line of standard input that is neither blank
// nor a "#" comment.
void forEachAddress(const MatchOptions& options, const std::function<void(const std::string&)>& f) {
  if (!options.addresses.empty()) {
    for (const std::string& address : options.addresses) f(address);
    return;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto last = line.find_last_not_of(" \t\r");
    f(line.substr(first, last - first + 1));
  }
}

std::string sideOf(ZoBlackWhiteListResult result) {
  if (ZoWildcardEmail::isWhitelisted(result)) return "white-listed";
  if (ZoWildcardEmail::isBlacklisted(result)) return "black-listed";
  return "not listed";
}

void runMatchDb(const MatchOptions& options) {
  if (!options.lists.empty())
    throw CommandError(kExitBadInput, "match: --db and --list do not go together");
  if (options.recipient.empty()) throw CommandError(kExitBadInput, "match: --db needs --recipient");
  openRootDatabase(options.home);
  std::unique_ptr<const lists::DbPolicy> policy;
  try {
    QUOR::RdbmsInterface db;
    policy = lists::DbPolicy::build(lists::readDbPolicy(db));
  } catch (const std::runtime_error& e) {
    throw CommandError(kExitFailure, std::string("match: ") + e.what());
  }
  const std::string recipient = normalizeAddress(options.recipient);
  forEachAddress(options, [&](const std::string& sender) {
    const lists::DbDecision d = policy->decide(normalizeAddress(sender), recipient);
    if (options.json) {
      nlohmann::json out = {{"sender", sender},
                            {"recipient", options.recipient},
                            {"result", resultName(d.result)},
                            {"value", static_cast<std::uint32_t>(d.result)},
                            {"whitelisted", ZoWildcardEmail::isWhitelisted(d.result)},
                            {"blacklisted", ZoWildcardEmail::isBlacklisted(d.result)},
                            {"scopes", d.scopes},
                            {"lists", d.lists},
                            {"policyVersion", policy->version()}};
      for (const char* key :
           {"entity", "entityName", "group", "groupName", "pattern", "membership"}) {
        out[key] = nullptr;
      }
      if (d.listed) {
        out["entity"] = d.entity;
        out["entityName"] = d.entityName;
        out["group"] = d.group;
        out["groupName"] = d.groupName;
        out["pattern"] = d.pattern;
        out["membership"] = d.membership;
      }
      std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
      return;
    }
    std::string line = sender + " to " + options.recipient + ": " + resultName(d.result) + " (" +
                       std::to_string(d.result) + "), " + sideOf(d.result);
    if (d.listed) {
      line += " by \"" + d.pattern + "\" (" + d.membership + ") in group " +
              std::to_string(d.group) + " (" + d.groupName + ") of entity " +
              std::to_string(d.entity) + " (" + d.entityName + ")";
    } else {
      line += " (entities covering the recipient: " + std::to_string(d.scopes) +
              ", lists: " + std::to_string(d.lists) + ")";
    }
    std::cout << line << '\n';
  });
  std::cout.flush();
  if (!std::cout) throw CommandError(kExitFailure, "match: cannot write the answers");
}

void runMatch(const MatchOptions& options) {
  if (options.db) {
    runMatchDb(options);
    return;
  }
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
  cmd->add_flag("--db", options->db,
                "Decide from the sender lists bound to entities in the policy database");
  cmd->add_option("--recipient", options->recipient, "With --db: the recipient whose lists decide");
  cmd->add_option("--home", options->home, "With --db: installation root (default: $QUOR_HOME)");
  cmd->add_option("addresses", options->addresses,
                  "Addresses to decide; without any, one address per line is read from standard input (blank lines and # comments skipped)");
  cmd->callback([options] { runMatch(*options); });
}

const CommandRegistration kRegistration(20, registerMatch);

}  // namespace
}  // namespace quor::tool
