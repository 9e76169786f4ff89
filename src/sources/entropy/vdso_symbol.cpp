#include "sources/entropy/vdso_symbol.hpp"

#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>

namespace kestrand {
namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
using Sym = ElfW(Sym);

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char kElfClass = ELFCLASS64;
#else
constexpr unsigned char kElfClass = ELFCLASS32;
#endif

// The tables of a loaded image, at their addresses in this process.
struct Tables {
  uintptr_t load_bias = 0;
  const char* strings = nullptr;
  const Sym* symbols = nullptr;
  const uint32_t* sysv_hash = nullptr;
  const uint32_t* gnu_hash = nullptr;
  const ElfW(Versym)* versions = nullptr;
  const ElfW(Verdef)* definitions = nullptr;
};

bool read_tables(const void* image, Tables& out) noexcept {
  const auto* base = static_cast<const unsigned char*>(image);
  const auto* header = static_cast<const Ehdr*>(image);
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_CLASS] != kElfClass ||
      header->e_phentsize != sizeof(Phdr)) {
    return false;
  }
  // Addresses in the image are link-time addresses: the first loadable
  // segment says how far the image was moved from them.
  const auto* segments = reinterpret_cast<const Phdr*>(base + header->e_phoff);
  uintptr_t& load_bias = out.load_bias;
  bool have_load = false;
  const Dyn* dynamic = nullptr;
  for (size_t i = 0; i < header->e_phnum; ++i) {
    if (segments[i].p_type == PT_LOAD && !have_load) {
      load_bias = reinterpret_cast<uintptr_t>(base) + segments[i].p_offset - segments[i].p_vaddr;
      have_load = true;
    } else if (segments[i].p_type == PT_DYNAMIC) {
      dynamic = reinterpret_cast<const Dyn*>(base + segments[i].p_offset);
    }
  }
  if (!have_load || dynamic == nullptr) {
    return false;
  }
  auto at = [load_bias](ElfW(Addr) address) { return reinterpret_cast<const void*>(load_bias + address); };
  for (const Dyn* entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
    switch (entry->d_tag) {
      case DT_STRTAB: out.strings = static_cast<const char*>(at(entry->d_un.d_ptr)); break;
      case DT_SYMTAB: out.symbols = static_cast<const Sym*>(at(entry->d_un.d_ptr)); break;
      case DT_HASH: out.sysv_hash = static_cast<const uint32_t*>(at(entry->d_un.d_ptr)); break;
      case DT_GNU_HASH: out.gnu_hash = static_cast<const uint32_t*>(at(entry->d_un.d_ptr)); break;
      case DT_VERSYM: out.versions = static_cast<const ElfW(Versym)*>(at(entry->d_un.d_ptr)); break;
      case DT_VERDEF: out.definitions = static_cast<const ElfW(Verdef)*>(at(entry->d_un.d_ptr)); break;
      default: break;
    }
  }
  return out.strings != nullptr && out.symbols != nullptr;
}

uint32_t sysv_hash(const char* name) noexcept {
  uint32_t h = 0;
  for (const auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    h = (h << 4) + *p;
    uint32_t high = h & 0xF0000000u;
    if (high != 0) {
      h ^= high >> 24;
    }
    h &= ~high;
  }
  return h;
}

uint32_t gnu_hash(const char* name) noexcept {
  uint32_t h = 5381;
  for (const auto* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    h = h * 33 + *p;
  }
  return h;
}

// has_version: symbol `index` is defined with version `version`. An image
// without version tables has no versions to mismatch.
bool has_version(const Tables& tables, size_t index, const char* version) noexcept {
  if (tables.versions == nullptr || tables.definitions == nullptr) {
    return true;
  }
  unsigned wanted = tables.versions[index] & 0x7FFF;  // the top bit marks a hidden symbol
  const auto* definition = tables.definitions;
  while (true) {
    if ((definition->vd_flags & VER_FLG_BASE) == 0 && definition->vd_ndx == wanted) {
      const auto* aux = reinterpret_cast<const ElfW(Verdaux)*>(
          reinterpret_cast<const unsigned char*>(definition) + definition->vd_aux);
      return std::strcmp(tables.strings + aux->vda_name, version) == 0;
    }
    if (definition->vd_next == 0) {
      return false;
    }
    definition = reinterpret_cast<const ElfW(Verdef)*>(reinterpret_cast<const unsigned char*>(definition) +
                                                       definition->vd_next);
  }
}

bool matches(const Tables& tables, size_t index, const char* name, const char* version) noexcept {
  const Sym& symbol = tables.symbols[index];
  unsigned binding = ELF64_ST_BIND(symbol.st_info);
  return ELF64_ST_TYPE(symbol.st_info) == STT_FUNC && (binding == STB_GLOBAL || binding == STB_WEAK) &&
         symbol.st_shndx != SHN_UNDEF && std::strcmp(tables.strings + symbol.st_name, name) == 0 &&
         has_version(tables, index, version);
}

// The symbol's index through the GNU hash table, or 0 (the null symbol).
size_t lookup_gnu(const Tables& tables, const char* name, const char* version) noexcept {
  const uint32_t* table = tables.gnu_hash;
  uint32_t bucket_count = table[0];
  uint32_t first_symbol = table[1];
  uint32_t bloom_words = table[2];
  if (bucket_count == 0) {
    return 0;
  }
  // The Bloom filter's words are as wide as an address; the buckets follow.
  const auto* buckets = reinterpret_cast<const uint32_t*>(reinterpret_cast<const ElfW(Addr)*>(table + 4) +
                                                          bloom_words);
  const uint32_t* chain = buckets + bucket_count;
  uint32_t hash = gnu_hash(name);
  uint32_t index = buckets[hash % bucket_count];
  if (index < first_symbol) {
    return 0;
  }
  for (;; ++index) {
    uint32_t entry = chain[index - first_symbol];
    if ((entry | 1) == (hash | 1) && matches(tables, index, name, version)) {
      return index;
    }
    if ((entry & 1) != 0) {  // the last of its bucket
      return 0;
    }
  }
}

size_t lookup_sysv(const Tables& tables, const char* name, const char* version) noexcept {
  const uint32_t* table = tables.sysv_hash;
  uint32_t bucket_count = table[0];
  if (bucket_count == 0) {
    return 0;
  }
  const uint32_t* buckets = table + 2;
  const uint32_t* chain = buckets + bucket_count;
  for (uint32_t index = buckets[sysv_hash(name) % bucket_count]; index != STN_UNDEF; index = chain[index]) {
    if (matches(tables, index, name, version)) {
      return index;
    }
  }
  return 0;
}

}  // namespace

void* find_vdso_function(const void* image, const char* name, const char* version,
                         ElfHashTable table) noexcept {
  Tables tables;
  if (image == nullptr || !read_tables(image, tables)) {
    return nullptr;
  }
  size_t index = 0;
  if (table == ElfHashTable::gnu && tables.gnu_hash != nullptr) {
    index = lookup_gnu(tables, name, version);
  } else if (table == ElfHashTable::sysv && tables.sysv_hash != nullptr) {
    index = lookup_sysv(tables, name, version);
  }
  if (index == 0) {
    return nullptr;
  }
  return reinterpret_cast<void*>(tables.load_bias + tables.symbols[index].st_value);
}

void* find_vdso_function(const void* image, const char* name, const char* version) noexcept {
  if (void* found = find_vdso_function(image, name, version, ElfHashTable::gnu)) {
    return found;
  }
  return find_vdso_function(image, name, version, ElfHashTable::sysv);
}

}  // namespace kestrand
