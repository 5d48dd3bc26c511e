#include "core/rfc3339_fast.hpp"

#include <algorithm>
#include <array>
#include <atomic>

#include "core/datetime.hpp"
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
inline constexpr std::size_t kBodyPlain = 19;                 // no fraction
inline constexpr std::size_t kBodyShortest = kBodyPlain + 2;  // a dot and one digit
inline constexpr std::size_t kBodyLongest = kBodyPlain + 10;  // a dot and nine digits
inline constexpr std::size_t kSeparatorAt = 10;               // "T" or " "
inline constexpr std::size_t kOffsetZoneSize = sizeof("+HH:MM") - 1;
static_assert(kBodyLongest <= kFastWindow && kFastTextMax == kBodyLongest + kOffsetZoneSize);

// Whether a text ends in "Z" or "z": ASCII letters differ from their other
// case in bit 5 alone ('z' ^ 'Z' = 0x20), which the comparison sets.
inline constexpr char kAsciiCaseBit = 'z' ^ 'Z';
[[gnu::always_inline]] static inline bool ends_in_z(const char *text, std::size_t size) noexcept {
    return (text[size - 1] | kAsciiCaseBit) == 'z';
}

// The zone at the end of a text of at least kFastTextMin bytes: "Z" or "z",
// or "+HH:MM" / "-HH:MM" with hours at most 23 and minutes at most 59, as
// the full reader bounds them.  Gives the length of the body before it.
[[gnu::always_inline]] static inline bool read_zone(const char *text, std::size_t size, std::size_t &body,
                                                    std::int32_t &offset) noexcept {
    if (ends_in_z(text, size)) {
        body = size - 1;
        offset = 0;
        return true;
    }
    const char *zone = text + size - kOffsetZoneSize;
    auto digit = [zone](int i) { return static_cast<unsigned>(static_cast<unsigned char>(zone[i])) - '0'; };
    const unsigned h1 = digit(1), h2 = digit(2), m1 = digit(4), m2 = digit(5);
    const unsigned hours = h1 * 10 + h2, minutes = m1 * 10 + m2;
    const bool sign = zone[0] == '+' || zone[0] == '-';
    if (!sign | (zone[3] != ':') | (h1 > 9) | (h2 > 9) | (m1 > 9) | (m2 > 9) | (hours > 23) | (minutes > 59))
        return false;
    const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
    offset = zone[0] == '-' ? -magnitude : magnitude;
    body = size - kOffsetZoneSize;
    return true;
}

