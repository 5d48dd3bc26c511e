#include "core/threads.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

// The wheels load on glibc 2.17, where the thread functions are libpthread's
// at the architecture's first symbol version (which a threaded interpreter
// has loaded).  glibc 2.34 moved them into libc under a new version and kept
// the old one, at the same code: binding to the old one serves both.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2.5");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.2.5");
#elif defined(__GLIBC__) && defined(__aarch64__)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.17");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.17");
#endif

namespace merandol {

namespace {

int usable_cores() noexcept {
#ifdef __linux__
    // The affinity mask, which a container's or taskset's limit narrows.
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return CPU_COUNT(&cpus);
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(std::min<long>(online, kThreadsMax)) : 1;
}

struct Thread {
    void (*work)(void *, int) noexcept;
    void *context;
    int thread;
};

void *start(void *thread) {
    const auto &t = *static_cast<const Thread *>(thread);
    t.work(t.context, t.thread);
    return nullptr;
}

}  // namespace

int thread_count(std::int64_t rows) noexcept {
    if (rows < 2 * kThreadRowsMin) return 1;
    const std::int64_t most = std::min<std::int64_t>(rows / kThreadRowsMin, kThreadsMax);
    return static_cast<int>(std::clamp<std::int64_t>(usable_cores(), 1, most));
}

void run_threads(int threads, void (*work)(void *context, int thread) noexcept, void *context) noexcept {
    threads = std::clamp(threads, 1, kThreadsMax);
    Thread each[kThreadsMax];
    pthread_t handles[kThreadsMax];
    bool started[kThreadsMax] = {};
    // A thread inherits the mask of the one that starts it.  (In a process
    // of threads sigprocmask is glibc's pthread_sigmask, at a version every
    // glibc has.)
    sigset_t all, before;
    sigfillset(&all);
    const bool masked = sigprocmask(SIG_SETMASK, &all, &before) == 0;
    for (int thread = 1; thread < threads; ++thread) {
        each[thread] = {work, context, thread};
        started[thread] = pthread_create(&handles[thread], nullptr, start, &each[thread]) == 0;
    }
    if (masked) sigprocmask(SIG_SETMASK, &before, nullptr);
    work(context, 0);
    for (int thread = 1; thread < threads; ++thread) {
        if (started[thread])
            pthread_join(handles[thread], nullptr);
        else
            work(context, thread);
    }
}

}  // namespace merandol
