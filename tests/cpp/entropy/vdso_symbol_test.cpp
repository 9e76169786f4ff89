// Finding getrandom in this process's vDSO, through each hash table.
#include "sources/entropy/vdso_symbol.hpp"

#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <sys/utsname.h>

#include <cstdio>

#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {
namespace {

const void* vdso_image() { return reinterpret_cast<const void*>(getauxval(AT_SYSINFO_EHDR)); }

// Linux 6.11 put getrandom into the vDSO of x86_64; aarch64 followed in 6.14.
bool kernel_offers_vdso_getrandom() {
  utsname name{};
  int major = 0;
  int minor = 0;
  if (uname(&name) != 0 || std::sscanf(name.release, "%d.%d", &major, &minor) != 2) {
    return false;
  }
#if defined(__x86_64__)
  return major > 6 || (major == 6 && minor >= 11);
#elif defined(__aarch64__)
  return major > 6 || (major == 6 && minor >= 14);
#else
  return false;
#endif
}

#if defined(__x86_64__)
constexpr const char* kName = "__vdso_getrandom";
constexpr const char* kVersion = "LINUX_2.6";
constexpr const char* kOtherFunction = "__vdso_clock_gettime";
#elif defined(__aarch64__)
constexpr const char* kName = "__kernel_getrandom";
constexpr const char* kVersion = "LINUX_2.6.39";
constexpr const char* kOtherFunction = "__kernel_clock_gettime";
#endif

TEST(VdsoSymbol, BothHashTablesFindTheSameFunctionAndCheckItsVersion) {
#if defined(__x86_64__) || defined(__aarch64__)
  if (!kernel_offers_vdso_getrandom() || vdso_image() == nullptr) {
    GTEST_SKIP() << "this kernel has no getrandom in its vDSO";
  }
  void* gnu = find_vdso_function(vdso_image(), kName, kVersion, ElfHashTable::gnu);
  void* sysv = find_vdso_function(vdso_image(), kName, kVersion, ElfHashTable::sysv);
  EXPECT_TRUE(gnu != nullptr || sysv != nullptr);
  if (gnu != nullptr && sysv != nullptr) {
    EXPECT_EQ(gnu, sysv);
  }
  void* any = find_vdso_function(vdso_image(), kName, kVersion);
  ASSERT_NE(any, nullptr);
  // Another function of the image is found too, at another address.
  void* other = find_vdso_function(vdso_image(), kOtherFunction, kVersion);
  EXPECT_NE(other, nullptr);
  EXPECT_NE(other, any);
  // Names and versions must match exactly.
  EXPECT_EQ(find_vdso_function(vdso_image(), kName, "LINUX_9.9"), nullptr);
  EXPECT_EQ(find_vdso_function(vdso_image(), kName, ""), nullptr);
  EXPECT_EQ(find_vdso_function(vdso_image(), "__vdso_getrandom_", kVersion), nullptr);
  // The linker's version symbol is no function.
  EXPECT_EQ(find_vdso_function(vdso_image(), kVersion, kVersion), nullptr);
#else
  GTEST_SKIP() << "no vDSO getrandom is looked for on this architecture";
#endif
}

TEST(VdsoSymbol, NoImageOrNotAnElfImage) {
  EXPECT_EQ(find_vdso_function(nullptr, "__vdso_getrandom", "LINUX_2.6"), nullptr);
  static const unsigned char garbage[256] = {0x7f, 'E', 'L', 'X'};
  EXPECT_EQ(find_vdso_function(garbage, "__vdso_getrandom", "LINUX_2.6"), nullptr);
  EXPECT_EQ(find_vdso_getrandom(nullptr).function, nullptr);
}

TEST(VdsoGetrandomQuery, AcceptedOnlyWithAUsableStateShape) {
  VdsoGetrandom found = find_vdso_getrandom(vdso_image());
  if (!kernel_offers_vdso_getrandom()) {
    GTEST_SKIP() << "this kernel has no getrandom in its vDSO";
  }
  ASSERT_NE(found.function, nullptr);
  EXPECT_GT(found.shape.size, 0u);
  EXPECT_NE(found.shape.mmap_prot, 0);
  // Any answer but exactly 0 is a refusal.
  for (ssize_t answer : {ssize_t{-22}, ssize_t{1}, ssize_t{-1}}) {
    static ssize_t scripted;
    scripted = answer;
    VgetrandomFn refusing = [](void*, size_t, unsigned int, void* params, size_t) -> ssize_t {
      static_cast<uint32_t*>(params)[0] = 256;
      return scripted;
    };
    StateShape shape;
    EXPECT_FALSE(query_state_shape(refusing, shape)) << answer;
  }
  VgetrandomFn zero_size = [](void*, size_t, unsigned int, void*, size_t) -> ssize_t { return 0; };
  StateShape shape;
  EXPECT_FALSE(query_state_shape(zero_size, shape));
}

}  // namespace
}  // namespace kestrand
