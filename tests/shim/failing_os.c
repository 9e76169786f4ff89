/*
 * failing_os: a preloadable library (LD_PRELOAD) that stands in for the C
 * library's getrandom() and clock_gettime(CLOCK_REALTIME) so that the tests
 * can make the operating system fail the way it really can, inside an
 * unmodified build of the module.
 *
 * Both functions read their behaviour from an environment variable at every
 * call, so a test process changes it between two calls with os.environ:
 *
 *   KESTRAND_SHIM_GETRANDOM = MODE[,OPTION...][#TAG]
 *     pass          the real getrandom()
 *     short         the real getrandom(), at most `chunk` bytes per call (3)
 *     eintr         -1 with errno EINTR `times` times (3), then the real call
 *     eio           -1 with errno EIO
 *     errno=N       -1 with errno N
 *     errno0        -1 with errno 0
 *     errnoneg      -1 with errno -3
 *     zero          0
 *     negative2     -2
 *     toolong       fills the buffer and returns one byte more than asked
 *
 *   KESTRAND_SHIM_CLOCK = MODE[:ARG[:ARG]][,OPTION...][#TAG]
 *     pass                  the real clock
 *     fixed:S:N             S seconds and N nanoseconds after the epoch (S may be negative)
 *     before_epoch:S:N      S seconds and N nanoseconds before the epoch
 *     step_back:S           the real clock minus S seconds
 *     fail_errno[:E]        -1 with errno E (EINVAL)
 *     invalid_nsec[:N]      the real seconds with tv_nsec N (1000000000)
 *
 *   KESTRAND_SHIM_VDSO = hide
 *     getauxval(AT_SYSINFO_EHDR) answers 0, as on a kernel without a vDSO, so
 *     the module's requests go through getrandom() above. Read once, when the
 *     module looks the vDSO up at load time: set it before the process starts.
 *
 *   KESTRAND_SHIM_MMAP = MODE[:E][,OPTION...][#TAG]
 *     applies to the mappings for the vDSO getrandom's opaque states only (the
 *     anonymous mappings of type MAP_DROPPABLE, which nothing else here asks for)
 *     pass          the real mmap()
 *     fail[:E]      MAP_FAILED with errno E (ENOMEM)
 *     Options: skip=N, times=N, delay_ms=N, notify_fd=N as for getrandom (the
 *     byte is written before the delay).
 *     kestrand_shim_state_mmaps() returns how many such mappings were made.
 *
 *   KESTRAND_SHIM_ATFORK = fail[:E]
 *     pthread_atfork() (which reaches the C library as __register_atfork)
 *     registers nothing and returns E (ENOMEM)
 *
 *   Options, for both:
 *     skip=N     the first N calls pass through (real result) before MODE applies
 *     times=N    MODE applies to N calls only; later calls pass through
 *     chunk=N    (getrandom) largest number of bytes one call delivers
 *     fill=seq   (getrandom) bytes delivered are 0, 1, 2, ... counted across
 *                calls instead of random, so a test can predict the UUID
 *     delay_ms=N (getrandom) the call takes N ms longer, as a kernel whose
 *                random pool is not ready yet would block
 *     len=N      (getrandom) MODE and delay apply only to requests of N bytes
 *     notify_fd=N, wait_fd=M
 *                (getrandom) the call writes one byte to fd N, then waits until
 *                it can read one byte from fd M: a test learns that the call is
 *                under way and decides when it ends
 *
 * Call counts (for skip and times) and the fill=seq counter restart whenever
 * the variable's text changes; text after '#' is ignored, so appending a new
 * tag re-arms the same setting. Unset or empty means "pass". Clocks other than
 * CLOCK_REALTIME always pass through.
 *
 * The test process can also read what getrandom() was asked for through
 * ctypes: kestrand_shim_getrandom_log(lengths, results, max) copies up to max
 * (requested length, return value) pairs recorded since the last
 * kestrand_shim_reset_log() and returns how many calls there were.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#define SETTING_MAX 256
#define LOG_MAX 4096

struct setting {
    char mode[32];
    long long arg1, arg2;
    int has_arg1, has_arg2;
    long long skip;
    long long times; /* -1: unlimited */
    long long chunk; /* 0: no limit */
    long long delay_ms;
    long long only_len; /* 0: every request */
    int fill_seq;
    int notify_fd; /* -1: none */
    int wait_fd;   /* -1: none */
};

