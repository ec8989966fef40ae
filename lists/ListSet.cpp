#include "lists/ListSet.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <thread>
#include <utility>

#include "lists/ListFile.h"
#include "lists/LoadError.h"

namespace quor::lists {
namespace {

// Lists at least this large show progress on a terminal.
constexpr std::uintmax_t kLargeListBytes = 1u << 20;
constexpr std::size_t kAddProgressEvery = 1u << 16;

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

ListSet::~ListSet() {
  // Trees first, then the table their names live in.
  _owners.clear();
  _roots.clear();
  _table.reset();
  _firstLine.clear();
  _firstLine.shrink_to_fit();
  // The table's chunks went back to the system with it; what the trees
  // kept on the heap (vectors of children and leaves, lookup aids) leaves
  // pages empty all over it: hand those back too rather than keep them for
  // a reload that may be minutes away.
  ::malloc_trim(0);
}

std::unique_ptr<ListSet> ListSet::load(const std::vector<std::string>& paths,
                                       const Options& options) {
  // Blocks from 1 MiB up get mappings of their own, returned to the system
  // when freed: a generation's chunks, indexes and file buffers. (glibc
  // would otherwise raise that threshold after the first such block is
  // freed, and the next generation's chunks would stay in the heap.)
  static const bool pinned = ::mallopt(M_MMAP_THRESHOLD, 1 << 20) != 0;
  (void)pinned;
  // Threads that parse one large file; building stays on this thread.
  constexpr unsigned kMostParseThreads = 4;
  const bool terminal = options.showProgress && ::isatty(STDERR_FILENO) != 0;

  const auto checkCancel = [&options] {
    if (options.cancel != nullptr && options.cancel->load()) {
      throw LoadError(LoadError::Cancelled, "loading cancelled");
    }
  };
  const unsigned threads =
      std::max(1u, std::min(kMostParseThreads, std::thread::hardware_concurrency()));

  // Read and check every file before building anything.
  std::vector<ListText> files;
  for (const std::string& path : paths) {
    Progress progress(path, terminal);
    ListText file = readListText(
        path,
        [&](std::uint64_t bytes) {
          progress.read(bytes);
          checkCancel();
        },
        threads);
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
  ZoStringtable* const table = set->_table.get();
  // Per list, the table element of each added pattern and its line; turned
  // into ordinals once the table is locked.
  std::vector<std::vector<std::pair<const ZoIndexedString*, std::size_t>>> firsts;
  std::string lowered;
  for (ListText& file : files) {
    std::unique_ptr<ZoWildcardNode> root(
        new (std::nothrow) ZoWildcardRootNode(table, ZoStringtable::getConstEmptyIndexedString()));
    if (root == nullptr) {
      ZoWildcardEmail::clearLockOnInitQueue();
      throw LoadError(LoadError::Failed, "cannot create a pattern tree");
    }
    set->_roots.push_back(root.get());
    set->_owners.push_back(std::move(root));
    set->_names.push_back(file.name);
    set->_read.push_back(file.entries.size());
    auto& lines = firsts.emplace_back();
    lines.reserve(file.entries.size());

    Progress progress(file.name, terminal);
    std::size_t done = 0;
    for (const ListEntryRef& entry : file.entries) {
      const bool added = set->_roots.back()->addAddressPattern(
          entry.pattern, static_cast<ZoEmailBelongsTo>(entry.membership), entry.original, nullptr);
      if (added) {
        // The tree interned the lower-cased pattern as the leaf's full
        // address (or kept the one of an earlier pattern of the same leaf).
        lowered.assign(entry.pattern);
        for (char& c : lowered) c = lowerAscii(c);
        const ZoIndexedString* element = table->getRef(lowered.c_str());
        if (element->isInStringtable()) {
          lines.emplace_back(element, entry.line);
        } else {
          ZoStringtable::cleanupReference(element);
        }
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
    // The file's text is in the tree now.
    file = ListText();
  }
  // Locks the new table first (it registered first), then every node and
  // leaf of the new trees.
  ZoWildcardEmail::initScanTimeMode();

  for (auto& lines : firsts) {
    auto& out = set->_firstLine.emplace_back();
    out.reserve(lines.size());
    for (const auto& [element, line] : lines) {
      if (!element->isIndexed()) continue;
      const auto narrow = line <= UINT32_MAX ? static_cast<std::uint32_t>(line) : 0u;
      out.push_back(FirstLine{element->getIndex(), narrow});
    }
    std::vector<std::pair<const ZoIndexedString*, std::size_t>>().swap(lines);
    // Entries come in line order: the first of each pattern is its earliest.
    std::stable_sort(out.begin(), out.end(),
                     [](const FirstLine& a, const FirstLine& b) { return a.ordinal < b.ordinal; });
    out.erase(
        std::unique(out.begin(), out.end(),
                    [](const FirstLine& a, const FirstLine& b) { return a.ordinal == b.ordinal; }),
        out.end());
    out.shrink_to_fit();
  }
  // Reading and building left many freed blocks between the new trees' ones.
  ::malloc_trim(0);
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
  const ZoIndexedString* element = _table->getRef(a.pattern.c_str());
  if (element->isIndexed()) {
    const auto& lines = _firstLine[tree];
    const auto it = std::lower_bound(
        lines.begin(), lines.end(), element->getIndex(),
        [](const FirstLine& f, std::uint32_t ordinal) { return f.ordinal < ordinal; });
    if (it != lines.end() && it->ordinal == element->getIndex()) a.line = it->line;
  }
  if (!element->isInStringtable()) ZoStringtable::cleanupReference(element);
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