// Whether a text's size is one of the shape's, [kFastTextMin, kFastTextMax],
// in one unsigned comparison: sizes below the least wrap around to huge.
static constexpr bool fast_size(std::size_t size) noexcept {
    return size - kFastTextMin <= kFastTextMax - kFastTextMin;
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
    if (!fast_size(size) || !read_zone(text, size, body, offset) || !body_fits(body) ||
        !is_separator(text[kSeparatorAt]))
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
// Two loads: the body's 32-byte window from the text's start, and the last
// 16 bytes of the text, which end with the zone (a text has at least 20, so
// that load never leaves it).  (The AVX2 kernel reads a text that fits the
// window with that one load: see WindowShape.)  Each is XORed with its
// shape, which has '0' at every digit's place: a digit lane then holds the
// digit's value (below 10 exactly when the byte is an ASCII digit) and any
// other lane is zero when it holds its character, or equal to the shape's alternative there
// (" " for "T", "z" for "Z", "-" for "+") when it holds that.  One bit per
// lane tells whether it fits; the body's lanes and the zone's must all fit.
//
// The digits are then gathered by a byte shuffle into pairs, and each pair
// (tens, ones) becomes a 16-bit field by one multiply-add with weights 10
// and 1: from half 0 of the window (bytes 0-15) the year's two halves,
// month, day, hour and minute; from half 1 (bytes 16-31) the second and the
// fraction as a lone first digit and four pairs, fraction digits past the
// body's end left out (which reads a short fraction as padded with zeros);
// and from the zone its hours and minutes.  One more multiply-add joins the
// fields that only ever meet in a sum.

// Sums that share a 32-bit lane: 32 * month + day (a day is below 2^5) and
// second + 64 * the fraction's first digit (a second is below 2^6).
inline constexpr unsigned kDayBits = 5, kDayMask = (1u << kDayBits) - 1;
inline constexpr unsigned kSecondBits = 6, kSecondMask = (1u << kSecondBits) - 1;
// The fraction's nanoseconds: its first digit in 10^8, the next four in
// 10^4, the last four in ones.
inline constexpr std::uint32_t kNanosOfFirstDigit = 100000000, kNanosOfNextFour = 10000;

// clang-format off
#define MERANDOL_SHAPE '0', '0', '0', '0', '-', '0', '0', '-', '0', '0', 'T', '0', '0', ':', '0', '0', \
                       ':', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'
#define MERANDOL_SHAPE_ALTERNATIVE 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'T' ^ ' ', 0, 0, 0, 0, 0, \
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
// The most a lane may hold once the alternative is folded in: 9 where a
// digit belongs, else 0.
#define MERANDOL_LIMITS 9, 9, 9, 9, 0, 9, 9, 0, 9, 9, 0, 9, 9, 0, 9, 9, \
                        0, 9, 9, 0, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9
// Per half, the digits' bytes in pairs; -1 gives a zero byte.
#define MERANDOL_GATHER_0 0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, -1, -1, -1, -1
#define MERANDOL_GATHER_1 1, 2, -1, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1, -1, -1, -1
#define MERANDOL_WEIGHTS 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1
// The 16-bit fields: year hundreds, year rest, month, day, hour, minute,
// (none, none); second, first fraction digit, four fraction pairs, the
// zone's hours and minutes.  Then the 32-bit sums: the year, the month and
// day as 32 * month + day, the minute of the day, (none); the second and
// the fraction's first digit as second + 64 * digit, the fraction's next
// four digits and last four, the zone's minutes.
#define MERANDOL_FIELD_MIN_0 0, 0, 1, 1, 0, 0, 0, 0
#define MERANDOL_FIELD_MAX_0 99, 99, 12, 31, 23, 59, 0, 0
#define MERANDOL_FIELD_MIN_1 0, 0, 0, 0, 0, 0, 0, 0
#define MERANDOL_FIELD_MAX_1 59, 9, 99, 99, 99, 99, 23, 59
#define MERANDOL_SUMS_0 100, 1, 1 << kDayBits, 1, 60, 1, 0, 0
#define MERANDOL_SUMS_1 1, 1 << kSecondBits, 100, 1, 100, 1, 60, 1
#define MERANDOL_LANE_INDEX 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, \
                            16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31
// clang-format on

// The zone's load: the last 16 bytes of a text.  "+HH:MM" fills its lanes
// 10-15, "Z" its lane 15; the zone's four digits go to bytes 12-15 of half
// 1 of the gathered digits, after the second and the fraction (12 bytes).
inline constexpr std::size_t kHalf = 16;
inline constexpr std::size_t kZoneLoad = 16;
inline constexpr std::size_t kZoneAt = kZoneLoad - kOffsetZoneSize;
inline constexpr std::size_t kZoneDigits[4] = {1, 2, 4, 5};  // of "+HH:MM"
inline constexpr std::size_t kZoneDigitsGathered = 12;
static_assert(kZoneDigitsGathered + std::size(kZoneDigits) == kHalf);

// The bits of lanes [first, end).
static constexpr std::uint32_t lane_bits(std::size_t first, std::size_t end) noexcept {
    return static_cast<std::uint32_t>((std::uint64_t{1} << end) - (std::uint64_t{1} << first));
}

// The zone's load by its zone: shape, alternative and limits as for the
// window, where its digits go, and the lanes that must fit.
struct ZoneShape {
    alignas(16) char pattern[16];
    alignas(16) char alternative[16];
    alignas(16) char limits[16];
    alignas(16) signed char gather[16];
    std::uint32_t required;
};

// The zone at byte `at` of a shape: "Z" (either case) or "+HH:MM" (either
// sign), whose four digits the gather takes into its lanes from
// `digits_lane` on; a gather's half 1 counts its bytes from `half_start`.
template <std::size_t Bytes, std::size_t Lanes>
static constexpr void shape_zone(bool utc, std::size_t at, char (&pattern)[Bytes], char (&alternative)[Bytes],
                                 char (&limits)[Bytes], signed char (&gather)[Lanes], std::size_t digits_lane,
                                 std::size_t half_start) noexcept {
    if (utc) {
        pattern[at] = 'Z';
        alternative[at] = kAsciiCaseBit;
        return;
    }
    pattern[at] = '+';
    alternative[at] = '+' ^ '-';
    pattern[at + 3] = ':';
    for (std::size_t k = 0; k < std::size(kZoneDigits); ++k) {
        pattern[at + kZoneDigits[k]] = '0';
        limits[at + kZoneDigits[k]] = 9;
        gather[digits_lane + k] = static_cast<signed char>(at + kZoneDigits[k] - half_start);
    }
}

static constexpr ZoneShape zone_shape(bool utc) noexcept {
    ZoneShape s{};
    for (signed char &lane : s.gather) lane = -1;
    const std::size_t at = utc ? kZoneLoad - 1 : kZoneAt;
    shape_zone(utc, at, s.pattern, s.alternative, s.limits, s.gather, kZoneDigitsGathered, 0);
    s.required = lane_bits(at, kZoneLoad);
    return s;
}
static_assert(zone_shape(false).required == 0xfc00 && zone_shape(true).required == 0x8000);

// By zone ("Z" second).
alignas(64) static constexpr ZoneShape kZoneShapes[2] = {zone_shape(false), zone_shape(true)};

// The window's gather for a body of `body` bytes: fraction digits past the
// body left out.  (Half 1's indexes count from byte 16.)
static constexpr void gather_body(std::size_t body, signed char (&gather)[32]) noexcept {
    constexpr signed char kGather[32] = {MERANDOL_GATHER_0, MERANDOL_GATHER_1};
    for (std::size_t i = 0; i < 32; ++i)
        gather[i] = i >= kHalf && kGather[i] >= 0 && kGather[i] + kHalf >= body ? -1 : kGather[i];
}

// A whole text of at most 32 bytes lies in the window: then one shape per
// zone and length checks and gathers it all, the zone included, and the
// fraction's lanes past the body are simply not gathered.
struct WindowShape {
    alignas(32) char pattern[32];
    alignas(32) char alternative[32];
    alignas(32) char limits[32];
    alignas(32) signed char gather[32];
};

static constexpr WindowShape window_shape(bool utc, std::size_t size) noexcept {
    WindowShape s{};
    const std::size_t body = size - (utc ? 1 : kOffsetZoneSize);
    if (size < kFastTextMin || size > kFastWindow || !body_fits(body)) return s;  // never used
    constexpr char kBody[] = "0000-00-00T00:00:00.000000000";
    static_assert(sizeof kBody - 1 == kBodyLongest);
    for (std::size_t i = 0; i < body; ++i) {
        s.pattern[i] = kBody[i];
        s.limits[i] = kBody[i] == '0' ? 9 : 0;
    }
    s.alternative[kSeparatorAt] = 'T' ^ ' ';
    gather_body(body, s.gather);
    shape_zone(utc, body, s.pattern, s.alternative, s.limits, s.gather, kHalf + kZoneDigitsGathered, kHalf);
    return s;
}

// By zone ("Z" second) and length.
alignas(64) static constexpr auto kWindowShapes = [] {
    std::array<WindowShape, 2 * (kFastWindow + 1)> shapes{};
    for (std::size_t size = 0; size <= kFastWindow; ++size) {
        shapes[size] = window_shape(false, size);
        shapes[kFastWindow + 1 + size] = window_shape(true, size);
    }
    return shapes;
}();

// The lanes of the window that must fit for a body of `body` bytes.
static constexpr std::uint32_t required_lanes(std::size_t body) noexcept { return lane_bits(0, body); }

// For the batch, every text takes the two loads, and all that its zone and
// length decide comes from one entry, by zone ("Z" second) and length: the
// window's gather, fraction digits past the body left out; the lanes of the
// window that must fit; and the zone's shape.  A length that no text of the
// shape has requires a lane the zone's 16 do not have.
struct BatchShape {
    alignas(32) signed char gather[32];
    ZoneShape zone;
    std::uint32_t body_lanes;
};

static constexpr BatchShape batch_shape(bool utc, std::size_t size) noexcept {
    BatchShape s{};
    s.zone = kZoneShapes[utc];
    const std::size_t body = size - (utc ? 1 : kOffsetZoneSize);
    if (size < kFastTextMin || size > kFastTextMax || !body_fits(body)) {
        s.zone.required = ~std::uint32_t{0};
        return s;
    }
    s.body_lanes = required_lanes(body);
    gather_body(body, s.gather);
    return s;
}

alignas(64) static constexpr auto kBatchShapes = [] {
    std::array<BatchShape, 2 * (kFastTextMax + 1)> shapes{};
    for (std::size_t size = 0; size <= kFastTextMax; ++size) {
        shapes[size] = batch_shape(false, size);
        shapes[kFastTextMax + 1 + size] = batch_shape(true, size);
    }
    return shapes;
}();

// The calendar's count for four-digit years, checked against the day number.
static_assert(days_of_four_digit_year(2024, 2, 29) == days_since_unix_epoch({2024, 2, 29}));
static_assert(days_of_four_digit_year(0, 1, 1) == days_since_unix_epoch({0, 1, 1}));
static_assert(days_of_four_digit_year(9999, 12, 31) == days_since_unix_epoch({9999, 12, 31}));
static_assert(days_of_four_digit_year(1900, 3, 1) == days_since_unix_epoch({1900, 3, 1}));
static_assert(days_of_four_digit_year(2100, 1, 31) == days_since_unix_epoch({2100, 1, 31}));

// The instant from the eight 32-bit sums, two to a word.
[[gnu::always_inline]] static inline bool finish_sums(std::uint64_t date, std::uint64_t time, std::uint64_t fraction,
                                                      std::uint64_t zone, bool negative, Rfc3339Instant &out) noexcept {
    const auto year = static_cast<std::uint32_t>(date), month_day = static_cast<std::uint32_t>(date >> 32);
    const unsigned month = month_day >> kDayBits, day = month_day & kDayMask;
    // Without branches, which mixed columns would mispredict.
    const unsigned leap = (month == 2) & is_leap_year(static_cast<std::int32_t>(year));
    if (day > kDaysOfCommonMonth[month] + leap) return false;
    const auto second_digit = static_cast<std::uint32_t>(fraction);
    const std::int64_t second_of_day =
        static_cast<std::int64_t>(static_cast<std::uint32_t>(time)) * 60 + (second_digit & kSecondMask);
    const std::int32_t minutes = static_cast<std::int32_t>(zone >> 32) * (1 - 2 * static_cast<std::int32_t>(negative));
    const std::int32_t offset = minutes * 60;  // within a day
    out.seconds = days_of_four_digit_year(year, month, day) * kSecondsPerDay + second_of_day - offset;
    out.nanosecond = (second_digit >> kSecondBits) * kNanosOfFirstDigit +
                     static_cast<std::uint32_t>(fraction >> 32) * kNanosOfNextFour + static_cast<std::uint32_t>(zone);
    out.offset = offset;
    return true;
}

// What both vector kernels check first: the length, and the body's length
// that the zone leaves.
[[gnu::always_inline]] static inline bool measure(const char *text, std::size_t size, std::size_t &body,
                                                  bool &utc) noexcept {
    if (!fast_size(size)) return false;
    utc = ends_in_z(text, size);
    body = size - (utc ? 1 : kOffsetZoneSize);
    return body_fits(body);
}

// --- Loads and stores ----------------------------------------------------------

[[gnu::target("sse4.2"), gnu::always_inline]] static inline __m128i load_16(const void *bytes) noexcept {
    return _mm_loadu_si128(static_cast<const __m128i *>(bytes));
}
[[gnu::target("sse4.2"), gnu::always_inline]] static inline __m128i load_16_aligned(const void *bytes) noexcept {
    return _mm_load_si128(static_cast<const __m128i *>(bytes));
}
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i load_32(const void *bytes) noexcept {
    return _mm256_loadu_si256(static_cast<const __m256i *>(bytes));
}
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i load_32_aligned(const void *bytes) noexcept {
    return _mm256_load_si256(static_cast<const __m256i *>(bytes));
}
[[gnu::target("avx2"), gnu::always_inline]] static inline void store_32(void *bytes, __m256i v) noexcept {
    _mm256_storeu_si256(static_cast<__m256i *>(bytes), v);
}

// Bytes 16 to 31 of a text without loading past its end: its last 16 bytes
// (it has at least 20), moved down into place by a shuffle, lanes past the
// text zero.  A text of the window's size or longer has them in place from
// its byte 16, which the load at byte min(size, 32) - 16 gives unmoved, so
// the batch needs no branch on the length.
struct TailShuffle {
    alignas(16) signed char lanes[16];
};
alignas(64) static constexpr auto kTailShuffles = [] {
    std::array<TailShuffle, kFastTextMax + 1> shuffles{};
    for (std::size_t size = kHalf; size <= kFastTextMax; ++size)
        for (std::size_t j = 0; j < kHalf; ++j)
            shuffles[size].lanes[j] = size >= kFastWindow ? static_cast<signed char>(j)
                                      : kHalf + j < size  ? static_cast<signed char>(j + kFastWindow - size)
                                                          : -1;
    return shuffles;
}();

[[gnu::target("sse4.2"), gnu::always_inline]] static inline __m128i second_half_bounded(const char *text,
                                                                                        std::size_t size) noexcept {
    return _mm_shuffle_epi8(load_16(text + std::min(size, kFastWindow) - kHalf),
                            load_16_aligned(kTailShuffles[size].lanes));
}

// The 32-byte window of a text; Bounded, without loading past its end.
template <bool Bounded>
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i load_window(const char *text,
                                                                              std::size_t size) noexcept {
    if constexpr (Bounded)
        return _mm256_inserti128_si256(_mm256_castsi128_si256(load_16(text)), second_half_bounded(text, size), 1);
    (void)size;
    return load_32(text);
}

// --- SSE4.2 ---------------------------------------------------------------------

// One bit per lane of x, set when it fits its place: zero, the
// alternative, or a digit where a digit belongs.  The lesser of x and x ^
// alternative is 0 exactly when x is 0 or the alternative, and x itself
// where the alternative is 0, as at every digit; that must not exceed the
// lane's limit.
[[gnu::target("sse4.2"), gnu::always_inline]] static inline std::uint32_t fitting_sse(__m128i x, __m128i alternative,
                                                                                      __m128i limits) noexcept {
    const __m128i folded = _mm_min_epu8(x, _mm_xor_si128(x, alternative));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(folded, limits), _mm_setzero_si128())));
}

