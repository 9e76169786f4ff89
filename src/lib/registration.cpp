#include "lib/registration.hpp"

#include "generators/functions.hpp"

namespace kestrand {

std::span<const PyMethodDef> module_functions() {
  // uuid3 and uuid5 come first, and uuid1 and uuid_v1mc between uuid4 and
  // uuid7_bulk, once they exist.
  static const PyMethodDef functions[] = {
      uuid4_bulk_def, uuid4_as_strings_bulk_def, uuid4_def,
      uuid7_bulk_def, uuid7_as_strings_bulk_def, uuid7_def,
  };
  return functions;
}

}  // namespace kestrand
