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

}  // namespace merandol::fuzz
