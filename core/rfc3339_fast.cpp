#include "core/rfc3339_fast.hpp"

#include <atomic>
#include <cstring>

#include "core/datetime.hpp"
#include "core/digits.hpp"
#include "core/rfc3339.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define MERANDOL_FAST_X86 1
#endif

namespace merandol {

// --- What every kernel shares -------------------------------------------------
//
// A text of the shape is the body, "YYYY-MM-DDTHH:MM:SS" with an optional
// "." and one to nine digits (19 or 21 to 29 bytes), then the zone, "Z" or
// "+HH:MM" (1 or 6 bytes): 20 to 35 bytes in all.  Its last byte tells the
// zone, which tells where the body ends.

inline constexpr std::size_t kFastTextMin = 19 + 1;
inline constexpr std::size_t kBodyPlain = 19;                      // no fraction
inline constexpr std::size_t kBodyShortest = kBodyPlain + 2;       // a dot and one digit
inline constexpr std::size_t kBodyLongest = kBodyPlain + 10;       // a dot and nine digits
inline constexpr std::size_t kSeparatorAt = 10;                    // "T" or " "
static_assert(kBodyLongest <= kFastWindow && kFastTextMax == kBodyLongest + 6);

// The zone at the end of a text of at least kFastTextMin bytes: "Z" or "z",
// or "+HH:MM" / "-HH:MM" with hours at most 23 and minutes at most 59, as
// the full reader bounds them.  Gives the length of the body before it.
[[gnu::always_inline]] static inline bool read_zone(const char *text, std::size_t size, std::size_t &body,
                                                    std::int32_t &offset) noexcept {
    if ((text[size - 1] | 0x20) == 'z') {
        body = size - 1;
        offset = 0;
        return true;
    }
    const char *zone = text + size - 6;
    auto digit = [zone](int i) { return static_cast<unsigned>(static_cast<unsigned char>(zone[i])) - '0'; };
    const unsigned h1 = digit(1), h2 = digit(2), m1 = digit(4), m2 = digit(5);
    const unsigned hours = h1 * 10 + h2, minutes = m1 * 10 + m2;
    const bool sign = zone[0] == '+' || zone[0] == '-';
    if (!sign | (zone[3] != ':') | (h1 > 9) | (h2 > 9) | (m1 > 9) | (m2 > 9) | (hours > 23) | (minutes > 59))
        return false;
    const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
    offset = zone[0] == '-' ? -magnitude : magnitude;
    body = size - 6;
    return true;
}

static constexpr bool body_fits(std::size_t body) noexcept {
    return body == kBodyPlain || (body >= kBodyShortest && body <= kBodyLongest);
}

[[gnu::always_inline]] static inline bool is_separator(char c) noexcept { return c == 'T' || c == ' '; }

// The instant from checked fields; a four-digit year and an offset within a
// day keep it far inside the range.
[[gnu::always_inline]] static inline void finish(Date date, std::uint32_t second_of_day, std::uint32_t nanosecond,
                                                 std::int32_t offset, Rfc3339Instant &out) noexcept {
    out.seconds = days_since_unix_epoch(date) * kSecondsPerDay + second_of_day - offset;
    out.nanosecond = nanosecond;
    out.offset = offset;
}

// --- Scalar: the fixed-place readers of the date and the time -----------------

static bool read_scalar(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    std::size_t body;
    std::int32_t offset;
    if (size - kFastTextMin > kFastTextMax - kFastTextMin || !read_zone(text, size, body, offset) ||
        !body_fits(body) || !is_separator(text[kSeparatorAt]))
        return false;
    Date date;
    Time time;
    if (!read_fixed_date(std::string_view(text, kSeparatorAt), date) ||
        !read_fixed_time(std::string_view(text + kSeparatorAt + 1, body - kSeparatorAt - 1), time))
        return false;
    finish(date, seconds_since_midnight(time), time.nanosecond, offset, out);
    return true;
}

#if MERANDOL_FAST_X86

// --- Vectors ------------------------------------------------------------------
//
// The body's 32-byte window is XORed with the shape, which has '0' at every
// digit's place: a digit lane then holds the digit's value (below 10 exactly
// when the byte is an ASCII digit) and any other lane is zero exactly when it
// holds its separator.  One bit per lane tells whether it fits; the lanes
// from 0 to the body's end must all fit, except the separator's, checked on
// its own since it may be "T" or " ".
//
// The digits are then gathered by a byte shuffle into pairs, and each pair
// (tens, ones) becomes a 16-bit number by one multiply-add with weights 10
// and 1.  Half 0 of the window (bytes 0-15) gives the year's two halves,
// month, day, hour and minute; half 1 (bytes 16-31) gives the second and the
// fraction as a lone first digit and four pairs.  Fraction digits past the
// body's end are cleared first, which reads a short fraction as padded with
// zeros.

// clang-format off
#define MERANDOL_SHAPE '0', '0', '0', '0', '-', '0', '0', '-', '0', '0', 'T', '0', '0', ':', '0', '0', \
                       ':', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'
#define MERANDOL_DIGIT_LANES -1, -1, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, \
                             0, -1, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1
// Per half, the digits' bytes in pairs; -1 gives a zero byte.
#define MERANDOL_GATHER_0 0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, -1, -1, -1, -1
#define MERANDOL_GATHER_1 1, 2, -1, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1, -1, -1, -1
#define MERANDOL_WEIGHTS 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1
// Per 16-bit field: year hundreds, year rest, month, day, hour, minute,
// (none, none); second, first fraction digit, fraction pairs.
#define MERANDOL_FIELD_MIN_0 0, 0, 1, 1, 0, 0, 0, 0
#define MERANDOL_FIELD_MAX_0 99, 99, 12, 31, 23, 59, 0, 0
#define MERANDOL_FIELD_MIN_1 0, 0, 0, 0, 0, 0, 0, 0
#define MERANDOL_FIELD_MAX_1 59, 9, 99, 99, 99, 99, 0, 0
#define MERANDOL_LANE_INDEX 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, \
                            16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31
// clang-format on

// The lanes that must fit for a body of `body` bytes: all below it but the
// separator's.
static constexpr std::uint32_t required_lanes(std::size_t body) noexcept {
    return ((std::uint32_t{1} << body) - 1) & ~(std::uint32_t{1} << kSeparatorAt);
}

// The instant from the sixteen 16-bit fields of the two halves.
[[gnu::always_inline]] static inline bool finish_fields(const std::uint16_t (&f)[16], std::int32_t offset,
                                                        Rfc3339Instant &out) noexcept {
    const auto year = static_cast<std::int32_t>(f[0] * 100u + f[1]);
    const unsigned month = f[2], day = f[3];
    if (day > 28 && day > days_in_month(year, month)) return false;
    const std::uint32_t second_of_day = f[4] * 3600u + f[5] * 60u + f[8];
    const std::uint32_t nanosecond = f[9] * 100000000u + f[10] * 1000000u + f[11] * 10000u + f[12] * 100u + f[13];
    finish(Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)}, second_of_day, nanosecond,
           offset, out);
    return true;
}

