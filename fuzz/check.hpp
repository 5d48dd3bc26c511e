// What every fuzz target shares: a property check that stops the run with
// the failing input, and a reader that draws field values from the input
// bytes so that one input can also describe a value to write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace merandol::fuzz {

// A broken property is a crash to libFuzzer: it keeps the input as an
// artifact, which then joins the corpus as a regression input.
[[noreturn]] inline void fail(const char *property, std::string_view text) {
    std::fprintf(stderr, "property broken: %s\ninput (%zu bytes): \"", property, text.size());
    for (unsigned char c : text) std::fprintf(stderr, c >= 0x20 && c < 0x7f && c != '"' ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\"\n");
    std::abort();
}

#define MERANDOL_REQUIRE(condition, text)                           \
    do {                                                            \
        if (!(condition)) ::merandol::fuzz::fail(#condition, text); \
    } while (0)

// Draws fixed-width integers from the input, front to back; zeros once the
// bytes run out.
class Bytes {
public:
    Bytes(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    template <class T>
    T take() {
        T v{};
        const std::size_t n = size_ < sizeof v ? size_ : sizeof v;
        std::memcpy(&v, data_, n);
        data_ += n;
        size_ -= n;
        return v;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
};

// Writes `value` and requires the text to read back to it; returns the text.
template <std::size_t N, class Value, class Read, class Write>
std::string_view require_round_trip(char (&buffer)[N], const Value &value, Read read, Write write) {
    const std::string_view out(buffer, static_cast<std::size_t>(write(buffer, value) - buffer));
    const auto back = read(out);
    MERANDOL_REQUIRE(back && *back == value, out);
    return out;
}

// The reader agrees with its reference on `text`, and what it accepts
// writes back to text that reads back to the same value.
template <std::size_t N, class Read, class Reference, class Write>
void require_reader_agrees(std::string_view text, Read read, Reference reference, Write write) {
    const auto parsed = read(text);
    const auto expected = reference(text);
    MERANDOL_REQUIRE(parsed.has_value() == expected.has_value(), text);
    if (!parsed) return;
    MERANDOL_REQUIRE(*parsed == *expected, text);
    char buffer[N];
    require_round_trip(buffer, *parsed, read, write);
}

}  // namespace merandol::fuzz