// Bounded: a text shorter than the window is not read past its end (for the
// readers of texts whose buffer ends there); a longer one is loaded as is.
template <bool Bounded>
[[gnu::target("sse4.2")]] static bool read_sse42(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    std::size_t body;
    bool utc;
    if (!measure(text, size, body, utc)) return false;
    alignas(16) static constexpr char kShape[32] = {MERANDOL_SHAPE};
    alignas(16) static constexpr char kAlternative[32] = {MERANDOL_SHAPE_ALTERNATIVE};
    alignas(16) static constexpr char kLimits[32] = {MERANDOL_LIMITS};
    alignas(16) static constexpr signed char kLaneIndex[32] = {MERANDOL_LANE_INDEX};
    const ZoneShape &zone = kZoneShapes[utc];
    const __m128i x0 = _mm_xor_si128(load_16(text), load_16_aligned(kShape));
    const __m128i second = Bounded && size < kFastWindow ? second_half_bounded(text, size) : load_16(text + kHalf);
    const __m128i x1 = _mm_xor_si128(second, load_16_aligned(kShape + kHalf));
    const __m128i xz = _mm_xor_si128(load_16(text + size - kZoneLoad), load_16_aligned(zone.pattern));
    const std::uint32_t required = required_lanes(body);
    const std::uint32_t fitting =
        fitting_sse(x0, load_16_aligned(kAlternative), load_16_aligned(kLimits)) |
        fitting_sse(x1, load_16_aligned(kAlternative + kHalf), load_16_aligned(kLimits + kHalf)) << kHalf;
    if ((fitting & required) != required ||
        (fitting_sse(xz, load_16_aligned(zone.alternative), load_16_aligned(zone.limits)) & zone.required) !=
            zone.required)
        return false;
    const __m128i in_body = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(body)), load_16_aligned(kLaneIndex + kHalf));
    const __m128i weights = _mm_setr_epi8(MERANDOL_WEIGHTS);
    const __m128i f0 = _mm_maddubs_epi16(_mm_shuffle_epi8(x0, _mm_setr_epi8(MERANDOL_GATHER_0)), weights);
    const __m128i f1 =
        _mm_maddubs_epi16(_mm_or_si128(_mm_shuffle_epi8(_mm_and_si128(x1, in_body), _mm_setr_epi8(MERANDOL_GATHER_1)),
                                       _mm_shuffle_epi8(xz, load_16_aligned(zone.gather))),
                          weights);
    const __m128i out_of_range = _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi16(f0, _mm_setr_epi16(MERANDOL_FIELD_MAX_0)),
                                                           _mm_cmpgt_epi16(_mm_setr_epi16(MERANDOL_FIELD_MIN_0), f0)),
                                              _mm_or_si128(_mm_cmpgt_epi16(f1, _mm_setr_epi16(MERANDOL_FIELD_MAX_1)),
                                                           _mm_cmpgt_epi16(_mm_setr_epi16(MERANDOL_FIELD_MIN_1), f1)));
    if (!_mm_testz_si128(out_of_range, out_of_range)) return false;
    const __m128i sums0 = _mm_madd_epi16(f0, _mm_setr_epi16(MERANDOL_SUMS_0));
    const __m128i sums1 = _mm_madd_epi16(f1, _mm_setr_epi16(MERANDOL_SUMS_1));
    return finish_sums(
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums0)), static_cast<std::uint64_t>(_mm_extract_epi64(sums0, 1)),
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums1)), static_cast<std::uint64_t>(_mm_extract_epi64(sums1, 1)),
        (text[size - kOffsetZoneSize] == '-') & !utc, out);
}

