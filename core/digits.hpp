// Small helpers shared by the text readers and writers: slices of a view,
// ASCII digit tests, bounded decimal accumulation and fixed-width digit
// writers.  Writers work like std::to_chars: they write into a caller's
// buffer and return the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

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

// Longest decimal text of a signed 128-bit value: sign plus 39 digits.
inline constexpr std::size_t kI128TextMax = 40;

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
