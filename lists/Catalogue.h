// The generation of lists in use, shared by the threads that decide and the
// one that loads.
//
// A reader takes the current generation and holds it for as long as it needs
// it (one request); a load swaps a new generation in for later readers, and
// the old one is freed when its last reader lets go of it.
//
// Thread safety: every member may be called from any number of threads.
#ifndef QUORPOLICY_LISTS_CATALOGUE_H_
#define QUORPOLICY_LISTS_CATALOGUE_H_

#include <atomic>
#include <memory>
#include <utility>

#include "lists/ListSet.h"

namespace quor::lists {

class Catalogue {
 public:
  Catalogue() = default;
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  // The generation in use; null before the first is put in.
  std::shared_ptr<const ListSet> current() const { return _current.load(); }
  // Makes `next` the generation later readers get.
  void replace(std::shared_ptr<const ListSet> next) { _current.store(std::move(next)); }

 private:
  std::atomic<std::shared_ptr<const ListSet>> _current;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_CATALOGUE_H_