// --- AVX2, one text -------------------------------------------------------------

// The fields of gathered digits, checked, and their sums: the year, 32 *
// month + day, the minute of the day, (none), the second + 64 * the
// fraction's first digit, its next four digits and last four, the zone's
// minutes.  False when a field is out of its range.
[[gnu::target("avx2"), gnu::always_inline]] static inline bool sum_fields_avx2(__m256i gathered,
                                                                               __m256i &sums) noexcept {
    const __m256i f = _mm256_maddubs_epi16(gathered, _mm256_setr_epi8(MERANDOL_WEIGHTS, MERANDOL_WEIGHTS));
    const __m256i out_of_range =
        _mm256_or_si256(_mm256_cmpgt_epi16(f, _mm256_setr_epi16(MERANDOL_FIELD_MAX_0, MERANDOL_FIELD_MAX_1)),
                        _mm256_cmpgt_epi16(_mm256_setr_epi16(MERANDOL_FIELD_MIN_0, MERANDOL_FIELD_MIN_1), f));
    sums = _mm256_madd_epi16(f, _mm256_setr_epi16(MERANDOL_SUMS_0, MERANDOL_SUMS_1));
    return _mm256_testz_si256(out_of_range, out_of_range);
}

// The fields and sums of gathered digits, checked, to the instant.
[[gnu::target("avx2"), gnu::always_inline]] static inline bool convert_avx2(__m256i gathered, bool negative,
                                                                            Rfc3339Instant &out) noexcept {
    __m256i sums;
    if (!sum_fields_avx2(gathered, sums)) return false;
    const __m128i sums0 = _mm256_castsi256_si128(sums), sums1 = _mm256_extracti128_si256(sums, 1);
    return finish_sums(static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums0)),
                       static_cast<std::uint64_t>(_mm_extract_epi64(sums0, 1)),
                       static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums1)),
                       static_cast<std::uint64_t>(_mm_extract_epi64(sums1, 1)), negative, out);
}

