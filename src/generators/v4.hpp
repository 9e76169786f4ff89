// The version 4 rule: 122 random bits from 16 fresh bytes of OsEntropy, with
// the version nibble set to 4 and the variant bits to binary 10.
#pragma once

#include "sources/entropy/os_entropy.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

// make_v4: one version 4 value; an internal failure if the random source fails.
UuidValue make_v4();

// make_v4: the same, drawing through the caller's run of requests and
// written to `out`.
void make_v4(EntropyRun& run, UuidValue& out);

// make_v4: the same, returned.
inline UuidValue make_v4(EntropyRun& run) {
  UuidValue value;
  make_v4(run, value);
  return value;
}

}  // namespace kestrand
