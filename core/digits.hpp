// Small helpers shared by the text readers and writers: slices of a view,
// ASCII digit tests, bounded decimal accumulation and fixed-width digit
// writers.  Writers work like std::to_chars: they write into a caller's
// buffer and return the end.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

namespace merandol::digits {

// Slices whose bounds the reader has already established (its positions
// come from its own searches and length checks).  std::string_view::substr
// checks them again and throws std::out_of_range, which would make the
// module call into the C++ runtime's exception support: a dependency on
// libstdc++ that nothing else here has.
constexpr std::string_view tail(std::string_view text, std::size_t begin) noexcept {  // begin <= size
    return {text.data() + begin, text.size() - begin};
}

constexpr std::string_view slice(std::string_view text, std::size_t begin, std::size_t end) noexcept {
    return {text.data() + begin, end - begin};  // begin <= end <= size
}

constexpr bool is_digit(char c) noexcept { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0' < 10u; }

// Reads a field of one or more ASCII digits whose value must not exceed
// `bound`.  Stops as soon as the running value passes the bound, so any
// number of digits (leading zeros included) is read without overflow.
constexpr bool read_bounded(std::string_view field, std::uint64_t bound, std::uint64_t &value) noexcept {
    if (field.empty()) return false;
    std::uint64_t v = 0;
    for (char c : field) {
        if (!is_digit(c)) return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > bound) return false;
    }
    value = v;
    return true;
}

// --- Fixed shapes, eight characters at a time -------------------------------
//
// Eight characters of a fixed shape ("2024-01-", "12:34:56") are checked
// with a few word operations.  Each byte is XORed with the shape's pattern,
// which has '0' in every digit's place: a digit lane then holds the digit's
// value (c ^ '0' is below 10 exactly when c is an ASCII digit) and a
// separator lane is zero exactly when it holds the separator.  Adding 0x76
// to a digit lane (0x7f to a separator lane) sets its top bit exactly when
// the lane is at least 10 (at least 1); lanes of 0x80 and above are caught
// by OR-ing in the lanes themselves.  Only such a lane can carry into the
// next, so a carry never hides a lane off the shape.

struct Shape {
    std::uint64_t pattern;  // the characters, '0' standing for any digit
    std::uint64_t limit;    // per lane: 0x76 for a digit, 0x7f for a separator
};

inline constexpr std::uint64_t kTopBits = 0x8080808080808080;

// Eight characters as a word, the first in the low byte.
constexpr std::uint64_t word_of(const char (&s)[9]) noexcept {
    std::uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w |= std::uint64_t{static_cast<unsigned char>(s[i])} << (8 * i);
    return w;
}

constexpr Shape shape(const char (&s)[9]) noexcept {
    std::uint64_t limit = 0;
    for (int i = 0; i < 8; ++i) limit |= std::uint64_t{s[i] == '0' ? 0x76u : 0x7fu} << (8 * i);
    return {word_of(s), limit};
}

// The eight characters of `text` from `at` as a word, the first in the low
// byte; the caller has checked that at + 8 <= text.size().
inline std::uint64_t load8(std::string_view text, std::size_t at) noexcept {
    static_assert(std::endian::native == std::endian::little);
    std::uint64_t w;
    std::memcpy(&w, text.data() + at, 8);
    return w;
}

// The lanes of `word` against `s`: digit values, and zero separators when
// the word fits.
constexpr std::uint64_t lanes(std::uint64_t word, Shape s) noexcept { return word ^ s.pattern; }

// Non-zero when some lane does not fit its place in the shape.
constexpr std::uint64_t off_shape(std::uint64_t lanes, Shape s) noexcept {
    return ((lanes + s.limit) | lanes) & kTopBits;
}

// Lane i becomes 10 * lane i + lane i+1: the two-digit number starting at
// i (at most 99, so no lane overflows).
constexpr std::uint64_t pairs(std::uint64_t lanes) noexcept { return lanes * 10 + (lanes >> 8); }

constexpr unsigned lane(std::uint64_t w, int i) noexcept { return static_cast<unsigned>(w >> (8 * i)) & 0xff; }

// The number whose eight decimal digits are the lanes, the first (most
// significant) in the low lane.  Neighbours are joined in three steps, each
// keeping every other field: two-digit fields of 8 bits (at most 99), four
// of 16 bits (9999), then the eight digits in the low 32 bits (99999999).
constexpr std::uint32_t eight_digits(std::uint64_t lanes) noexcept {
    lanes = (lanes * 10 + (lanes >> 8)) & 0x00ff00ff00ff00ff;
    lanes = (lanes * 100 + (lanes >> 16)) & 0x0000ffff0000ffff;
    return static_cast<std::uint32_t>(lanes * 10000 + (lanes >> 32));
}

static_assert(off_shape(lanes(word_of("2024-01-"), shape("0000-00-")), shape("0000-00-")) == 0);
static_assert(off_shape(lanes(word_of("2024-01:"), shape("0000-00-")), shape("0000-00-")) != 0);
static_assert(off_shape(lanes(word_of("20/4-01-"), shape("0000-00-")), shape("0000-00-")) != 0);  // '0' - 1
static_assert(off_shape(lanes(word_of("2:24-01-"), shape("0000-00-")), shape("0000-00-")) != 0);  // '9' + 1
static_assert(off_shape(lanes(word_of("\xb0"
                                      "024-01-"),
                              shape("0000-00-")),
                        shape("0000-00-")) != 0);  // '0' + 0x80
static_assert(lane(pairs(lanes(word_of("2024-01-"), shape("0000-00-"))), 2) == 24);
static_assert(eight_digits(lanes(word_of("90817263"), shape("00000000"))) == 90817263);
static_assert(eight_digits(lanes(word_of("99999999"), shape("00000000"))) == 99999999);

inline constexpr char kPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char *write2(char *out, unsigned v) noexcept {  // v in [0, 99]
    std::memcpy(out, kPairs + 2 * std::size_t{v}, 2);
    return out + 2;
}

inline char *write4(char *out, unsigned v) noexcept {  // v in [0, 9999]
    const unsigned hi = v * 5243 >> 19;                // v / 100 for v < 43699 (5243 = ceil(2^19 / 100))
    write2(out, hi);
    return write2(out + 2, v - hi * 100);
}

// Number of decimal digits of v, at least 1.
constexpr unsigned count_digits(std::uint64_t v) noexcept {
    unsigned n = 1;
    for (; v >= 10000; v /= 10000) n += 4;
    if (v >= 1000) return n + 3;
    if (v >= 100) return n + 2;
    if (v >= 10) return n + 1;
    return n;
}

// Writes v in plain decimal (no padding) and returns the end.
inline char *write_u64(char *out, std::uint64_t v) noexcept {
    char *end = out + count_digits(v);
    char *p = end;
    while (v >= 100) {
        p -= 2;
        write2(p, static_cast<unsigned>(v % 100));
        v /= 100;
    }
    if (v >= 10) {
        write2(p - 2, static_cast<unsigned>(v));
    } else {
        p[-1] = static_cast<char>('0' + v);
    }
    return end;
}

inline char *write_i64(char *out, std::int64_t v) noexcept {
    std::uint64_t mag = static_cast<std::uint64_t>(v);
    if (v < 0) {
        *out++ = '-';
        mag = 0 - mag;
    }
    return write_u64(out, mag);
}

// Longest decimal text of a value of T: one digit more than digits10
// guarantees, and a sign for a signed type.
template <class T>
inline constexpr std::size_t kTextMax = std::numeric_limits<T>::digits10 + 1 + std::is_signed_v<T>;
static_assert(kTextMax<std::int32_t> == sizeof("-2147483648") - 1 && kTextMax<std::uint8_t> == sizeof("255") - 1);

// Sign plus 39 digits.
inline constexpr std::size_t kI128TextMax = kTextMax<__int128>;
static_assert(kI128TextMax == 40);

inline char *write_i128(char *out, __int128 v) noexcept {
    unsigned __int128 mag = static_cast<unsigned __int128>(v);
    if (v < 0) {
        *out++ = '-';
        mag = 0 - mag;
    }
    if (mag <= UINT64_MAX) return write_u64(out, static_cast<std::uint64_t>(mag));
    // Split into 19-digit chunks so that the 128-bit division happens at most
    // twice, by the constant 10^19.
    constexpr std::uint64_t kChunk = 10000000000000000000ull;  // 10^19
    char tmp[kI128TextMax];
    char *p = tmp + sizeof tmp;
    while (mag > UINT64_MAX) {
        std::uint64_t low = static_cast<std::uint64_t>(mag % kChunk);
        mag /= kChunk;
        for (int i = 0; i < 19; ++i) {
            *--p = static_cast<char>('0' + low % 10);
            low /= 10;
        }
    }
    out = write_u64(out, static_cast<std::uint64_t>(mag));
    const std::size_t rest = static_cast<std::size_t>(tmp + sizeof tmp - p);
    std::memcpy(out, p, rest);
    return out + rest;
}

}  // namespace merandol::digits
