// Boost.Asio as the service's network code names it.
#ifndef QUORPOLICY_SERVICE_DETAIL_ASIO_H_
#define QUORPOLICY_SERVICE_DETAIL_ASIO_H_

// Boost 1.74's coroutine support uses std::exchange without including its
// header; under C++20 it must come first.
#include <utility>

#include <boost/asio.hpp>
#include <chrono>

namespace quor::service::detail {

namespace asio = boost::asio;
using ErrorCode = boost::system::error_code;
using Clock = std::chrono::steady_clock;

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_ASIO_H_
