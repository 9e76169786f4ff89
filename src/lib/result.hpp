// Result<T>: an operation's value or its Error, carried back to the entry guard.
#pragma once

#include <utility>
#include <variant>

#include "lib/error.hpp"

namespace kestrand {

struct Unit {};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  Error& error() & { return std::get<1>(state_); }
  Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

}  // namespace kestrand

// TRY(var, expr): evaluates a Result; on error returns it from the enclosing
// function, otherwise moves the value into a new variable `var`.
#define KESTRAND_CONCAT_INNER(a, b) a##b
#define KESTRAND_CONCAT(a, b) KESTRAND_CONCAT_INNER(a, b)
#define TRY_ASSIGN_IMPL(tmp, var, expr) \
  auto tmp = (expr);                    \
  if (!tmp.ok()) {                      \
    return std::move(tmp).error();      \
  }                                     \
  var = std::move(tmp).value()
#define TRY(var, expr) TRY_ASSIGN_IMPL(KESTRAND_CONCAT(try_result_, __LINE__), var, expr)
#define TRY_STATUS(expr)                                  \
  do {                                                    \
    auto try_status_ = (expr);                            \
    if (!try_status_.ok()) {                              \
      return std::move(try_status_).error();              \
    }                                                     \
  } while (false)