// fitting_sse for 32 lanes.
[[gnu::target("avx2"), gnu::always_inline]] static inline std::uint32_t fitting_avx2(__m256i x, __m256i alternative,
                                                                                     __m256i limits) noexcept {
    const __m256i folded = _mm256_min_epu8(x, _mm256_xor_si256(x, alternative));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_subs_epu8(folded, limits), _mm256_setzero_si256())));
}

// 16 bytes in half 1 of a vector, half 0 zero.
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i in_half_1(__m128i bytes) noexcept {
    return _mm256_inserti128_si256(_mm256_setzero_si256(), bytes, 1);
}

// Checks a text for the shape and gathers its digits in pairs, as the
// fields take them; false when it is not of the shape.
template <bool Bounded>
[[gnu::target("avx2"), gnu::always_inline]] static inline bool gather_avx2(const char *text, std::size_t size,
                                                                           __m256i &gathered, bool &negative) noexcept {
    std::size_t body;
    bool utc;
    if (!measure(text, size, body, utc)) return false;
    negative = (text[size - kOffsetZoneSize] == '-') & !utc;
    const __m256i window =
        Bounded && size < kFastWindow ? load_window<true>(text, size) : load_window<false>(text, size);
    if (size <= kFastWindow) {
        const WindowShape &shape = kWindowShapes[(utc ? kFastWindow + 1 : 0) + size];
        const __m256i x = _mm256_xor_si256(window, load_32_aligned(shape.pattern));
        const std::uint32_t required = lane_bits(0, size);
        if ((fitting_avx2(x, load_32_aligned(shape.alternative), load_32_aligned(shape.limits)) & required) != required)
            return false;
        gathered = _mm256_shuffle_epi8(x, load_32_aligned(shape.gather));
        return true;
    }
    // Longer texts end past the window: their zone is read from the text's
    // last 16 bytes.
    const ZoneShape &zone = kZoneShapes[utc];
    const __m256i x = _mm256_xor_si256(window, _mm256_setr_epi8(MERANDOL_SHAPE));
    const std::uint32_t fitting =
        fitting_avx2(x, _mm256_setr_epi8(MERANDOL_SHAPE_ALTERNATIVE), _mm256_setr_epi8(MERANDOL_LIMITS));
    const __m128i xz = _mm_xor_si128(load_16(text + size - kZoneLoad), load_16_aligned(zone.pattern));
    const std::uint32_t zone_fitting = fitting_sse(xz, load_16_aligned(zone.alternative), load_16_aligned(zone.limits));
    const std::uint32_t required = required_lanes(body);
    if ((fitting & required) != required || (zone_fitting & zone.required) != zone.required) return false;
    // Fraction lanes past the body are left out; the zone's digits join
    // half 1.
    const __m256i in_body =
        _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(body)), _mm256_setr_epi8(MERANDOL_LANE_INDEX));
    gathered = _mm256_or_si256(
        _mm256_shuffle_epi8(_mm256_and_si256(x, in_body), _mm256_setr_epi8(MERANDOL_GATHER_0, MERANDOL_GATHER_1)),
        in_half_1(_mm_shuffle_epi8(xz, load_16_aligned(zone.gather))));
    return true;
}