/* Per-function state: the last text seen and the calls counted since. */
struct tracker {
    char last[SETTING_MAX];
    long long calls;
    unsigned char next_byte;
};

static pthread_mutex_t shim_lock = PTHREAD_MUTEX_INITIALIZER;
static struct tracker getrandom_tracker;
static struct tracker clock_tracker;
static struct tracker mmap_tracker;
static long long state_mmaps;
static long long log_count;
static long long log_lengths[LOG_MAX];
static long long log_results[LOG_MAX];

static void parse_setting(const char* text, struct setting* out, long long default_times) {
    memset(out, 0, sizeof *out);
    out->times = default_times;
    out->notify_fd = -1;
    out->wait_fd = -1;
    strcpy(out->mode, "pass");
    if (text == NULL || *text == '\0') {
        return;
    }
    char buffer[SETTING_MAX];
    strncpy(buffer, text, sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    char* tag = strchr(buffer, '#');
    if (tag != NULL) {
        *tag = '\0';
    }
    char* save = NULL;
    char* part = strtok_r(buffer, ",", &save);
    if (part == NULL) {
        return;
    }
    /* MODE[:ARG[:ARG]] */
    char* colon = strchr(part, ':');
    if (colon != NULL) {
        *colon = '\0';
        char* second = strchr(colon + 1, ':');
        if (second != NULL) {
            *second = '\0';
            out->arg2 = strtoll(second + 1, NULL, 10);
            out->has_arg2 = 1;
        }
        out->arg1 = strtoll(colon + 1, NULL, 10);
        out->has_arg1 = 1;
    }
    strncpy(out->mode, part, sizeof out->mode - 1);
    while ((part = strtok_r(NULL, ",", &save)) != NULL) {
        if (strncmp(part, "skip=", 5) == 0) {
            out->skip = strtoll(part + 5, NULL, 10);
        } else if (strncmp(part, "times=", 6) == 0) {
            out->times = strtoll(part + 6, NULL, 10);
        } else if (strncmp(part, "chunk=", 6) == 0) {
            out->chunk = strtoll(part + 6, NULL, 10);
        } else if (strncmp(part, "delay_ms=", 9) == 0) {
            out->delay_ms = strtoll(part + 9, NULL, 10);
        } else if (strncmp(part, "len=", 4) == 0) {
            out->only_len = strtoll(part + 4, NULL, 10);
        } else if (strncmp(part, "notify_fd=", 10) == 0) {
            out->notify_fd = atoi(part + 10);
        } else if (strncmp(part, "wait_fd=", 8) == 0) {
            out->wait_fd = atoi(part + 8);
        } else if (strcmp(part, "fill=seq") == 0) {
            out->fill_seq = 1;
        }
    }
}

/* Counts this call and says whether MODE applies to it (else: pass through). */
static int mode_applies(struct tracker* tracker, const char* text, const struct setting* setting) {
    const char* current = text == NULL ? "" : text;
    if (strncmp(tracker->last, current, SETTING_MAX - 1) != 0) {
        strncpy(tracker->last, current, SETTING_MAX - 1);
        tracker->last[SETTING_MAX - 1] = '\0';
        tracker->calls = 0;
        tracker->next_byte = 0;
    }
    long long index = tracker->calls++;
    if (index < setting->skip) {
        return 0;
    }
    return setting->times < 0 || index - setting->skip < setting->times;
}

/* Reads the setting in `name` and counts this call; 1 if MODE applies to it. */
static int current_setting(const char* name, struct tracker* tracker, struct setting* setting) {
    const char* text = getenv(name);
    pthread_mutex_lock(&shim_lock);
    parse_setting(text, setting, -1);
    int applies = mode_applies(tracker, text, setting);
    pthread_mutex_unlock(&shim_lock);
    return applies;
}

static void pause_ms(long long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
    }
}

/* ---- getrandom ---------------------------------------------------------- */

typedef ssize_t (*getrandom_fn)(void*, size_t, unsigned int);

static ssize_t real_getrandom(void* buffer, size_t length, unsigned int flags) {
    static getrandom_fn next;
    if (next == NULL) {
        next = (getrandom_fn)dlsym(RTLD_NEXT, "getrandom");
    }
    if (next != NULL) {
        return next(buffer, length, flags);
    }
    return (ssize_t)syscall(SYS_getrandom, buffer, length, flags);
}

