// What every connection of a running server shares: the lists in use, how to
// decide and answer, the network settings, the counters and the connection
// limits.
//
// Thread safety: the plain fields are set before the first connection is
// accepted and only read afterwards; the rest is atomic or thread-safe.
#ifndef QUORPOLICY_SERVICE_DETAIL_SHARED_H_
#define QUORPOLICY_SERVICE_DETAIL_SHARED_H_

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "lists/Catalogue.h"
#include "lists/db/DbPolicy.h"
#include "service/PolicyProtocol.h"
#include "service/Server.h"
#include "service/detail/Network.h"
#include "service/detail/Stats.h"

namespace quor::service::detail {

struct Shared {
  lists::Catalogue lists;  // no generation without list files
  // The policy database's sender lists in use; null without --db. Swapped
  // whole, as a generation of lists is.
  std::atomic<std::shared_ptr<const lists::DbPolicy>> db;
  // Pattern trees are built one set at a time in the process (the trees'
  // lock-on-init queue is shared): list reloads and database loads take it.
  std::mutex treeBuild;
  DecideOptions decision;
  bool logDecisions = false;
  NetSettings net;
  Stats stats;
  std::atomic<bool> stopping{false};

  // Connection limits.
  std::size_t maxConnections = 1;
  std::atomic<std::size_t> open{0};
  std::vector<AddressBlock> allowFrom;  // empty: every client
  ConnectionCounts connections;
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_SHARED_H_
