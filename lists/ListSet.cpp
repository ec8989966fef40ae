#include "lists/ListSet.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <utility>

#include "lists/ListFile.h"
#include "lists/LoadError.h"

namespace quor::lists {
namespace {

// Lists at least this large show progress on a terminal.
constexpr std::uintmax_t kLargeListBytes = 1u << 20;
constexpr std::size_t kAddProgressEvery = 1u << 16;

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
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

}  // namespace

ListSet::~ListSet() = default;

std::unique_ptr<ListSet> ListSet::load(const std::vector<std::string>& paths,
                                       const Options& options) {
  const bool terminal = options.showProgress && ::isatty(STDERR_FILENO) != 0;

  const auto checkCancel = [&options] {
    if (options.cancel != nullptr && options.cancel->load()) {
      throw LoadError(LoadError::Cancelled, "loading cancelled");
    }
  };

  // Read and check every file before building anything.
  std::vector<ListFile> files;
  for (const std::string& path : paths) {
    Progress progress(path, terminal);
    ListFile file = readListFile(path, [&](std::uint64_t bytes) {
      progress.read(bytes);
      checkCancel();
    });
    if (!file.ok()) {
      throw LoadError(file.errorLine == 0 ? LoadError::NotFound : LoadError::Malformed, file.error);
    }
    if (options.requireLineEnd && file.unterminated) {
      throw LoadError(LoadError::Refused, path +
                                              ": the last line has no line end: the file is still "
                                              "being written (write it beside and rename it)");
    }
    const std::size_t index = files.size();
    const ListSet* before = options.shrinkFrom;
    if (before != nullptr && index < before->size() &&
        file.entries.size() * 2 < before->entriesRead(index)) {
      throw LoadError(LoadError::Refused, path + ": would go from " +
                                              std::to_string(before->entriesRead(index)) +
                                              " entries to " + std::to_string(file.entries.size()) +
                                              ": more than half lost");
    }
    if (file.entries.empty() && options.warn) options.warn(path + ": no entries");
    files.push_back(std::move(file));
  }

  std::unique_ptr<ListSet> set(new ListSet());
  set->_table = std::make_unique<ZoStringtable>();
  for (const ListFile& file : files) {
    std::unique_ptr<ZoWildcardNode> root(new (std::nothrow) ZoWildcardRootNode(
        set->_table.get(), ZoStringtable::getConstEmptyIndexedString()));
    if (root == nullptr) {
      ZoWildcardEmail::clearLockOnInitQueue();
      throw LoadError(LoadError::Failed, "cannot create a pattern tree");
    }
    set->_roots.push_back(root.get());
    set->_owners.push_back(std::move(root));
    set->_names.push_back(file.name);
    set->_read.push_back(file.entries.size());
    auto& lines = set->_firstLine.emplace_back();

    Progress progress(file.name, terminal);
    std::size_t done = 0;
    for (const ListEntry& entry : file.entries) {
      const char* original = entry.original ? entry.original->c_str() : nullptr;
      const bool added = set->_roots.back()->addAddressPattern(
          entry.pattern.c_str(), static_cast<ZoEmailBelongsTo>(entry.membership), original,
          nullptr);
      if (added) {
        lines.emplace(lowerAscii(entry.pattern), entry.line);
        ++set->_entries;
      } else if (options.warn) {
        options.warn(file.name + ":" + std::to_string(entry.line) + ": entry '" + entry.pattern +
                     "' (" + membershipName(entry.membership) +
                     ") refused: it conflicts with an earlier entry of the same pattern in this "
                     "list");
      }
      progress.added(++done, file.entries.size());
      if (done % kAddProgressEvery == 0 && options.cancel != nullptr && options.cancel->load()) {
        // Nothing built so far may stay on the queue for a later load.
        ZoWildcardEmail::clearLockOnInitQueue();
        checkCancel();
      }
    }
  }
  // Locks the new table first (it registered first), then every node and
  // leaf of the new trees.
  ZoWildcardEmail::initScanTimeMode();
  return set;
}

ListAnswer ListSet::answer(const std::string& address, bool details) const {
  ListAnswer a;
  unsigned long tree = 0;
  const char* pattern = nullptr;
  ZoEmailBelongsTo membership{};
  a.result =
      ZoWildcardEmail::matchEmailAddress(address.c_str(), _roots, &tree, &pattern, &membership);
  if (a.result == NotListed || pattern == nullptr || tree >= _roots.size()) return a;

  a.listed = true;
  a.tree = tree;
  a.pattern = pattern;
  a.membership = membership;
  const auto& lines = _firstLine[tree];
  if (auto it = lines.find(a.pattern); it != lines.end()) a.line = it->second;
  if (!details) return a;
  // The matcher names the deciding pattern; its stored original text is on
  // the leaf, which the same search in the deciding tree finds again.
  std::vector<ZoListedEmailAddress*> leaves;
  _roots[tree]->findMatches(address.c_str(), leaves);
  for (const ZoListedEmailAddress* leaf : leaves) {
    const char* full = leaf->getFullAddressAsStr();
    if (full != nullptr && a.pattern == full && leaf->getMembership() == membership) {
      a.original = leaf->getOriginalAddress();
      break;
    }
  }
  return a;
}

}  // namespace quor::lists
