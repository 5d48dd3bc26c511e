// Nanoseconds per element of the RFC 3339 column readers, without Python:
// 10^6 texts like the columns section's (instants of 2000 to 2040, mixed
// offsets, 0, 3, 6 or 9 fraction digits) in one contiguous buffer with
// 32-bit offsets, as an Arrow utf8 array holds them.  Beside the readers: a
// copy of the same buffer, the floor any reader of it stands on.
//
//   bench_fast_rfc3339 [COUNT]
//
// Each subject runs kRuns times and the fastest run, in the thread's CPU
// time, is reported.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "core/arrow_strings.hpp"
#include "core/rfc3339.hpp"
#include "core/rfc3339_fast.hpp"

namespace merandol {
namespace {

constexpr int kRuns = 7;
constexpr std::int64_t kFirstSecond = 946684800;  // 2000-01-01
constexpr std::int64_t kLastSecond = 2208988800;  // 2040-01-01
constexpr int kOffsetMinutes[] = {0, 0, 0, 0, 60, 120, 180, 330, 345, 480, 540, 570, 600, -180, -210, -300, -420, -480};
constexpr int kFractionDigits[] = {0, 3, 6, 9};

struct Column {
    std::string data;  // the texts, then kFastWindow spare bytes for the kernels alone
    std::vector<std::int32_t> offsets;
    std::vector<std::int64_t> nanos;  // the instants the texts were written from
    std::size_t size() const { return nanos.size(); }
};

Column make_column(std::size_t count) {
    std::mt19937_64 rng(20240105);
    auto pick = [&rng](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(rng);
    };
    Column c;
    c.offsets.push_back(0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t seconds = pick(kFirstSecond, kLastSecond - 1);
        const int digits = kFractionDigits[pick(0, 3)];
        std::int64_t scale = 1;
        for (int d = digits; d < 9; ++d) scale *= 10;
        const std::int64_t fraction = pick(0, 999999999) / scale;
        const int minutes = kOffsetMinutes[pick(0, std::size(kOffsetMinutes) - 1)];
        const DateTime local = *from_unix_timestamp(seconds + minutes * 60, 0);
        char buffer[kRfc3339TextMax + 16];
        char *end = write_datetime(buffer, local) - 1;  // without its "Z"
        if (digits > 0) end += std::snprintf(end, 12, ".%0*lld", digits, static_cast<long long>(fraction));
        if (minutes == 0) {
            *end++ = 'Z';
        } else {
            end = write_offset(end, UtcOffset{minutes * 60});
        }
        c.data.append(buffer, end);
        c.offsets.push_back(static_cast<std::int32_t>(c.data.size()));
        c.nanos.push_back(seconds * 1000000000 + fraction * scale);
    }
    c.data.append(kFastWindow, '\0');
    return c;
}

// The thread's own CPU time: on a machine shared with other work, the wall
// clock counts their turns too.
double cpu_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

template <class Body>
double best_ns_per_element(std::size_t count, Body body) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        const double start = cpu_ns();
        body();
        best = std::min(best, (cpu_ns() - start) / static_cast<double>(count));
    }
    return best;
}

volatile std::int64_t g_sink;

void check(bool ok, const char *what) {
    if (ok) return;
    std::fprintf(stderr, "wrong result: %s\n", what);
    std::exit(1);
}

