// One generation of loaded black and white lists: one pattern tree per list
// file, in precedence order, frozen and ready for matching from any number of
// threads.
//
// Every generation interns its patterns in a string table of its own, which
// is locked together with its trees. A process that loads its lists again
// (a server reloading them on a signal) therefore gets trees that compare by
// ordinals exactly like the first ones, instead of trees that fall back to
// private copies because the shared default table is already frozen.
//
// Loading registers the new table and trees on the process-wide lock-on-init
// queue and drains it, so at most one thread loads at a time, and nothing
// else may have unlocked objects registered meanwhile. Matching and
// destruction may happen on any thread: a locked object is no longer on the
// queue.
#ifndef QUORPOLICY_LISTS_LISTSET_H_
#define QUORPOLICY_LISTS_LISTSET_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ZoIndexedString.h"
#include "ZoWildcardEmail.h"

namespace quor::lists {

// What decided one address.
struct ListAnswer {
  ZoBlackWhiteListResult result = NotListed;
  bool listed = false;
  std::size_t tree = 0;  // position of the deciding list
  std::string pattern;   // the deciding pattern, lower-cased
  std::uint32_t membership = 0;
  std::size_t line = 0;  // where the pattern was first listed; 0 unknown
  std::string original;  // the entry's original text, if it had one
};

class ListSet {
 public:
  struct Options {
    bool showProgress = false;  // loading progress of large files on standard error
    // Receives one text per entry that a tree refused ("FILE:LINE: ...")
    // and one per list without entries.
    std::function<void(const std::string&)> warn;
    // Refuses a file whose last line has no line end: it is most likely
    // still being written.
    bool requireLineEnd = false;
    // When set, refuses a file that holds fewer than half the entries its
    // list (by position) read in this set.
    const ListSet* shrinkFrom = nullptr;
    // When set, loading gives up soon after it turns true.
    const std::atomic<bool>* cancel = nullptr;
  };

  // Reads and checks every file before building anything, so that a failure
  // leaves nothing behind. Throws LoadError (LoadError.h): NotFound for a
  // file that cannot be opened, Malformed for a malformed line or a read
  // failure (the text names file and line), Refused for a file still being
  // written or one that would shrink its list, Cancelled, Failed.
  static std::unique_ptr<ListSet> load(const std::vector<std::string>& paths,
                                       const Options& options);

  ListSet(const ListSet&) = delete;
  ListSet& operator=(const ListSet&) = delete;
  ~ListSet();

  // Decides `address` across the lists: the result, and for a listed
  // address the deciding list, pattern and line. With `details` also the
  // entry's original text, which costs a second search of the deciding tree.
  ListAnswer answer(const std::string& address, bool details = true) const;

  const std::string& name(std::size_t tree) const { return _names[tree]; }
  std::size_t size() const { return _roots.size(); }
  std::size_t entries() const { return _entries; }
  // The entries read from the file of list `tree`, refused ones included.
  std::size_t entriesRead(std::size_t tree) const { return _read[tree]; }

 private:
  ListSet() = default;

  // Declared first so that it is destroyed last: the trees' names are its
  // elements.
  std::unique_ptr<ZoStringtable> _table;
  std::vector<std::unique_ptr<ZoWildcardNode>> _owners;
  // The matcher takes the trees as a mutable vector but only reads it.
  mutable std::vector<ZoWildcardNode*> _roots;
  std::vector<std::string> _names;
  // Per list, where each pattern was first listed: the ordinal of the
  // pattern in _table and its line, sorted by ordinal.
  struct FirstLine {
    std::uint32_t ordinal;
    std::uint32_t line;
  };
  std::vector<std::vector<FirstLine>> _firstLine;
  std::size_t _entries = 0;
  std::vector<std::size_t> _read;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_LISTSET_H_