template <bool Bounded>
[[gnu::target("avx2")]] static bool read_avx2(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    __m256i gathered;
    bool negative;
    return gather_avx2<Bounded>(text, size, gathered, negative) && convert_avx2(gathered, negative, out);
}

// --- AVX2, eight texts ----------------------------------------------------------
//
// Each text is checked and its digits summed into eight sums as above; the
// sums of the eight are then transposed, so that each vector holds one sum
// of all eight texts, and the calendar runs once in eight 32-bit lanes (its
// numbers stay below 2^26), the seconds in 64-bit lanes at the end.

[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i set(std::int32_t v) noexcept {
    return _mm256_set1_epi32(v);
}

// The shape of the window, as every text of a batch is loaded.
struct WindowConstants {
    __m256i shape, alternative, limits;
};

// One text of a batch: checked for the shape, with the two loads and its
// entry of kBatchShapes, and its digits summed; false when it is not of the
// shape, its sums then of no use.
template <bool Bounded>
[[gnu::target("avx2"), gnu::always_inline]] static inline bool sum_text_avx2(const char *text, std::size_t size,
                                                                             const WindowConstants &window_shape,
                                                                             __m256i &sums, bool &negative) noexcept {
    if (!fast_size(size)) {
        sums = _mm256_setzero_si256();
        negative = false;
        return false;
    }
    const bool utc = ends_in_z(text, size);
    const BatchShape &s = kBatchShapes[utc * (kFastTextMax + 1) + size];
    const __m256i x = _mm256_xor_si256(load_window<Bounded>(text, size), window_shape.shape);
    const __m128i xz = _mm_xor_si128(load_16(text + size - kZoneLoad), load_16_aligned(s.zone.pattern));
    const std::uint32_t body_off_shape = ~fitting_avx2(x, window_shape.alternative, window_shape.limits) & s.body_lanes;
    const std::uint32_t zone_off_shape =
        ~fitting_sse(xz, load_16_aligned(s.zone.alternative), load_16_aligned(s.zone.limits)) & s.zone.required;
    const __m256i gathered = _mm256_or_si256(_mm256_shuffle_epi8(x, load_32_aligned(s.gather)),
                                             in_half_1(_mm_shuffle_epi8(xz, load_16_aligned(s.zone.gather))));
    negative = (text[size - kOffsetZoneSize] == '-') & !utc;
    return sum_fields_avx2(gathered, sums) & ((body_off_shape | zone_off_shape) == 0);
}

// The sums of a batch, one vector per kind of sum, a lane per text.
struct BatchSums {
    __m256i year, month_day, minute_of_day, second_digit, fraction_high, fraction_low, zone_minutes;
};

// _mm256_permute2x128_si256's selectors: the low 128 bits of both vectors,
// or the high 128 bits of both (in each nibble, 0 and 1 name the first's
// halves, 2 and 3 the second's).
inline constexpr int kLowHalves = 0x20;
inline constexpr int kHighHalves = 0x31;

// Eight vectors of sums, one per text, transposed as 8 x 8 32-bit lanes:
// within each half by unpacking pairs of lanes, then of 64-bit pairs, then
// the halves joined.
[[gnu::target("avx2"), gnu::always_inline]] static inline BatchSums transpose_sums(
    const __m256i (&text_sums)[kFastBatch]) noexcept {
    const __m256i *t = text_sums;
    const __m256i t0 = _mm256_unpacklo_epi32(t[0], t[1]), t1 = _mm256_unpackhi_epi32(t[0], t[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(t[2], t[3]), t3 = _mm256_unpackhi_epi32(t[2], t[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(t[4], t[5]), t5 = _mm256_unpackhi_epi32(t[4], t[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(t[6], t[7]), t7 = _mm256_unpackhi_epi32(t[6], t[7]);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    return {_mm256_permute2x128_si256(u0, u4, kLowHalves),  _mm256_permute2x128_si256(u1, u5, kLowHalves),
            _mm256_permute2x128_si256(u2, u6, kLowHalves),  _mm256_permute2x128_si256(u0, u4, kHighHalves),
            _mm256_permute2x128_si256(u1, u5, kHighHalves), _mm256_permute2x128_si256(u2, u6, kHighHalves),
            _mm256_permute2x128_si256(u3, u7, kHighHalves)};
}

// is_leap_four_digit_year in lanes: all ones where the year is leap.
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i leap_years(__m256i year) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i by25_product = _mm256_mullo_epi32(year, set(static_cast<std::int32_t>(kInverseOf25)));
    const __m256i by25 = _mm256_cmpeq_epi32(
        _mm256_min_epu32(by25_product, set(static_cast<std::int32_t>(kMultiplesOf25Below))), by25_product);
    const __m256i by4 = _mm256_cmpeq_epi32(_mm256_and_si256(year, set(4 - 1)), zero);
    const __m256i by16 = _mm256_cmpeq_epi32(_mm256_and_si256(year, set(16 - 1)), zero);
    return _mm256_andnot_si256(_mm256_andnot_si256(by16, by25), by4);
}

// One bit per lane whose day lies past the end of its month: days_in_month
// in lanes, February 28 and the leap day, the other months 30 + ((month ^
// month / 8) & 1).
[[gnu::target("avx2"), gnu::always_inline]] static inline unsigned past_month_end(__m256i year, __m256i month,
                                                                                  __m256i day) noexcept {
    const __m256i long_month = _mm256_and_si256(_mm256_xor_si256(month, _mm256_srli_epi32(month, 3)), set(1));
    const __m256i month_days =
        _mm256_blendv_epi8(_mm256_add_epi32(set(30), long_month), _mm256_sub_epi32(set(28), leap_years(year)),
                           _mm256_cmpeq_epi32(month, set(2)));
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(day, month_days))));
}

// days_of_four_digit_year in lanes: kDaysBeforeMonthFromMarch by month, its
// lower eight and upper five apart.
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i day_numbers(__m256i year, __m256i month,
                                                                              __m256i day) noexcept {
    constexpr auto &before = kDaysBeforeMonthFromMarch;
    const __m256i before_low =
        _mm256_setr_epi32(before[0], before[1], before[2], before[3], before[4], before[5], before[6], before[7]);
    const __m256i before_high = _mm256_setr_epi32(before[8], before[9], before[10], before[11], before[12], 0, 0, 0);
    const __m256i days_before =
        _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(before_low, month),
                           _mm256_permutevar8x32_epi32(before_high, month), _mm256_cmpgt_epi32(month, set(7)));
    // The year from March: January and February (compared as all ones)
    // belong to the one before.
    const __m256i y =
        _mm256_add_epi32(_mm256_add_epi32(year, set(kFourDigitYearShift)), _mm256_cmpgt_epi32(set(3), month));
    const __m256i centuries = _mm256_srli_epi32(_mm256_mullo_epi32(y, set(kCenturyMultiplier)), kCenturyShift);
    return _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(y, set(kDaysPerYear)), _mm256_srli_epi32(y, 2)),
        _mm256_add_epi32(_mm256_sub_epi32(_mm256_srli_epi32(centuries, 2), centuries),
                         _mm256_add_epi32(_mm256_add_epi32(day, days_before), set(-kFourDigitEpochCount))));
}

