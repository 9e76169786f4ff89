// Finding getrandom in this process's vDSO, through each hash table, where
// the vDSO has it (vdso_aarch64_image_test.cpp tests aarch64's on any machine).
#include "sources/entropy/vdso_symbol.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>

#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {
namespace {

const void* vdso_image() { return reinterpret_cast<const void*>(getauxval(AT_SYSINFO_EHDR)); }

#if defined(__x86_64__)
constexpr const char* kName = "__vdso_getrandom";
constexpr const char* kVersion = "LINUX_2.6";
constexpr const char* kOtherFunction = "__vdso_clock_gettime";
#elif defined(__aarch64__)
constexpr const char* kName = "__kernel_getrandom";
constexpr const char* kVersion = "LINUX_2.6.39";
constexpr const char* kOtherFunction = "__kernel_clock_gettime";
#endif

// Whether this process's vDSO exports getrandom, asked of the C library's
// dynamic loader, which maps the vDSO as linux-vdso.so.1 and has its own
// lookup. The kernel's version cannot tell: an emulator such as qemu-user
// reports the host's version and offers no vDSO getrandom.
bool vdso_exports_getrandom() {
#if defined(__x86_64__) || defined(__aarch64__)
  void* vdso = dlopen("linux-vdso.so.1", RTLD_NOW | RTLD_NOLOAD);
  return vdso != nullptr && dlvsym(vdso, kName, kVersion) != nullptr;
#else
  return false;
#endif
}

TEST(VdsoSymbol, BothHashTablesFindTheSameFunctionAndCheckItsVersion) {
#if defined(__x86_64__) || defined(__aarch64__)
  if (!vdso_exports_getrandom()) {
    GTEST_SKIP() << "this process's vDSO has no getrandom";
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
  if (!vdso_exports_getrandom()) {
    // The lookup finds nothing where the loader finds nothing.
    EXPECT_EQ(found.function, nullptr);
    GTEST_SKIP() << "this process's vDSO has no getrandom";
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
