// Finding a function in the vDSO, the shared object the kernel maps into every
// process (its address is the auxiliary vector's AT_SYSINFO_EHDR entry). It is
// not opened through the dynamic loader, so its symbol table is read directly:
// the dynamic section names the tables, either hash table finds the symbol,
// and the version table confirms the symbol's version.
#pragma once

namespace kestrand {

enum class ElfHashTable { gnu, sysv };

// find_vdso_function: the address of the defined function `name` with version
// `version` in the ELF image loaded at `image`, or nullptr. `table` chooses the
// hash table used; nullptr also when the image lacks that table.
void* find_vdso_function(const void* image, const char* name, const char* version,
                         ElfHashTable table) noexcept;

// find_vdso_function: the same through whichever table the image has (GNU first).
void* find_vdso_function(const void* image, const char* name, const char* version) noexcept;

}  // namespace kestrand
