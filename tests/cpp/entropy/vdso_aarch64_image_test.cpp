// The vDSO lookup for aarch64's getrandom, on any machine: small aarch64
// images shaped like the kernel's vDSO (aarch64_vdso/images.cmake) are loaded
// into memory as the kernel maps its image and searched through each hash
// table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sources/entropy/vdso_getrandom.hpp"
#include "sources/entropy/vdso_symbol.hpp"

namespace kestrand {
namespace {

// The first word of each function in the images names it.
constexpr uint32_t kGetrandomMark = 0xa001;
constexpr uint32_t kClockGettimeMark = 0xa002;

// The kernel maps its vDSO whole, as one block of memory holding the file:
// every address in the image equals its offset (aarch64_vdso/vdso.lds).
class LoadedImage {
 public:
  explicit LoadedImage(const std::string& name) {
    std::ifstream in(std::string(KESTRAND_VDSO_IMAGE_DIR) + "/" + name + ".so", std::ios::binary);
    std::vector<char> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Words of 8 bytes keep the image aligned for its 64-bit tables.
    memory_.assign((file.size() + 7) / 8, 0);
    std::memcpy(memory_.data(), file.data(), file.size());
  }

  const void* base() const { return memory_.empty() ? nullptr : memory_.data(); }
  size_t size() const { return memory_.size() * 8; }

  // The mark at a found address; 0 for nullptr or outside the image.
  uint32_t mark_at(const void* address) const {
    auto offset = static_cast<size_t>(static_cast<const unsigned char*>(address) -
                                      static_cast<const unsigned char*>(base()));
    if (address == nullptr || offset + 4 > size()) {
      return 0;
    }
    uint32_t mark;
    std::memcpy(&mark, address, 4);
    return mark;
  }

 private:
  std::vector<uint64_t> memory_;
};

constexpr const char* kName = kAarch64VdsoGetrandom.name;
constexpr const char* kVersion = kAarch64VdsoGetrandom.version;

TEST(VdsoAarch64Image, TheConstantsAreTheKernelsNames) {
  EXPECT_STREQ(kName, "__kernel_getrandom");
  EXPECT_STREQ(kVersion, "LINUX_2.6.39");
}

TEST(VdsoAarch64Image, EachHashTableFindsTheFunctionsAtTheirAddresses) {
  struct Case {
    const char* image;
    ElfHashTable table;
  };
  for (const Case& c : {Case{"gnu_hash", ElfHashTable::gnu}, Case{"sysv_hash", ElfHashTable::sysv},
                        Case{"wrong_version", ElfHashTable::gnu}}) {
    SCOPED_TRACE(c.image);
    LoadedImage image(c.image);
    ASSERT_NE(image.base(), nullptr) << "image not built";
    const char* version = std::strcmp(c.image, "wrong_version") == 0 ? "LINUX_2.6" : kVersion;
    EXPECT_EQ(image.mark_at(find_vdso_function(image.base(), kName, version, c.table)), kGetrandomMark);
    EXPECT_EQ(image.mark_at(find_vdso_function(image.base(), "__kernel_clock_gettime", version, c.table)),
              kClockGettimeMark);
    // Through whichever table the image has.
    EXPECT_EQ(image.mark_at(find_vdso_function(image.base(), kName, version)), kGetrandomMark);
  }
}

TEST(VdsoAarch64Image, AnImageWithoutTheChosenTableYieldsNothing) {
  LoadedImage gnu("gnu_hash");
  LoadedImage sysv("sysv_hash");
  ASSERT_NE(gnu.base(), nullptr);
  ASSERT_NE(sysv.base(), nullptr);
  EXPECT_EQ(find_vdso_function(gnu.base(), kName, kVersion, ElfHashTable::sysv), nullptr);
  EXPECT_EQ(find_vdso_function(sysv.base(), kName, kVersion, ElfHashTable::gnu), nullptr);
}

TEST(VdsoAarch64Image, RefusesWhatIsNotTheFunctionAtItsVersion) {
  struct Case {
    const char* image;
    const char* name;
    const char* version;
  };
  const Case cases[] = {
      {"wrong_version", kName, kVersion},         // exported, but as LINUX_2.6
      {"getrandom_as_data", kName, kVersion},     // an object, not a function
      {"no_getrandom", kName, kVersion},          // not exported at all
      {"gnu_hash", kName, "LINUX_2.6"},           // asked for another version
      {"gnu_hash", "__kernel_getrandom_", kVersion},
      {"gnu_hash", "__kernel_getrando", kVersion},
      {"gnu_hash", kVersion, kVersion},           // the version's own symbol
      {"sysv_hash", kName, "LINUX_2.6"},
      {"sysv_hash", kVersion, kVersion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image << ": " << c.name << "@" << c.version);
    LoadedImage image(c.image);
    ASSERT_NE(image.base(), nullptr) << "image not built";
    for (ElfHashTable table : {ElfHashTable::gnu, ElfHashTable::sysv}) {
      EXPECT_EQ(find_vdso_function(image.base(), c.name, c.version, table), nullptr);
    }
  }
  // The other function of the same images is still found: the refusals above
  // are about getrandom, not about images that cannot be read.
  for (const char* name : {"getrandom_as_data", "no_getrandom"}) {
    LoadedImage image(name);
    EXPECT_EQ(image.mark_at(find_vdso_function(image.base(), "__kernel_clock_gettime", kVersion)),
              kClockGettimeMark)
        << name;
  }
}

}  // namespace
}  // namespace kestrand
