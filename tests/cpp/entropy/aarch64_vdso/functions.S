// Two exported functions, as in the aarch64 vDSO. Each begins with a word that
// names it, so a test can tell from the bytes at a found address which symbol
// it found.
        .text
        .globl  __kernel_getrandom
        .type   __kernel_getrandom, %function
__kernel_getrandom:
        .word   0x0000a001
        ret
        .size   __kernel_getrandom, . - __kernel_getrandom

        .globl  __kernel_clock_gettime
        .type   __kernel_clock_gettime, %function
__kernel_clock_gettime:
        .word   0x0000a002
        ret
        .size   __kernel_clock_gettime, . - __kernel_clock_gettime
