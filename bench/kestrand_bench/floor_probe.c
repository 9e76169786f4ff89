/* The floors the benchmark sets each generator beside: what 16 random bytes
   cost from the kernel, timed entirely in C. The benchmark compiles this file
   into a temporary shared library on each run (floors.py) and calls it through
   ctypes, which releases the interpreter lock, so it also runs in threads. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

/* Average nanoseconds per getrandom(buf, 16, 0) over n calls, or -errno. */
double getrandom_ns_per_call(long n) {
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        if (getrandom(buf, sizeof buf, 0) != (long)sizeof buf) {
            return -(double)errno;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}

/* Average nanoseconds per getrandom system call for 16 bytes over n calls, or
   -errno: the kernel entered every time, whatever the C library's getrandom()
   does (from glibc 2.41 on, that goes through the vDSO itself). */
double syscall_getrandom_ns_per_call(long n) {
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        if (syscall(SYS_getrandom, buf, sizeof buf, 0) != (long)sizeof buf) {
            return -(double)errno;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}

/* The same, with a shared counter bumped under a lock before each call: what
   any generator pays whose values are ordered across threads. */
static pthread_mutex_t shared_lock = PTHREAD_MUTEX_INITIALIZER;
static unsigned long shared_counter;

double getrandom_shared_counter_ns_per_call(long n) {
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        pthread_mutex_lock(&shared_lock);
        shared_counter++;
        pthread_mutex_unlock(&shared_lock);
        if (getrandom(buf, sizeof buf, 0) != (long)sizeof buf) {
            return -(double)errno;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}

/* The kernel's getrandom in the vDSO (Linux 6.11+), which the C library uses
   itself only from glibc 2.41 on: 16 bytes from the same generator, served
   from a per-thread opaque state without entering the kernel. Found through
   the dynamic loader's entry for the vDSO. */
typedef ssize_t (*vgetrandom_fn)(void*, size_t, unsigned int, void*, size_t);
struct vgetrandom_params { uint32_t size, prot, flags, reserved[13]; };

static vgetrandom_fn vdso_function(struct vgetrandom_params* params) {
    void* vdso = dlopen("linux-vdso.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (vdso == NULL) {
        return NULL;
    }
#if defined(__x86_64__)
    vgetrandom_fn fn = (vgetrandom_fn)dlvsym(vdso, "__vdso_getrandom", "LINUX_2.6");
#elif defined(__aarch64__)
    vgetrandom_fn fn = (vgetrandom_fn)dlvsym(vdso, "__kernel_getrandom", "LINUX_2.6.39");
#else
    vgetrandom_fn fn = NULL;
#endif
    if (fn == NULL || fn(NULL, 0, 0, params, ~(size_t)0) != 0) {
        return NULL;
    }
    return fn;
}

/* Average nanoseconds per 16-byte vDSO getrandom call over n calls with this
   thread's own state; -1 when the kernel offers none, -2 on a failed call. */
double vdso_getrandom_ns_per_call(long n) {
    static __thread void* state;
    struct vgetrandom_params params;
    vgetrandom_fn fn = vdso_function(&params);
    if (fn == NULL) {
        return -1;
    }
    if (state == NULL) {
        state = mmap(NULL, 4096, (int)params.prot, (int)params.flags, -1, 0);
        if (state == MAP_FAILED) {
            state = NULL;
            return -1;
        }
    }
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        if (fn(buf, sizeof buf, 0, state, params.size) != (ssize_t)sizeof buf) {
            return -2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}
