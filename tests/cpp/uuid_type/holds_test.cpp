// The hold rules on a UUID's value: readers share, the one writer excludes
// everyone, and a refused hold leaves the flag as it was.
#include <gtest/gtest.h>

#include "uuid_type/object.hpp"

namespace kestrand {
namespace {

UuidObject fresh_object() {
  UuidObject object{};
  object.hold = 0;
  return object;
}

TEST(Holds, ReadersShareAndCount) {
  UuidObject object = fresh_object();
  ASSERT_TRUE(take_read_hold(&object));
  ASSERT_TRUE(take_read_hold(&object));
  EXPECT_EQ(object.hold, 2);
  release_read_hold(&object);
  release_read_hold(&object);
  EXPECT_EQ(object.hold, 0);
}

TEST(Holds, WriterIsRefusedWhileAnyReaderHolds) {
  UuidObject object = fresh_object();
  ASSERT_TRUE(take_read_hold(&object));
  Result<ExclusiveHold> refused = ExclusiveHold::take(&object);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().type(), PyExc_RuntimeError);
  EXPECT_EQ(refused.error().message(), "Already borrowed");
  EXPECT_EQ(object.hold, 1);
  release_read_hold(&object);
}

TEST(Holds, ReadersAndWritersAreRefusedDuringAnExclusiveHold) {
  UuidObject object = fresh_object();
  {
    Result<ExclusiveHold> writer = ExclusiveHold::take(&object);
    ASSERT_TRUE(writer.ok());
    EXPECT_EQ(object.hold, -1);
    EXPECT_FALSE(take_read_hold(&object));
    EXPECT_FALSE(ExclusiveHold::take(&object).ok());
    EXPECT_EQ(object.hold, -1);
    EXPECT_EQ(already_mutably_borrowed().message(), "Already mutably borrowed");
  }
  // Leaving the scope releases the exclusive hold, even on a failure path.
  EXPECT_EQ(object.hold, 0);
  EXPECT_TRUE(take_read_hold(&object));
  release_read_hold(&object);
}

}  // namespace
}  // namespace kestrand