int run(std::size_t count) {
    const Column c = make_column(count);
    const std::size_t bytes = c.offsets.back();
    std::printf("%zu texts, %zu bytes (%.1f per text), fast kernel of this processor: %s\n\n", count, bytes,
                static_cast<double>(bytes) / static_cast<double>(count),
                best_fast_kernel() == FastKernel::Avx2    ? "avx2"
                : best_fast_kernel() == FastKernel::Sse42 ? "sse4.2"
                                                          : "scalar");
    std::vector<char> copy(bytes);
    std::vector<std::int64_t> values(count);
    auto text = [&c](std::size_t i) {
        return std::string_view(c.data.data() + c.offsets[i],
                                static_cast<std::size_t>(c.offsets[i + 1] - c.offsets[i]));
    };

    const double floor = best_ns_per_element(count, [&] {
        std::memcpy(copy.data(), c.data.data(), bytes);
        g_sink = copy[bytes / 2];
    });
    std::printf("%-44s %7.2f ns  %5.1fx\n", "memcpy of the text buffer (the floor)", floor, 1.0);
    auto report = [&](const char *name, double ns) { std::printf("%-44s %7.2f ns  %5.1fx\n", name, ns, ns / floor); };

    // The kernels alone, every text of the shape.
    for (FastKernel kernel : {FastKernel::Scalar, FastKernel::Sse42, FastKernel::Avx2}) {
        if (!fast_kernel_supported(kernel)) continue;
        const FastRead read = fast_reader(kernel);
        const double ns = best_ns_per_element(count, [&] {
            for (std::size_t i = 0; i < count; ++i) {
                Rfc3339Instant out;
                const std::string_view t = text(i);
                if (!read(t.data(), t.size(), out)) std::abort();
                values[i] = out.seconds * 1000000000 + out.nanosecond;
            }
        });
        check(values == c.nanos, "fast kernel");
        const char *names[] = {"fast path, scalar kernel", "fast path, SSE4.2 kernel", "fast path, AVX2 kernel"};
        report(names[static_cast<int>(kernel)], ns);
    }

    // The best kernel's batch, eight texts a call.
    {
        const FastReadBatch read_batch = fast_batch_reader(best_fast_kernel());
        const double ns = best_ns_per_element(count, [&] {
            std::size_t i = 0;
            for (; i + kFastBatch <= count; i += kFastBatch) {
                const char *texts[kFastBatch];
                std::size_t sizes[kFastBatch];
                for (std::size_t k = 0; k < kFastBatch; ++k) {
                    texts[k] = text(i + k).data();
                    sizes[k] = text(i + k).size();
                }
                FastBatch out;
                if (read_batch(texts, sizes, out) != (1u << kFastBatch) - 1) std::abort();
                for (std::size_t k = 0; k < kFastBatch; ++k)
                    values[i + k] = out.seconds[k] * 1000000000 + out.nanosecond[k];
            }
            for (; i < count; ++i) {
                Rfc3339Instant out;
                if (!read_rfc3339_instant(text(i), out)) std::abort();
                values[i] = out.seconds * 1000000000 + out.nanosecond;
            }
        });
        check(values == c.nanos, "fast batch");
        report("fast path, best kernel, eight texts a call", ns);
    }

    // The full reader: read_rfc3339 and the instant from its reading.
    report("full reader (read_rfc3339, then the instant)", best_ns_per_element(count, [&] {
               for (std::size_t i = 0; i < count; ++i) {
                   Rfc3339Instant out;
                   if (!read_rfc3339_instant_slowly(text(i), out)) std::abort();
                   values[i] = out.seconds * 1000000000 + out.nanosecond;
               }
           }));
    check(values == c.nanos, "full reader");

    // End to end: an Arrow utf8 array, opened and checked, to int64
    // nanoseconds.
    const void *buffers[3] = {nullptr, c.offsets.data(), c.data.data()};
    ArrowArray array{};
    array.length = static_cast<std::int64_t>(count);
    array.n_buffers = 3;
    array.buffers = buffers;
    report("Arrow utf8 column to timestamp[ns] (open+read)", best_ns_per_element(count, [&] {
               const auto column = arrow::StringColumn::open(array, arrow::StringLayout::Utf8);
               if (!column || !arrow::read_timestamps(*column, arrow::TimeUnit::Nano, 0, values.data())) std::abort();
           }));
    check(values == c.nanos, "Arrow column");
    return 0;
}

}  // namespace
}  // namespace merandol

int main(int argc, char **argv) {
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    return merandol::run(count);
}
