// The hold rules on a UUID's value: readers are refused during the exclusive
// hold, the writer is refused while any hold is active, and a refused hold
// leaves the flag as it was.
#include <gtest/gtest.h>

#include "uuid_type/object.hpp"

namespace kestrand {
namespace {

constexpr UuidValue kValue = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

UuidObject object_with(const UuidValue& value) {
  UuidObject object{};
  object.value = value;
  object.hold = 0;
  return object;
}

TEST(Holds, ReadersCopyTheValueAndLeaveTheFlagAlone) {
  UuidObject object = object_with(kValue);
  UuidValue copy{};
  ASSERT_TRUE(copy_value(&object, copy));
  EXPECT_EQ(copy, kValue);
  EXPECT_EQ(object.hold, 0);
}

TEST(Holds, ReadersAndWritersAreRefusedDuringAnExclusiveHold) {
  UuidObject object = object_with(kValue);
  {
    Result<ExclusiveHold> writer = ExclusiveHold::take(&object);
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(object.hold, -1);
    UuidValue copy{};
    EXPECT_FALSE(copy_value(&object, copy));
    EXPECT_EQ(copy, UuidValue{});
    Result<ExclusiveHold> second = ExclusiveHold::take(&object);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().type(), PyExc_RuntimeError);
    EXPECT_EQ(second.error().message(), "Already borrowed");
    EXPECT_EQ(object.hold, -1);
    EXPECT_EQ(already_mutably_borrowed().message(), "Already mutably borrowed");
  }
  // Leaving the scope releases the exclusive hold, also on a failure path.
  EXPECT_EQ(object.hold, 0);
  UuidValue copy{};
  EXPECT_TRUE(copy_value(&object, copy));
}

// The in-place read that hash() takes: only an exact UUID that is not held
// exclusively is read where it lies; anything else goes the checked way.
// Stands a local type object in for UUID's while in scope, and puts the real
// one back however the test leaves (a failed ASSERT returns early).
class StandInUuidType {
 public:
  explicit StandInUuidType(PyTypeObject* type) : before_(uuid_type_created.exchange(type)) {}
  StandInUuidType(const StandInUuidType&) = delete;
  StandInUuidType& operator=(const StandInUuidType&) = delete;
  ~StandInUuidType() { uuid_type_created.store(before_); }

 private:
  PyTypeObject* before_;
};

TEST(Holds, InPlaceReadsOnlyForAnExactUuidNotHeldExclusively) {
  PyTypeObject uuid{};
  PyTypeObject other{};
  StandInUuidType stand_in(&uuid);
  UuidObject object = object_with(kValue);
  object.ob_base.ob_type = &uuid;
  auto* as_object = reinterpret_cast<PyObject*>(&object);
  ASSERT_EQ(readable_exact(as_object), &object.value);
  {
    Result<ExclusiveHold> writer = ExclusiveHold::take(&object);
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(readable_exact(as_object), nullptr);
  }
  EXPECT_EQ(readable_exact(as_object), &object.value);
  object.ob_base.ob_type = &other;  // a subclass, or not a UUID at all
  EXPECT_EQ(readable_exact(as_object), nullptr);
}

TEST(Holds, WriterIsRefusedWhileAReaderHolds) {
  UuidObject object = object_with(kValue);
  object.hold = 1;  // a reader in the middle of its copy
  Result<ExclusiveHold> refused = ExclusiveHold::take(&object);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message(), "Already borrowed");
  EXPECT_EQ(object.hold, 1);
}

}  // namespace
}  // namespace kestrand
