#include "lib/error.hpp"

#include <pthread.h>

#include <cstdio>
#include <new>

#include "lib/once.hpp"

namespace kestrand {
namespace {

constexpr const char kPanicDoc[] =
    "Raised when kestrand's native code fails internally: the operating system's random "
    "source or clock failed, a size exceeded the module's limits, or a call into the "
    "interpreter that must succeed did not.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it "
    "usually propagates all the way up and ends the interpreter.";

void write_diagnostic(const char* message, const SourceLocation& where) {
  // Source paths are shown from the project's src/ folder on.
  std::string_view file = where.file;
  if (size_t src = file.rfind("src/"); src != std::string_view::npos) {
    file.remove_prefix(src);
  }
  std::fprintf(stderr, "kestrand: internal failure in thread %#lx at %.*s:%u: %s\n",
               static_cast<unsigned long>(pthread_self()), static_cast<int>(file.size()),
               file.data(), where.line, message);
}

OnceCell<PyObject> panic_type_cell;

std::string utf8_with_replacement(PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
    return std::string(utf8, static_cast<size_t>(size));
  }
  PyErr_Clear();
  // Lone surrogates: encode them as they stand, then decode with replacement, so
  // each maximal ill-formed subsequence becomes one U+FFFD.
  OwnedRef raw = OwnedRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!raw) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  OwnedRef replaced = OwnedRef::steal(
      PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw.get()), PyBytes_GET_SIZE(raw.get()), "replace"));
  const char* utf8 = replaced ? PyUnicode_AsUTF8AndSize(replaced.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  return std::string(utf8, static_cast<size_t>(size));
}

}  // namespace

void panic(std::string message, SourceLocation where) {
  write_diagnostic(message.c_str(), where);
  throw Panic{std::move(message)};
}

void abort_process(const char* message, SourceLocation where) {
  write_diagnostic(message, where);
  std::fflush(stderr);
  std::abort();
}

PyObject* panic_exception_type() {
  Result<PyObject*> cell = panic_type_cell.get_or_init([]() -> Result<PyObject*> {
    PyObject* type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                               PyExc_BaseException, nullptr);
    if (type == nullptr) {
      OwnedRef cause = OwnedRef::steal(PyErr_GetRaisedException());
      std::string detail = cause ? str_for_message(cause.get()) : "no error was set";
      panic("Failed to initialize new exception type.: " + detail);
    }
    return type;
  });
  return cell.value();
}

void raise_error(Error&& error) noexcept {
  if (error.is_ready()) {
    PyErr_SetRaisedException(error.take_exception().release());
    return;
  }
  OwnedRef message = OwnedRef::steal(PyUnicode_FromStringAndSize(
      error.message().data(), static_cast<Py_ssize_t>(error.message().size())));
  if (!message) {
    return;  // The interpreter's MemoryError stays pending.
  }
  PyObject* type = error.type();
  if (PyType_Check(type) && PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type),
                                                Py_TPFLAGS_BASE_EXC_SUBCLASS)) {
    PyErr_SetObject(type, message.get());
  } else {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
  }
}

void raise_caught() noexcept {
  try {
    throw;
  } catch (const Panic& failure) {
    raise_panic(failure.message);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    raise_panic("kestrand failed internally without a message");
  }
}

void raise_panic(std::string_view message) noexcept {
  try {
    PyObject* type = panic_exception_type();
    OwnedRef text = OwnedRef::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) {
      PyErr_SetObject(type, text.get());
    }
  } catch (...) {
    // The type could not be created; its diagnostic is written and the
    // interpreter's own error is what the caller sees.
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "kestrand: PanicException could not be created");
    }
  }
}

Error fetch_error() {
  OwnedRef pending = OwnedRef::steal(PyErr_GetRaisedException());
  if (!pending) {
    return Error::deferred(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  PyObject* panic_type = panic_type_cell.get();
  if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(pending.get())) == panic_type) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(pending.get()));
    std::string message;
    if (text) {
      message = utf8_with_replacement(text.get());
    } else {
      PyErr_Clear();
      message = "Unwrapped panic from Python code";
    }
    std::fputs("kestrand: a PanicException came back through Python code, resuming it\n", stderr);
    PyErr_SetRaisedException(pending.release());
    PyErr_PrintEx(0);
    panic(std::move(message));
  }
  return Error::ready(std::move(pending));
}

PyObject* must(PyObject* result, SourceLocation where) {
  if (result == nullptr) {
    PyErr_Print();
    panic("Python API call failed", where);
  }
  return result;
}

std::string str_for_message(PyObject* object) {
  OwnedRef text = OwnedRef::steal(PyObject_Str(object));
  if (!text) {
    PyErr_WriteUnraisable(object);
    OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    Py_ssize_t size = 0;
    const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return "<unprintable object>";
    }
    return "<unprintable " + std::string(utf8, static_cast<size_t>(size)) + " object>";
  }
  return utf8_with_replacement(text.get());
}

Error conversion_error(PyObject* object, std::string_view target) {
  std::string type_name = "<failed to extract type name>";
  if (OwnedRef qualname = OwnedRef::steal(PyType_GetQualName(Py_TYPE(object)))) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(qualname.get(), &size)) {
      type_name.assign(utf8, static_cast<size_t>(size));
    } else {
      PyErr_Clear();
    }
  } else {
    PyErr_Clear();
  }
  std::string message;
  message.reserve(type_name.size() + target.size() + 40);
  message.append("'").append(type_name).append("' object cannot be converted to '");
  message.append(target).append("'");
  return Error::type_error(std::move(message));
}

Error argument_error(std::string_view parameter, Error error) {
  if (error.type() != PyExc_TypeError) {
    return error;
  }
  std::string message = "argument '";
  message.append(parameter).append("': ");
  if (!error.is_ready()) {
    message.append(error.message());
    return Error::type_error(std::move(message));
  }
  PyObject* original = error.exception();
  message.append(str_for_message(original));
  OwnedRef text = OwnedRef::steal(must(PyUnicode_FromStringAndSize(
      message.data(), static_cast<Py_ssize_t>(message.size()))));
  OwnedRef renamed = OwnedRef::steal(must(PyObject_CallOneArg(PyExc_TypeError, text.get())));
  // The original error is dropped, not chained; only its own cause carries over.
  if (PyObject* cause = PyException_GetCause(original)) {
    PyException_SetCause(renamed.get(), cause);  // steals the reference
  }
  return Error::ready(std::move(renamed));
}

}  // namespace kestrand