[[gnu::target("sse4.2")]] static bool read_sse42(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    std::size_t body;
    std::int32_t offset;
    if (size - kFastTextMin > kFastTextMax - kFastTextMin || !read_zone(text, size, body, offset) ||
        !body_fits(body) || !is_separator(text[kSeparatorAt]))
        return false;
    alignas(16) static constexpr char kShape[32] = {MERANDOL_SHAPE};
    alignas(16) static constexpr signed char kDigitLanes[32] = {MERANDOL_DIGIT_LANES};
    alignas(16) static constexpr signed char kLaneIndex[32] = {MERANDOL_LANE_INDEX};
    auto load = [](const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); };
    auto aligned = [](const void *p) { return _mm_load_si128(static_cast<const __m128i *>(p)); };
    const __m128i x0 = _mm_xor_si128(load(text), aligned(kShape));
    const __m128i x1 = _mm_xor_si128(load(text + 16), aligned(kShape + 16));
    const __m128i nine = _mm_set1_epi8(9), zero = _mm_setzero_si128();
    auto fits = [&](__m128i x, __m128i digit_lanes) {
        const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(x, nine), x);
        return _mm_or_si128(_mm_cmpeq_epi8(x, zero), _mm_and_si128(digit, digit_lanes));
    };
    const auto fitting = static_cast<std::uint32_t>(_mm_movemask_epi8(fits(x0, aligned(kDigitLanes)))) |
                         static_cast<std::uint32_t>(_mm_movemask_epi8(fits(x1, aligned(kDigitLanes + 16)))) << 16;
    const std::uint32_t required = required_lanes(body);
    if ((fitting & required) != required) return false;
    // Lanes past the body read as zero digits.
    const __m128i end = _mm_set1_epi8(static_cast<char>(body));
    const __m128i x1_body = _mm_and_si128(x1, _mm_cmpgt_epi8(end, aligned(kLaneIndex + 16)));
    const __m128i weights = _mm_setr_epi8(MERANDOL_WEIGHTS);
    const __m128i f0 = _mm_maddubs_epi16(_mm_shuffle_epi8(x0, _mm_setr_epi8(MERANDOL_GATHER_0)), weights);
    const __m128i f1 = _mm_maddubs_epi16(_mm_shuffle_epi8(x1_body, _mm_setr_epi8(MERANDOL_GATHER_1)), weights);
    const __m128i out_of_range = _mm_or_si128(
        _mm_or_si128(_mm_cmpgt_epi16(f0, _mm_setr_epi16(MERANDOL_FIELD_MAX_0)),
                     _mm_cmpgt_epi16(_mm_setr_epi16(MERANDOL_FIELD_MIN_0), f0)),
        _mm_or_si128(_mm_cmpgt_epi16(f1, _mm_setr_epi16(MERANDOL_FIELD_MAX_1)),
                     _mm_cmpgt_epi16(_mm_setr_epi16(MERANDOL_FIELD_MIN_1), f1)));
    if (!_mm_testz_si128(out_of_range, out_of_range)) return false;
    alignas(16) std::uint16_t fields[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(fields), f0);
    _mm_store_si128(reinterpret_cast<__m128i *>(fields + 8), f1);
    return finish_fields(fields, offset, out);
}

