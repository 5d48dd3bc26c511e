// DateTime objects, shared with the offset date-time class.
#pragma once

#include "binding/frame.hpp"
#include "core/datetime.hpp"

namespace merandol::py {

using DateTimeObject = Instance<ClassId::DateTime, DateTime>;
static_assert(sizeof(DateTimeObject) == sizeof(PyObject) + sizeof(DateTime));

// The hashed bytes of a date-time: year (4, little-endian), month, day,
// hour, minute, second (1 each), nanosecond (4, little-endian).
inline constexpr std::size_t kDateTimeHashBytes = 13;

// Each pair of neighbouring byte fields is joined first, so that the
// compiler reads it with one 16-bit load.
constexpr HashWords<kDateTimeHashBytes> datetime_hash_words(const DateTime &dt) noexcept {
    const auto pair = [](std::uint8_t low, std::uint8_t high) { return word_bits<std::uint16_t>(low | high << 8); };
    return {word_bits(dt.date.year) | pair(dt.date.month, dt.date.day) << 32 | pair(dt.time.hour, dt.time.minute) << 48,
            word_bits(dt.time.second) | word_bits(dt.time.nanosecond) << 8};
}

}  // namespace merandol::py
