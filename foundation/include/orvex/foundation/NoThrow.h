// Calls through which no exception may pass: the exported C functions and the
// operations of the interface classes answer a failure value instead.
#ifndef ORVEX_FOUNDATION_NOTHROW_H
#define ORVEX_FOUNDATION_NOTHROW_H

#include <utility>

namespace orvex {

// What `call()` returns, or `failure` when it throws anything at all (an allocation
// that failed, a system error of a mutex, an exception of a host's own object).
template <class Result, class Call>
Result ReturnOrFail(Result failure, Call&& call) noexcept {
  try {
    return std::forward<Call>(call)();
  } catch (...) {
    return failure;
  }
}

}  // namespace orvex

#endif