[[gnu::target("avx2")]] static bool read_avx2(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    std::size_t body;
    std::int32_t offset;
    if (size - kFastTextMin > kFastTextMax - kFastTextMin || !read_zone(text, size, body, offset) ||
        !body_fits(body) || !is_separator(text[kSeparatorAt]))
        return false;
    const __m256i x = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(text)),
                                       _mm256_setr_epi8(MERANDOL_SHAPE));
    const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(x, _mm256_set1_epi8(9)), x);
    const __m256i fits = _mm256_or_si256(_mm256_cmpeq_epi8(x, _mm256_setzero_si256()),
                                         _mm256_and_si256(digit, _mm256_setr_epi8(MERANDOL_DIGIT_LANES)));
    const auto fitting = static_cast<std::uint32_t>(_mm256_movemask_epi8(fits));
    const std::uint32_t required = required_lanes(body);
    if ((fitting & required) != required) return false;
    // Lanes past the body read as zero digits.
    const __m256i in_body =
        _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(body)), _mm256_setr_epi8(MERANDOL_LANE_INDEX));
    const __m256i gathered =
        _mm256_shuffle_epi8(_mm256_and_si256(x, in_body), _mm256_setr_epi8(MERANDOL_GATHER_0, MERANDOL_GATHER_1));
    const __m256i f = _mm256_maddubs_epi16(gathered, _mm256_setr_epi8(MERANDOL_WEIGHTS, MERANDOL_WEIGHTS));
    const __m256i out_of_range =
        _mm256_or_si256(_mm256_cmpgt_epi16(f, _mm256_setr_epi16(MERANDOL_FIELD_MAX_0, MERANDOL_FIELD_MAX_1)),
                        _mm256_cmpgt_epi16(_mm256_setr_epi16(MERANDOL_FIELD_MIN_0, MERANDOL_FIELD_MIN_1), f));
    if (!_mm256_testz_si256(out_of_range, out_of_range)) return false;
    alignas(32) std::uint16_t fields[16];
    _mm256_store_si256(reinterpret_cast<__m256i *>(fields), f);
    return finish_fields(fields, offset, out);
}

#endif  // MERANDOL_FAST_X86

// --- Choosing a kernel --------------------------------------------------------

bool fast_kernel_supported(FastKernel kernel) noexcept {
#if MERANDOL_FAST_X86
    __builtin_cpu_init();
    switch (kernel) {
        case FastKernel::Scalar: return true;
        case FastKernel::Sse42: return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.2");
        case FastKernel::Avx2: return __builtin_cpu_supports("avx2");
    }
    return false;
#else
    return kernel == FastKernel::Scalar;
#endif
}

FastKernel best_fast_kernel() noexcept {
    for (FastKernel kernel : {FastKernel::Avx2, FastKernel::Sse42})
        if (fast_kernel_supported(kernel)) return kernel;
    return FastKernel::Scalar;
}

FastRead fast_reader(FastKernel kernel) noexcept {
#if MERANDOL_FAST_X86
    if (kernel == FastKernel::Avx2) return read_avx2;
    if (kernel == FastKernel::Sse42) return read_sse42;
#endif
    (void)kernel;
    return read_scalar;
}

// The first call through the pointer chooses the kernel and puts its reader
// in place; any thread may do it, as they all choose the same.
static bool choose_and_read(const char *text, std::size_t size, Rfc3339Instant &out) noexcept;
static std::atomic<FastRead> g_fast_read{choose_and_read};

static bool choose_and_read(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    const FastRead read = fast_reader(best_fast_kernel());
    g_fast_read.store(read, std::memory_order_relaxed);
    return read(text, size, out);
}

bool read_fast_rfc3339(std::string_view text, std::size_t readable, Rfc3339Instant &out) noexcept {
    const std::size_t size = text.size();
    if (size - kFastTextMin > kFastTextMax - kFastTextMin) return false;
    const FastRead read = g_fast_read.load(std::memory_order_relaxed);
    if (readable >= kFastWindow) return read(text.data(), size, out);
    // Near the end of its buffer (so shorter than the window): a copy.
    char window[kFastWindow] = {};
    std::memcpy(window, text.data(), size);
    return read(window, size, out);
}

bool read_rfc3339_instant_slowly(std::string_view text, Rfc3339Instant &out) noexcept {
    const auto reading = read_rfc3339(text);
    if (!reading) return false;
    // parse_rfc3339 refuses exactly the readings whose UTC reading leaves
    // the range.
    const std::int64_t seconds = unix_timestamp(reading->local) - reading->offset.seconds;
    if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return false;
    out = {seconds, reading->local.time.nanosecond, reading->offset.seconds};
    return true;
}

bool read_rfc3339_instant(std::string_view text, std::size_t readable, Rfc3339Instant &out) noexcept {
    return read_fast_rfc3339(text, readable, out) || read_rfc3339_instant_slowly(text, out);
}

}  // namespace merandol