/* Delivers up to `length` bytes as the kernel would, or counting bytes with fill=seq. */
static ssize_t deliver(struct tracker* tracker, const struct setting* setting, void* buffer,
                       size_t length, unsigned int flags) {
    if (setting->chunk > 0 && length > (size_t)setting->chunk) {
        length = (size_t)setting->chunk;
    }
    if (!setting->fill_seq) {
        return real_getrandom(buffer, length, flags);
    }
    unsigned char* out = buffer;
    for (size_t i = 0; i < length; ++i) {
        out[i] = tracker->next_byte++;
    }
    return (ssize_t)length;
}

static void record(size_t length, ssize_t result) {
    if (log_count < LOG_MAX) {
        log_lengths[log_count] = (long long)length;
        log_results[log_count] = (long long)result;
    }
    ++log_count;
}

ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
    const char* text = getenv("KESTRAND_SHIM_GETRANDOM");
    struct setting setting;
    ssize_t result;
    int error = 0;

    pthread_mutex_lock(&shim_lock);
    parse_setting(text, &setting, -1);
    if (strcmp(setting.mode, "eintr") == 0 && setting.times < 0) {
        setting.times = 3;
    }
    if (strcmp(setting.mode, "short") == 0 && setting.chunk == 0) {
        setting.chunk = 3;
    }
    int applies = (setting.only_len == 0 || (size_t)setting.only_len == length) &&
                  mode_applies(&getrandom_tracker, text, &setting);
    const char* mode = applies ? setting.mode : "pass";
    if (strcmp(mode, "eintr") == 0) {
        result = -1;
        error = EINTR;
    } else if (strcmp(mode, "eio") == 0) {
        result = -1;
        error = EIO;
    } else if (strncmp(mode, "errno=", 6) == 0) {
        result = -1;
        error = atoi(mode + 6);
    } else if (strcmp(mode, "errno0") == 0) {
        result = -1;
        error = 0;
    } else if (strcmp(mode, "errnoneg") == 0) {
        result = -1;
        error = -3;
    } else if (strcmp(mode, "zero") == 0) {
        result = 0;
    } else if (strcmp(mode, "negative2") == 0) {
        result = -2;
    } else if (strcmp(mode, "toolong") == 0) {
        struct setting whole = setting;
        whole.chunk = 0;
        result = deliver(&getrandom_tracker, &whole, buffer, length, flags);
        if (result == (ssize_t)length) {
            result += 1;
        }
    } else {
        /* pass and short; a call outside `times` keeps the chunk and fill. */
        result = deliver(&getrandom_tracker, &setting, buffer, length, flags);
        if (result < 0) {
            error = errno;
        }
    }
    record(length, result);
    pthread_mutex_unlock(&shim_lock);
    if (applies && setting.notify_fd >= 0) {
        while (write(setting.notify_fd, "!", 1) == -1 && errno == EINTR) {
        }
    }
    if (applies && setting.wait_fd >= 0) {
        char byte;
        while (read(setting.wait_fd, &byte, 1) == -1 && errno == EINTR) {
        }
    }
    if (applies && setting.delay_ms > 0) {
        pause_ms(setting.delay_ms);
    }
    if (result == -1) {
        errno = error;
    }
    return result;
}

/* The shim's own lock must not be copied into a child while taken. */
static void lock_for_fork(void) { pthread_mutex_lock(&shim_lock); }
static void unlock_after_fork(void) { pthread_mutex_unlock(&shim_lock); }

__attribute__((constructor)) static void register_fork_handlers(void) {
    pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
}

void kestrand_shim_reset_log(void) {
    pthread_mutex_lock(&shim_lock);
    log_count = 0;
    pthread_mutex_unlock(&shim_lock);
}

long long kestrand_shim_getrandom_log(long long* lengths, long long* results, long long max) {
    pthread_mutex_lock(&shim_lock);
    long long count = log_count;
    for (long long i = 0; i < count && i < max && i < LOG_MAX; ++i) {
        lengths[i] = log_lengths[i];
        results[i] = log_results[i];
    }
    pthread_mutex_unlock(&shim_lock);
    return count;
}

/* ---- clock_gettime ------------------------------------------------------ */

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);