// Four lanes of days and seconds within them to 64-bit seconds.
[[gnu::target("avx2"), gnu::always_inline]] static inline __m256i seconds_of(__m128i days, __m128i rest) noexcept {
    return _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(days), _mm256_set1_epi64x(kSecondsPerDay)),
                            _mm256_cvtepi32_epi64(rest));
}

// The batch's sums to its instants in `out`; the bits of the texts whose
// day lies past their month's end.
[[gnu::target("avx2"), gnu::always_inline]] static inline unsigned finish_batch(const BatchSums &sums,
                                                                                unsigned negative,
                                                                                FastBatch &out) noexcept {
    const __m256i month = _mm256_srli_epi32(sums.month_day, kDayBits);
    const __m256i day = _mm256_and_si256(sums.month_day, set(kDayMask));
    const unsigned past_end = past_month_end(sums.year, month, day);
    const __m256i days = day_numbers(sums.year, month, day);
    // The zone's sign, one bit per text, to a lane mask.
    const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i minus = _mm256_cmpeq_epi32(_mm256_and_si256(set(static_cast<std::int32_t>(negative)), bits), bits);
    const __m256i zone_seconds = _mm256_mullo_epi32(sums.zone_minutes, set(60));
    const __m256i offset = _mm256_sub_epi32(_mm256_xor_si256(zone_seconds, minus), minus);
    const __m256i second_of_day = _mm256_add_epi32(_mm256_mullo_epi32(sums.minute_of_day, set(60)),
                                                   _mm256_and_si256(sums.second_digit, set(kSecondMask)));
    const __m256i rest = _mm256_sub_epi32(second_of_day, offset);  // within two days
    store_32(out.seconds, seconds_of(_mm256_castsi256_si128(days), _mm256_castsi256_si128(rest)));
    store_32(out.seconds + 4, seconds_of(_mm256_extracti128_si256(days, 1), _mm256_extracti128_si256(rest, 1)));
    const __m256i nanosecond = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srli_epi32(sums.second_digit, kSecondBits), set(kNanosOfFirstDigit)),
                         _mm256_mullo_epi32(sums.fraction_high, set(kNanosOfNextFour))),
        sums.fraction_low);
    store_32(out.nanosecond, nanosecond);
    store_32(out.offset, offset);
    return past_end;
}

