// Error: how a failure travels from the place it happens to the entry guard.
//
// An error is either a ready exception object (usually taken from the
// interpreter) or a deferred pair of exception type and message, which becomes
// a Python object only when it is raised. Internal failures (the random source
// or the clock failed, a count exceeds the module's limits, an interpreter call
// that must succeed did not) are not Errors: they are thrown as Panic and
// surface as PanicException.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

#include "lib/ref.hpp"

namespace kestrand {

class Error {
 public:
  // deferred: `type` is a borrowed, process-lifetime exception type such as PyExc_TypeError.
  static Error deferred(PyObject* type, std::string message) {
    Error e;
    e.type_ = type;
    e.message_ = std::move(message);
    return e;
  }
  static Error ready(OwnedRef exception) {
    Error e;
    e.type_ = reinterpret_cast<PyObject*>(Py_TYPE(exception.get()));
    e.exception_ = std::move(exception);
    return e;
  }
  static Error type_error(std::string message) { return deferred(PyExc_TypeError, std::move(message)); }
  static Error value_error(std::string message) { return deferred(PyExc_ValueError, std::move(message)); }
  static Error overflow_error(std::string message) {
    return deferred(PyExc_OverflowError, std::move(message));
  }

  bool is_ready() const noexcept { return static_cast<bool>(exception_); }
  PyObject* type() const noexcept { return type_; }
  const std::string& message() const noexcept { return message_; }
  PyObject* exception() const noexcept { return exception_.get(); }
  OwnedRef take_exception() noexcept { return std::move(exception_); }

 private:
  Error() = default;
  PyObject* type_ = nullptr;
  std::string message_;
  OwnedRef exception_;
};

// SourceLocation: where an internal failure arose, for its diagnostic. (The
// compilers' builtins rather than std::source_location, which some C++20
// toolchains still lack.)
struct SourceLocation {
  const char* file;
  unsigned line;
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          unsigned line = __builtin_LINE()) {
    return {file, line};
  }
};

// Panic: an internal failure unwinding to the entry guard.
struct Panic {
  std::string message;
};

// panic: writes the diagnostic (thread, source location, message) to standard
// error and unwinds to the entry guard, which raises PanicException.
[[noreturn]] void panic(std::string message,
                        SourceLocation where = SourceLocation::current());

// abort_process: for failures inside allocation slots, which cannot report an
// exception: writes the diagnostic and ends the process.
[[noreturn]] void abort_process(const char* message,
                                SourceLocation where = SourceLocation::current());

// raise_error: sets `error` as the interpreter's current exception. A failure
// while doing so leaves the interpreter's own error pending instead.
void raise_error(Error&& error) noexcept;

// raise_panic: raises PanicException(message), creating the type on first use.
void raise_panic(std::string_view message) noexcept;

// raise_caught: inside a catch block, raises what was caught: PanicException
// for a Panic, MemoryError for std::bad_alloc, and PanicException for anything
// else. Out of line, so the entry guards carry one small handler each.
[[gnu::cold]] void raise_caught() noexcept;

// panic_exception_type: the PanicException type, created once; null with an
// internal failure if the interpreter cannot create it.
PyObject* panic_exception_type();

// fetch_error: takes the interpreter's pending exception as an Error after a
// call reported failure. A PanicException coming back through the interpreter
// is printed and continues as an internal failure with the same message.
Error fetch_error();

// must: for interpreter calls that must not fail (creating a result object).
// On failure prints the pending error and panics with "Python API call failed".
PyObject* must(PyObject* result, SourceLocation where = SourceLocation::current());

// conversion_error: TypeError "'<type>' object cannot be converted to '<target>'".
Error conversion_error(PyObject* object, std::string_view target);

// argument_error: names the parameter in a TypeError (exactly TypeError, not a
// subclass); every other error passes through unchanged.
Error argument_error(std::string_view parameter, Error error);

// str_for_message: str(object) as UTF-8 for use inside a message. Lone
// surrogates become U+FFFD; an object whose str() fails is reported as
// unraisable and shown as "<unprintable T object>".
std::string str_for_message(PyObject* object);

}  // namespace kestrand
