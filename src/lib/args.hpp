// Argument binding: matches a call's positional and keyword arguments to the
// parameters of a static table and reports mistakes with fixed messages.
//
// Binding allocates nothing on success: slots are a caller-owned array of
// borrowed pointers, and names are matched by byte comparison.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "lib/result.hpp"

namespace kestrand {

struct KeywordOnly {
  std::string_view name;
  bool required;
};

struct ParamTable {
  std::string_view function;
  std::string_view class_name;  // empty for module functions
  std::span<const std::string_view> positional;
  size_t positional_only = 0;
  size_t required_positional = 0;
  std::span<const KeywordOnly> keyword_only = {};

  size_t slot_count() const noexcept { return positional.size() + keyword_only.size(); }
};

// bind_fastcall: the vectorcall form (args, nargs, kwnames). `slots` must hold
// slot_count() entries, initialised to null; they receive borrowed objects.
Status bind_fastcall(const ParamTable& table, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** slots);

// bind_tuple_dict: the tp_new form (tuple, dict or null).
Status bind_tuple_dict(const ParamTable& table, PyObject* args, PyObject* kwargs,
                       PyObject** slots);

// takes_no_arguments: the error of a function without parameters that the
// interpreter calls by METH_FASTCALL (for the quicker call) and that was given
// `nargs` positional arguments, in the words the interpreter uses for
// METH_NOARGS. (Keyword arguments it refuses itself, as for METH_NOARGS.)
Error takes_no_arguments(std::string_view qualified_name, Py_ssize_t nargs);

}  // namespace kestrand