template <bool Bounded>
[[gnu::target("avx2")]] static unsigned read_batch_avx2(const char *const *texts, const std::size_t *sizes,
                                                        FastBatch &out) noexcept {
    const WindowConstants window_shape{_mm256_setr_epi8(MERANDOL_SHAPE), _mm256_setr_epi8(MERANDOL_SHAPE_ALTERNATIVE),
                                       _mm256_setr_epi8(MERANDOL_LIMITS)};
    __m256i text_sums[kFastBatch];
    unsigned read = 0, negative = 0;
#pragma GCC unroll 8
    for (unsigned i = 0; i < kFastBatch; ++i) {
        bool minus;
        read |= unsigned{sum_text_avx2<Bounded>(texts[i], sizes[i], window_shape, text_sums[i], minus)} << i;
        negative |= unsigned{minus} << i;
    }
    return read & ~finish_batch(transpose_sums(text_sums), negative, out);
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
    if (kernel == FastKernel::Avx2) return read_avx2<false>;
    if (kernel == FastKernel::Sse42) return read_sse42<false>;
#endif
    (void)kernel;
    return read_scalar;
}

// The scalar kernel reads only the text's own bytes.
FastRead fast_reader_bounded(FastKernel kernel) noexcept {
#if MERANDOL_FAST_X86
    if (kernel == FastKernel::Avx2) return read_avx2<true>;
    if (kernel == FastKernel::Sse42) return read_sse42<true>;
#endif
    (void)kernel;
    return read_scalar;
}

// Eight texts one by one, for the kernels without a batch of their own.
template <FastRead Read>
static unsigned read_batch_each(const char *const *texts, const std::size_t *sizes, FastBatch &out) noexcept {
    unsigned read = 0;
    for (std::size_t i = 0; i < kFastBatch; ++i) {
        Rfc3339Instant instant;
        if (!Read(texts[i], sizes[i], instant)) continue;
        out.seconds[i] = instant.seconds;
        out.nanosecond[i] = instant.nanosecond;
        out.offset[i] = instant.offset;
        read |= 1u << i;
    }
    return read;
}

FastReadBatch fast_batch_reader(FastKernel kernel) noexcept {
#if MERANDOL_FAST_X86
    if (kernel == FastKernel::Avx2) return read_batch_avx2<false>;
    if (kernel == FastKernel::Sse42) return read_batch_each<read_sse42<false>>;
#endif
    (void)kernel;
    return read_batch_each<read_scalar>;
}

FastReadBatch fast_batch_reader_bounded(FastKernel kernel) noexcept {
#if MERANDOL_FAST_X86
    if (kernel == FastKernel::Avx2) return read_batch_avx2<true>;
    if (kernel == FastKernel::Sse42) return read_batch_each<read_sse42<true>>;
#endif
    (void)kernel;
    return read_batch_each<read_scalar>;
}

// The first call through a pointer chooses the kernel and puts its reader
// in place; any thread may do it, as they all choose the same.
static bool choose_and_read(const char *text, std::size_t size, Rfc3339Instant &out) noexcept;
static bool choose_and_read_bounded(const char *text, std::size_t size, Rfc3339Instant &out) noexcept;
static std::atomic<FastRead> g_fast_read{choose_and_read};
static std::atomic<FastRead> g_fast_read_bounded{choose_and_read_bounded};

static bool choose_and_read(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    const FastRead read = fast_reader(best_fast_kernel());
    g_fast_read.store(read, std::memory_order_relaxed);
    return read(text, size, out);
}

static bool choose_and_read_bounded(const char *text, std::size_t size, Rfc3339Instant &out) noexcept {
    const FastRead read = fast_reader_bounded(best_fast_kernel());
    g_fast_read_bounded.store(read, std::memory_order_relaxed);
    return read(text, size, out);
}

bool read_fast_rfc3339(std::string_view text, std::size_t readable, Rfc3339Instant &out) noexcept {
    const std::size_t size = text.size();
    if (!fast_size(size)) return false;
    const FastRead read = (readable >= kFastWindow ? g_fast_read : g_fast_read_bounded).load(std::memory_order_relaxed);
    return read(text.data(), text.size(), out);
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
