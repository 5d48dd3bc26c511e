/* Preloaded into a test's subprocess: the real-time clock cannot be read.
 * Every other clock is passed on to the C library, so that the interpreter
 * and its threads keep their monotonic timers. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <time.h>

typedef int clock_reader(clockid_t, struct timespec *);

/* Looked up before any thread of the process exists. */
static clock_reader *next_reader;

__attribute__((constructor)) static void find_next_reader(void) {
    next_reader = (clock_reader *)dlsym(RTLD_NEXT, "clock_gettime");
}

int clock_gettime(clockid_t clock, struct timespec *ts) {
    if (clock == CLOCK_REALTIME || next_reader == NULL) {
        errno = EINVAL;
        return -1;
    }
    return next_reader(clock, ts);
}
