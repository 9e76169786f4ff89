/* The layout of the kernel's vDSO: one loadable segment from the ELF header
 * on, so that the image is the file itself, mapped whole, with every address
 * equal to its offset in the file. */
SECTIONS
{
    . = SIZEOF_HEADERS;
    .hash           : { *(.hash) }                  :text
    .gnu.hash       : { *(.gnu.hash) }
    .dynsym         : { *(.dynsym) }
    .dynstr         : { *(.dynstr) }
    .gnu.version    : { *(.gnu.version) }
    .gnu.version_d  : { *(.gnu.version_d) }
    .gnu.version_r  : { *(.gnu.version_r) }
    .dynamic        : { *(.dynamic) }               :text   :dynamic
    .text           : { *(.text*) *(.data*) *(.got*) }  :text
    /DISCARD/       : { *(.note.GNU-stack) *(.comment) }
}

PHDRS
{
    text        PT_LOAD     FLAGS(5) FILEHDR PHDRS;  /* PF_R | PF_X */
    dynamic     PT_DYNAMIC  FLAGS(4);                /* PF_R */
}
