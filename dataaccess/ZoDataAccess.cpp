#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZoDataAccess.h"
#include "dataaccess/detail/Failure.h"

namespace {

std::optional<std::string> keep(const char* text) {
  return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

const char* view(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

struct ZoDataAccess::Impl {
  struct Lent {
    std::unique_ptr<ZoDbConnect> connection;
    unsigned generation;
    std::thread::id borrower;
  };

  // An idle connection, with what the pool knows about it.
  struct Idle {
    std::unique_ptr<ZoDbConnect> connection;
    // When it came back (or was opened).
    std::chrono::steady_clock::time_point since;
    // A statement failed during its last loan.
    bool failed = false;
  };

  // How long a borrower waits for a connection to come back before an extra
  // one is opened.
  static constexpr std::chrono::seconds kLoanWait{2};
  // A connection idle for longer than this is asked whether its server
  // still answers before it is lent. One that came back sooner, without a
  // failure, is lent as it is: its first statement reconnects once and runs
  // again should the link turn out to be gone, so a loan costs no round
  // trip of its own.
  static constexpr std::chrono::seconds kIdleCheck{5};

  std::mutex mutex;
  std::condition_variable returned;
  // Connection parameters, set by init(); guarded by mutex.
  bool initialised = false;
  std::string connectString;
  std::optional<std::string> dsn, user, password;
  size_t count = 0;
  // Bumped by reinit(): connections of older generations are closed when
  // they come back.
  unsigned generation = 0;
  std::vector<Idle> idle;
  std::unordered_map<ZoDbConnect*, Lent> lent;

  struct Parameters {
    std::string connectString;
    std::optional<std::string> dsn, user, password;
  };

  Parameters parameters() {
    std::lock_guard<std::mutex> guard(mutex);
    return {connectString, dsn, user, password};
  }

  // Opens one connection; throws the failure. Runs without the lock, since
  // connecting may take long.
  static std::unique_ptr<ZoDbConnect> open(const Parameters& p) {
    auto connection = std::make_unique<ZoDbConnect>();
    connection->connect(p.connectString.c_str(), view(p.dsn), view(p.user), view(p.password));
    return connection;
  }

  void keepIdle(std::unique_ptr<ZoDbConnect> connection, bool failed) {
    idle.push_back(Idle{std::move(connection), std::chrono::steady_clock::now(), failed});
  }
};

ZoDataAccess::ZoDataAccess() : _impl(std::make_unique<Impl>()) {}

ZoDataAccess::~ZoDataAccess() = default;

void ZoDataAccess::init(const char* connectString, int count, const char* dsn, const char* user,
                        const char* password) {
  std::vector<Impl::Idle> old;
  {
    std::lock_guard<std::mutex> guard(_impl->mutex);
    _impl->initialised = true;
    _impl->connectString = connectString == nullptr ? "" : connectString;
    _impl->dsn = keep(dsn);
    _impl->user = keep(user);
    _impl->password = keep(password);
    _impl->count = static_cast<size_t>(std::max(count, 1));
    ++_impl->generation;
    old.swap(_impl->idle);
  }
  old.clear();
  const Impl::Parameters p = _impl->parameters();
  for (size_t i = 0; i < static_cast<size_t>(std::max(count, 1)); ++i) {
    auto connection = Impl::open(p);  // throws; what was made stays
    std::lock_guard<std::mutex> guard(_impl->mutex);
    _impl->keepIdle(std::move(connection), false);
  }
}

bool ZoDataAccess::reinit() {
  std::vector<Impl::Idle> old;
  size_t count = 0;
  {
    std::lock_guard<std::mutex> guard(_impl->mutex);
    if (!_impl->initialised) {
      PolicyLog::log(PolicyLog::Error, "ZoDataAccess::reinit: the pool was never initialised");
      return false;
    }
    ++_impl->generation;
    old.swap(_impl->idle);
    count = _impl->count;
  }
  old.clear();
  const Impl::Parameters p = _impl->parameters();
  try {
    for (size_t i = 0; i < count; ++i) {
      auto connection = Impl::open(p);
      std::lock_guard<std::mutex> guard(_impl->mutex);
      _impl->keepIdle(std::move(connection), false);
      _impl->returned.notify_one();
    }
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "ZoDataAccess::reinit: Exception \"%s\" thrown", text);
    return false;
  }
  return true;
}

ZoDbConnect* ZoDataAccess::getConnect() {
  std::unique_ptr<ZoDbConnect> connection;
  bool check = false;
  unsigned generation = 0;
  {
    std::unique_lock<std::mutex> lock(_impl->mutex);
    if (!_impl->initialised) {
      quor::dataaccess::detail::throwFailure("ZoDataAccess::getConnect: the pool was never initialised");
    }
    // A thread that already holds a loan (a unit of work nested in another)
    // must not wait for itself: it gets an extra connection at once. Others
    // wait a while for a connection to come back first.
    const auto self = std::this_thread::get_id();
    const bool nested = std::any_of(_impl->lent.begin(), _impl->lent.end(),
                                    [&](const auto& entry) { return entry.second.borrower == self; });
    if (!nested) {
      _impl->returned.wait_for(lock, Impl::kLoanWait, [&] { return !_impl->idle.empty(); });
    }
    generation = _impl->generation;
    if (!_impl->idle.empty()) {
      Impl::Idle& last = _impl->idle.back();
      check = last.failed || std::chrono::steady_clock::now() - last.since > Impl::kIdleCheck;
      connection = std::move(last.connection);
      _impl->idle.pop_back();
    }
  }
  // A connection that sat idle long or saw a failure may have lost its
  // server (a restart, a dropped link): it is asked first and replaced when
  // it does not answer. Any other is lent unchecked, with one transparent
  // reconnect for its first statement.
  if (connection && check && !connection->ping()) {
    PolicyLog::log(PolicyLog::Warning,
                   "ZoDataAccess::getConnect: replacing a connection that no longer answers");
    connection.reset();
  }
  if (connection) {
    connection->startLoan(!check);
  } else {
    connection = Impl::open(_impl->parameters());
    connection->startLoan(false);
  }
  ZoDbConnect* raw = connection.get();
  std::lock_guard<std::mutex> guard(_impl->mutex);
  _impl->lent.emplace(raw, Impl::Lent{std::move(connection), generation, std::this_thread::get_id()});
  return raw;
}

void ZoDataAccess::returnConnect(ZoDbConnect* connection) {
  if (connection == nullptr) return;
  std::unique_ptr<ZoDbConnect> closing;
  {
    std::lock_guard<std::mutex> guard(_impl->mutex);
    const auto it = _impl->lent.find(connection);
    if (it == _impl->lent.end()) {
      PolicyLog::log(PolicyLog::Warning,
                     "ZoDataAccess::returnConnect: connection %p was not lent by this pool",
                     static_cast<void*>(connection));
      return;
    }
    Impl::Lent entry = std::move(it->second);
    _impl->lent.erase(it);
    const bool keepIt = !entry.connection->isBroken() &&
                        entry.generation == _impl->generation &&
                        _impl->idle.size() < _impl->count;
    if (keepIt) {
      const bool failed = entry.connection->failedDuringLoan();
      _impl->keepIdle(std::move(entry.connection), failed);
      _impl->returned.notify_one();
    } else {
      closing = std::move(entry.connection);
    }
  }
  // `closing` disconnects here, outside the lock.
}