static int real_clock_gettime(clockid_t clock, struct timespec* out) {
    static clock_gettime_fn next;
    if (next == NULL) {
        next = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    }
    if (next != NULL) {
        return next(clock, out);
    }
    return (int)syscall(SYS_clock_gettime, clock, out);
}

int clock_gettime(clockid_t clock, struct timespec* out) {
    if (clock != CLOCK_REALTIME) {
        return real_clock_gettime(clock, out);
    }
    struct setting setting;
    int applies = current_setting("KESTRAND_SHIM_CLOCK", &clock_tracker, &setting);
    const char* mode = applies ? setting.mode : "pass";

    const long long billion = 1000000000LL;
    if (strcmp(mode, "fixed") == 0) {
        out->tv_sec = (time_t)setting.arg1;
        out->tv_nsec = (long)setting.arg2;
        return 0;
    }
    if (strcmp(mode, "before_epoch") == 0) {
        /* -(S s + N ns) as whole seconds (rounded down) and nanoseconds in [0, 1e9). */
        long long seconds = -setting.arg1;
        long long nanos = -setting.arg2;
        while (nanos < 0) {
            nanos += billion;
            seconds -= 1;
        }
        out->tv_sec = (time_t)seconds;
        out->tv_nsec = (long)nanos;
        return 0;
    }
    if (strcmp(mode, "fail_errno") == 0) {
        errno = setting.has_arg1 ? (int)setting.arg1 : EINVAL;
        return -1;
    }
    int status = real_clock_gettime(clock, out);
    if (status != 0) {
        return status;
    }
    if (strcmp(mode, "step_back") == 0) {
        out->tv_sec -= (time_t)setting.arg1;
    } else if (strcmp(mode, "invalid_nsec") == 0) {
        out->tv_nsec = setting.has_arg1 ? (long)setting.arg1 : (long)billion;
    }
    return 0;
}

/* ---- getauxval and mmap: the vDSO path ---------------------------------- */

typedef unsigned long (*getauxval_fn)(unsigned long);

unsigned long getauxval(unsigned long type) {
    if (type == AT_SYSINFO_EHDR) {
        const char* text = getenv("KESTRAND_SHIM_VDSO");
        if (text != NULL && strcmp(text, "hide") == 0) {
            return 0;
        }
    }
    static getauxval_fn next;
    if (next == NULL) {
        next = (getauxval_fn)dlsym(RTLD_NEXT, "getauxval");
    }
    return next(type);
}

#ifndef MAP_DROPPABLE
#define MAP_DROPPABLE 0x08
#endif

static void* real_mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    return (void*)syscall(SYS_mmap, address, length, prot, flags, fd, offset);
}

void* mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    if ((flags & MAP_TYPE) != MAP_DROPPABLE || (flags & MAP_ANONYMOUS) == 0) {
        return real_mmap(address, length, prot, flags, fd, offset);
    }
    struct setting setting;
    int applies = current_setting("KESTRAND_SHIM_MMAP", &mmap_tracker, &setting);
    if (applies && setting.notify_fd >= 0) {
        while (write(setting.notify_fd, "!", 1) == -1 && errno == EINTR) {
        }
    }
    if (applies && setting.delay_ms > 0) {
        pause_ms(setting.delay_ms);
    }
    if (applies && strcmp(setting.mode, "fail") == 0) {
        errno = setting.has_arg1 ? (int)setting.arg1 : ENOMEM;
        return MAP_FAILED;
    }
    void* result = real_mmap(address, length, prot, flags, fd, offset);
    if (result != MAP_FAILED) {
        __atomic_add_fetch(&state_mmaps, 1, __ATOMIC_RELAXED);
    }
    return result;
}

long long kestrand_shim_state_mmaps(void) { return __atomic_load_n(&state_mmaps, __ATOMIC_RELAXED); }

/* ---- pthread_atfork ----------------------------------------------------- */

typedef int (*register_atfork_fn)(void (*)(void), void (*)(void), void (*)(void), void*);

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void),
                      void* dso_handle) {
    const char* text = getenv("KESTRAND_SHIM_ATFORK");
    if (text != NULL && strncmp(text, "fail", 4) == 0) {
        return text[4] == ':' ? atoi(text + 5) : ENOMEM;
    }
    static register_atfork_fn next;
    if (next == NULL) {
        next = (register_atfork_fn)dlsym(RTLD_NEXT, "__register_atfork");
    }
    return next(prepare, parent, child, dso_handle);
}
