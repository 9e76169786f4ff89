// A vDSO without getrandom (the aarch64 kernels before 6.14).
        .text
        .globl  __kernel_clock_gettime
        .type   __kernel_clock_gettime, %function
__kernel_clock_gettime:
        .word   0x0000a002
        ret
        .size   __kernel_clock_gettime, . - __kernel_clock_gettime
