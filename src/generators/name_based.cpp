// uuid3 and uuid5: a namespace UUID and a name (bytes) hashed together with
// MD5 or SHA-1, the digest's first 16 bytes stamped with version and variant.
// Equal inputs give equal UUIDs in any process, and the same UUIDs as the
// standard library for the UTF-8 of the same text.
#include <algorithm>
#include <string_view>

#include "digest/md5.hpp"
#include "digest/sha1.hpp"
#include "generators/functions.hpp"
#include "lib/args.hpp"
#include "lib/entry.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {
namespace {

using Digest16 = UuidValue (*)(const UuidValue& prefix, const uint8_t* data, size_t len);

UuidValue md5_value(const UuidValue& prefix, const uint8_t* data, size_t len) {
  return md5_of_pair(prefix.data(), data, len);
}

UuidValue sha1_value(const UuidValue& prefix, const uint8_t* data, size_t len) {
  auto digest = sha1_of_pair(prefix.data(), data, len);
  UuidValue value;
  std::copy_n(digest.begin(), value.size(), value.begin());  // bytes 16..19 are dropped
  return value;
}

constexpr std::string_view kPositional[] = {"namespace", "name"};

// The namespace is checked before the name, and neither is hashed unless both
// are right. The name is hashed where it lies in the bytes object.
template <const ParamTable& Params, Digest16 Hash, uint8_t Version>
PyObject* name_based(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[2] = {};
    TRY_STATUS(bind_fastcall(Params, args, nargs, kwnames, slots));
    Result<UuidValue> space = read_value(slots[0]);
    if (!space.ok()) {
      return argument_error("namespace", std::move(space).error());
    }
    PyObject* name = slots[1];
    if (!PyBytes_Check(name)) {
      return argument_error("name", conversion_error(name, "PyBytes"));
    }
    UuidValue value = Hash(space.value(), reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(name)),
                           static_cast<size_t>(PyBytes_GET_SIZE(name)));
    value[6] = static_cast<uint8_t>(Version << 4 | (value[6] & 0x0F));
    value[8] = static_cast<uint8_t>(0x80 | (value[8] & 0x3F));
    return wrap_value(value);
  });
}

constexpr ParamTable kUuid3Params = {
    .function = "uuid3", .class_name = {}, .positional = kPositional, .required_positional = 2};
constexpr ParamTable kUuid5Params = {
    .function = "uuid5", .class_name = {}, .positional = kPositional, .required_positional = 2};

}  // namespace

const PyMethodDef uuid3_def = {"uuid3", as_cfunction<name_based<kUuid3Params, md5_value, 3>>(),
                               METH_FASTCALL | METH_KEYWORDS, "uuid3(namespace, name)\n--\n\n"};
const PyMethodDef uuid5_def = {"uuid5", as_cfunction<name_based<kUuid5Params, sha1_value, 5>>(),
                               METH_FASTCALL | METH_KEYWORDS, "uuid5(namespace, name)\n--\n\n"};

}  // namespace kestrand
