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
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZoWildcardEmail.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/ListFile.h"

namespace quor::tool {
namespace {

// Lists at least this large show progress on a terminal.
constexpr std::uintmax_t kLargeListBytes = 1u << 20;
constexpr std::size_t kAddProgressEvery = 1u << 16;

struct MatchOptions {
  std::vector<std::string> lists;
  std::vector<std::string> addresses;
  bool json = false;
};

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

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

// Shows how far the loading of one large list has come, on one terminal line.
class Progress {
 public:
  Progress(const std::string& path, bool enabled) : _path(path), _enabled(enabled) {
    if (!_enabled) return;
    std::error_code ec;
    _size = std::filesystem::file_size(path, ec);
    if (ec || _size < kLargeListBytes) _enabled = false;
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() {
    if (_shown) std::fputc('\n', stderr);
  }

  void read(std::uint64_t bytes) {
    if (!_enabled) return;
    const auto percent = _size == 0 ? 100 : static_cast<unsigned>(bytes * 100 / _size);
    std::fprintf(stderr, "\rreading %s: %u%%   ", _path.c_str(), percent > 100 ? 100u : percent);
    _shown = true;
  }
  void added(std::size_t done, std::size_t total) {
    if (!_enabled || (done % kAddProgressEvery != 0 && done != total)) return;
    std::fprintf(stderr, "\radding %s: %zu of %zu entries   ", _path.c_str(), done, total);
    _shown = true;
  }

 private:
  std::string _path;
  bool _enabled;
  std::uintmax_t _size = 0;
  bool _shown = false;
};

struct TreeDeleter {
  void operator()(ZoWildcardNode* root) const { delete root; }
};

// The loaded lists: one tree per file, in precedence order, and for each tree
// the line on which each pattern was first listed.
class LoadedLists {
 public:
  std::vector<ZoWildcardNode*> roots;
  std::vector<std::unique_ptr<ZoWildcardNode, TreeDeleter>> owners;
  std::vector<std::string> names;
  std::vector<std::unordered_map<std::string, std::size_t>> firstLine;
};

void loadLists(const MatchOptions& options, LoadedLists& loaded) {
  const bool terminal = ::isatty(STDERR_FILENO) != 0;

  // Read and check every file before building anything.
  std::vector<ListFile> files;
  for (const std::string& path : options.lists) {
    Progress progress(path, terminal);
    ListFile file = readListFile(path, [&progress](std::uint64_t bytes) { progress.read(bytes); });
    if (!file.ok()) throw CommandError(file.errorLine == 0 ? kExitFailure : kExitBadInput, file.error);
    files.push_back(std::move(file));
  }

  for (const ListFile& file : files) {
    ZoWildcardNode* root = ZoWildcardEmail::makeNewTree();
    if (root == nullptr) throw CommandError(kExitFailure, "cannot create a pattern tree");
    loaded.owners.emplace_back(root);
    loaded.roots.push_back(root);
    loaded.names.push_back(file.name);
    auto& lines = loaded.firstLine.emplace_back();

    Progress progress(file.name, terminal);
    std::size_t done = 0;
    for (const ListEntry& entry : file.entries) {
      const char* original = entry.original ? entry.original->c_str() : nullptr;
      const bool added = root->addAddressPattern(entry.pattern.c_str(),
                                                 static_cast<ZoEmailBelongsTo>(entry.membership), original, nullptr);
      if (added) {
        lines.emplace(lowerAscii(entry.pattern), entry.line);
      } else {
        std::fprintf(stderr,
                     "quorpolicy: warning: %s:%zu: entry '%s' (%s) refused: it conflicts with an earlier entry "
                     "of the same pattern in this list\n",
                     file.name.c_str(), entry.line, entry.pattern.c_str(), membershipName(entry.membership).c_str());
      }
      progress.added(++done, file.entries.size());
    }
  }
  ZoWildcardEmail::initScanTimeMode();
}

// What decided one address.
struct Answer {
  ZoBlackWhiteListResult result = NotListed;
  bool listed = false;
  std::size_t tree = 0;
  std::string pattern;
  std::uint32_t membership = 0;
  std::size_t line = 0;
  std::string original;
};

Answer answer(LoadedLists& loaded, const std::string& address) {
  Answer a;
  unsigned long tree = 0;
  const char* pattern = nullptr;
  ZoEmailBelongsTo membership{};
  a.result = ZoWildcardEmail::matchEmailAddress(address.c_str(), loaded.roots, &tree, &pattern, &membership);
  if (a.result == NotListed || pattern == nullptr || tree >= loaded.roots.size()) return a;

  a.listed = true;
  a.tree = tree;
  a.pattern = pattern;
  a.membership = membership;
  const auto& lines = loaded.firstLine[tree];
  if (auto it = lines.find(a.pattern); it != lines.end()) a.line = it->second;
  // The matcher names the deciding pattern; its stored original text is on
  // the leaf, which the same search in the deciding tree finds again.
  std::vector<ZoListedEmailAddress*> leaves;
  loaded.roots[tree]->findMatches(address.c_str(), leaves);
  for (const ZoListedEmailAddress* leaf : leaves) {
    const char* full = leaf->getFullAddressAsStr();
    if (full != nullptr && a.pattern == full && leaf->getMembership() == membership) {
      a.original = leaf->getOriginalAddress();
      break;
    }
  }
  return a;
}

void printText(const LoadedLists& loaded, const std::string& address, const Answer& a) {
  std::string line = address + ": " + resultName(a.result) + " (" + std::to_string(a.result) + "), ";
  if (ZoWildcardEmail::isWhitelisted(a.result)) {
    line += "white-listed";
  } else if (ZoWildcardEmail::isBlacklisted(a.result)) {
    line += "black-listed";
  } else {
    line += "not listed";
  }
  if (a.listed) {
    line += " by \"" + a.pattern + "\" (" + membershipName(a.membership) + ") in " + loaded.names[a.tree];
    if (a.line != 0) line += " line " + std::to_string(a.line);
    if (!a.original.empty()) line += ", entered as \"" + a.original + "\"";
  }
  std::cout << line << '\n';
}

void printJson(const LoadedLists& loaded, const std::string& address, const Answer& a) {
  nlohmann::json out;
  out["address"] = address;
  out["result"] = resultName(a.result);
  out["value"] = static_cast<std::uint32_t>(a.result);
  out["whitelisted"] = ZoWildcardEmail::isWhitelisted(a.result);
  out["blacklisted"] = ZoWildcardEmail::isBlacklisted(a.result);
  out["bothNonOverrideableListsMatched"] = (a.result & BothNonOverrideableListsMatched) != 0;
  if (a.listed) {
    out["pattern"] = a.pattern;
    out["list"] = loaded.names[a.tree];
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

  LoadedLists loaded;
  loadLists(options, loaded);

  auto respond = [&](const std::string& address) {
    const Answer a = answer(loaded, address);
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
