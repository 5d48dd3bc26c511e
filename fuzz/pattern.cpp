// Patterns: the input is a pattern, a NUL, a text, a NUL, then the bytes of
// a value.  A pattern compiles or names a place inside itself; a text reads
// or names a place inside itself and a directive of the pattern; what is
// read writes within the pattern's bound, and reads back to itself where
// the pattern keeps every field; so does a value drawn from the bytes.  A
// plain date-time pattern's shortcut for columns reads what the reader
// reads.
#include <cstring>
#include <string>

#include "core/pattern.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

bool views(std::string_view whole, std::string_view part) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

PatternValue value_of(const TextValue &v) {
    switch (v.kind) {
        case TextKind::Date: return PatternValue::of(v.date);
        case TextKind::Time: return PatternValue::of(v.time);
        case TextKind::DateTime: return PatternValue::of(DateTime{v.date, v.time});
        default: return PatternValue::of(DateTime{v.date, v.time}, v.offset);
    }
}

bool same(const TextValue &a, const TextValue &b) {
    return a.kind == b.kind && (a.kind == TextKind::Time || a.date == b.date) &&
           (a.kind == TextKind::Date || a.time == b.time) &&
           (a.kind != TextKind::OffsetDateTime || a.offset == b.offset);
}

// Writes `value`; where the pattern keeps every field, the text reads back
// to it.
void require_writes(const Pattern &pattern, const TextValue &value, std::string_view input) {
    std::string buffer(pattern.written_size_max(), '\0');
    const auto end = pattern.write(buffer.data(), value_of(value));
    MERANDOL_REQUIRE(end.has_value(), input);
    const std::string_view out(buffer.data(), static_cast<std::size_t>(*end - buffer.data()));
    MERANDOL_REQUIRE(out.size() <= pattern.written_size_max(), input);
    if (!pattern.keeps_every_field()) return;
    const auto back = pattern.read(out);
    MERANDOL_REQUIRE(back && same(*back, value), out);
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::size_t pattern_end = std::min(input.find('\0'), input.size());
    const std::string_view pattern_text = input.substr(0, pattern_end);
    const std::string_view rest = input.substr(std::min(pattern_end + 1, input.size()));
    const std::string_view text = rest.substr(0, std::min(rest.find('\0'), rest.size()));
    const std::size_t used = std::min(size, pattern_end + 1 + text.size() + 1);
    Bytes bytes(data + used, size - used);

    const auto pattern = Pattern::compile(pattern_text);
    if (!pattern) {
        MERANDOL_REQUIRE(pattern.error().position <= pattern_text.size(), input);
        MERANDOL_REQUIRE(views(pattern_text, pattern.error().directive), input);
        return 0;
    }
    MERANDOL_REQUIRE(pattern->text() == pattern_text, input);
    const auto read = pattern->read(text);
    // The column readers' shortcut gives what read() gives, or leaves it.
    if (std::int64_t seconds; pattern->reads_plain_instants() && pattern->read_plain_instant(text, seconds))
        MERANDOL_REQUIRE(read && unix_timestamp(DateTime{read->date, read->time}) - read->offset.seconds == seconds,
                         input);
    if (read) {
        MERANDOL_REQUIRE(read->kind == pattern->kind(), input);
        require_writes(*pattern, *read, input);
    } else {
        MERANDOL_REQUIRE(read.error().position <= text.size(), input);
        MERANDOL_REQUIRE(views(pattern->text(), read.error().directive), input);
    }

    // A value of the pattern's kind from the bytes, its UTC reading within
    // the range (a day inside either end) for %s.
    const i64 days = kMaxDayNumber - kMinDayNumber - 1;
    const i64 day =
        kMinDayNumber + 1 + static_cast<i64>(bytes.take<std::uint64_t>() % static_cast<std::uint64_t>(days));
    const auto date = from_days_since_unix_epoch(day);
    MERANDOL_REQUIRE(date.has_value(), input);
    const Time time =
        Time::from_second_of_day(bytes.take<std::uint32_t>() % 86400, bytes.take<std::uint32_t>() % kNanosPerSecond);
    const UtcOffset offset{static_cast<std::int32_t>(bytes.take<std::uint32_t>() % 172801) - 86400};
    require_writes(*pattern, TextValue{pattern->kind(), *date, time, offset}, input);
    return 0;
}
