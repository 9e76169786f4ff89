#include "module/registration.hpp"

#include "generators/functions.hpp"

namespace kestrand {

std::span<const PyMethodDef> module_functions() {
  static const PyMethodDef functions[] = {
      uuid3_def,      uuid5_def,      uuid4_bulk_def, uuid4_as_strings_bulk_def, uuid4_def,
      uuid1_def,      uuid_v1mc_def,  uuid7_bulk_def, uuid7_as_strings_bulk_def, uuid7_def,
  };
  return functions;
}

}  // namespace kestrand
