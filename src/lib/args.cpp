#include "lib/args.hpp"

#include <string>
#include <vector>

#include "lib/error.hpp"

namespace kestrand {
namespace {

std::string full_name(const ParamTable& table) {
  std::string name;
  if (!table.class_name.empty()) {
    name.append(table.class_name).append(".");
  }
  name.append(table.function).append("()");
  return name;
}

// quoted_list: 'a' / 'a' and 'b' / 'a', 'b', and 'c'.
std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2) {
        out.append(" and ");
      } else {
        out.append(i + 1 == names.size() ? ", and " : ", ");
      }
    }
    out.append("'").append(names[i]).append("'");
  }
  return out;
}

Error too_many_positional(const ParamTable& table, size_t given) {
  std::string m = full_name(table);
  size_t count = table.positional.size();
  if (table.required_positional == count) {
    m += " takes " + std::to_string(count);
  } else {
    m += " takes from " + std::to_string(table.required_positional) + " to " +
         std::to_string(count);
  }
  m += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
       " given";
  return Error::type_error(std::move(m));
}

Error unexpected_keyword(const ParamTable& table, PyObject* name) {
  return Error::type_error(full_name(table) + " got an unexpected keyword argument '" +
                           str_for_message(name) + "'");
}

Error multiple_values(const ParamTable& table, std::string_view name) {
  return Error::type_error(full_name(table) + " got multiple values for argument '" +
                           std::string(name) + "'");
}

Error missing(const ParamTable& table, std::string_view kind,
              const std::vector<std::string_view>& names) {
  return Error::type_error(full_name(table) + " missing " + std::to_string(names.size()) +
                           " required " + std::string(kind) +
                           (names.size() == 1 ? " argument: " : " arguments: ") +
                           quoted_list(names));
}

// Binder: the steps shared by both call forms, over one call's slots.
class Binder {
 public:
  Binder(const ParamTable& table, PyObject** slots) : table_(table), slots_(slots) {}

  Status positional(PyObject* const* args, size_t nargs) {
    nargs_ = nargs;
    size_t count = table_.positional.size();
    for (size_t i = 0; i < nargs && i < count; ++i) {
      slots_[i] = args[i];
    }
    if (nargs > count) {
      return too_many_positional(table_, nargs);
    }
    return ok_status();
  }

  Status keyword(PyObject* name, PyObject* value) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return unexpected_keyword(table_, name);
    }
    std::string_view text(utf8, static_cast<size_t>(size));
    size_t positional_count = table_.positional.size();
    for (size_t i = 0; i < table_.keyword_only.size(); ++i) {
      if (table_.keyword_only[i].name == text) {
        return store(positional_count + i, text, value);
      }
    }
    for (size_t i = 0; i < positional_count; ++i) {
      if (table_.positional[i] == text) {
        if (i < table_.positional_only) {
          positional_only_by_keyword_.push_back(table_.positional[i]);
          return ok_status();
        }
        return store(i, text, value);
      }
    }
    return unexpected_keyword(table_, name);
  }

  Status finish() {
    if (!positional_only_by_keyword_.empty()) {
      return Error::type_error(full_name(table_) +
                               " got some positional-only arguments passed as keyword arguments: " +
                               quoted_list(positional_only_by_keyword_));
    }
    if (nargs_ < table_.required_positional) {
      std::vector<std::string_view> absent;
      for (size_t i = 0; i < table_.required_positional; ++i) {
        if (slots_[i] == nullptr) {
          absent.push_back(table_.positional[i]);
        }
      }
      if (!absent.empty()) {
        return missing(table_, "positional", absent);
      }
    }
    std::vector<std::string_view> absent_keywords;
    for (size_t i = 0; i < table_.keyword_only.size(); ++i) {
      if (table_.keyword_only[i].required && slots_[table_.positional.size() + i] == nullptr) {
        absent_keywords.push_back(table_.keyword_only[i].name);
      }
    }
    if (!absent_keywords.empty()) {
      return missing(table_, "keyword", absent_keywords);
    }
    return ok_status();
  }

 private:
  Status store(size_t slot, std::string_view name, PyObject* value) {
    if (slots_[slot] != nullptr) {
      return multiple_values(table_, name);
    }
    slots_[slot] = value;
    return ok_status();
  }

  const ParamTable& table_;
  PyObject** slots_;
  size_t nargs_ = 0;
  std::vector<std::string_view> positional_only_by_keyword_;  // empty unless misused
};

}  // namespace

Status bind_fastcall(const ParamTable& table, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** slots) {
  Binder binder(table, slots);
  TRY_STATUS(binder.positional(args, static_cast<size_t>(nargs)));
  if (kwnames != nullptr) {
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      TRY_STATUS(binder.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]));
    }
  }
  return binder.finish();
}

Status bind_tuple_dict(const ParamTable& table, PyObject* args, PyObject* kwargs,
                       PyObject** slots) {
  Binder binder(table, slots);
  TRY_STATUS(binder.positional(reinterpret_cast<PyTupleObject*>(args)->ob_item,
                               static_cast<size_t>(PyTuple_GET_SIZE(args))));
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      TRY_STATUS(binder.keyword(key, value));
    }
  }
  return binder.finish();
}

Error takes_no_arguments(std::string_view qualified_name, Py_ssize_t nargs) {
  return Error::type_error(std::string(qualified_name) + "() takes no arguments (" +
                           std::to_string(nargs) + " given)");
}

}  // namespace kestrand
