// Text patterns of C's strftime/strptime directives ("%Y-%m-%d %H:%M:%S"),
// compiled once into a list of items, then read and written without
// backtracking: a reading takes time linear in the text and the pattern,
// whatever they hold.
//
// Reading follows the standard strptime where it is exact and refuses where
// it guesses: nothing defaults to 1900 (a pattern must name a whole date, a
// time of day, or both), and fields that can disagree (a weekday and the
// date, %j and the month and day, %y and %Y, %s and everything else) must
// agree.  In a time the hour is required and smaller fields left out are
// zero.  A run of white space in the pattern matches one or more white
// space characters, ASCII letters match either case, the whole text must be
// used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "core/text_form.hpp"

namespace merandol {

enum class PatternFault : std::uint8_t {
    UnknownDirective,  // "%Q", or a flag or width before a directive that takes none
    LonePercent,       // a "%" ends the pattern
    RepeatedField,     // a directive given twice ("%Y ... %Y", "%F ... %d")
    PartialDate,       // part of a date without a whole one ("%b %d", "%V" without "%G"), or an offset without one
    NoDateOrTime,      // neither a whole date nor a time of day ("foo")
    OutOfMemory,
    PartialTime,  // part of a time without the hour ("%M:%S", "%I" without "%p"), or an offset without a time
};

// What is wrong, for a message such as "<reason> at position 3 (%Q)".
constexpr std::string_view describe(PatternFault fault) noexcept {
    constexpr std::string_view reasons[] = {
        "unknown directive",         "lone % at the end", "field given twice", "partial date",
        "neither a date nor a time", "out of memory",     "partial time",
    };
    return reasons[static_cast<unsigned>(fault)];
}

struct PatternError {
    PatternFault fault;
    // Where in the pattern, in bytes from 0: the start of the directive at
    // fault, or of the pattern for a fault of the whole pattern.
    std::uint32_t position;
    // The directive as written ("%Q", "%-d"), a view of the caller's
    // pattern; empty for a fault of the whole pattern.
    std::string_view directive;
};

// A value to write, of any kind: the fields it has and, for a column
// written at a zone, the zone's abbreviation at that instant (which %Z
// writes in place of the offset's name).  Build it with the named
// constructors.
struct PatternValue {
    Date date{};
    Time time{};
    UtcOffset offset{};
    bool has_date = false;
    bool has_time = false;
    bool has_offset = false;
    // Empty unless written at a zone; must outlive the write.
    std::string_view zone_abbreviation{};

    static constexpr PatternValue of(Date d) noexcept { return {d, {}, {}, true, false, false, {}}; }
    static constexpr PatternValue of(Time t) noexcept { return {{}, t, {}, false, true, false, {}}; }
    // A reading without an offset.  %s takes it as UTC, as a DateTime read
    // from %s is.
    static constexpr PatternValue of(DateTime dt) noexcept { return {dt.date, dt.time, {}, true, true, false, {}}; }
    // The local reading and its offset (not the UTC date-time).
    static constexpr PatternValue of(DateTime local, UtcOffset offset) noexcept {
        return {local.date, local.time, offset, true, true, true, {}};
    }
    static constexpr PatternValue at_zone(DateTime local, UtcOffset offset, std::string_view abbreviation) noexcept {
        return {local.date, local.time, offset, true, true, true, abbreviation};
    }
};

// %Z's names of an offset: "UTC", "UTC+05:30", "UTC-00:00:15".
inline constexpr std::size_t kOffsetNameMax = sizeof("UTC+hh:mm:ss") - 1;

struct PatternItem;
struct PatternFields;
struct FixedWords;

// A compiled pattern.  It owns a copy of its text, which the directives of
// its TextErrors view, and moving it keeps them valid.
class Pattern {
public:
    Pattern() noexcept = default;
    Pattern(Pattern &&other) noexcept;
    Pattern &operator=(Pattern &&other) noexcept;
    Pattern(const Pattern &) = delete;
    Pattern &operator=(const Pattern &) = delete;
    ~Pattern();

    static std::expected<Pattern, PatternError> compile(std::string_view pattern) noexcept;

    std::string_view text() const noexcept { return {text_, text_size_}; }

    // The class a reading gives: Date, Time, DateTime (a reading without an
    // offset, or a UTC instant for %s without an offset) or
    // OffsetDateTime (an offset directive with a date and a time, or %s).
    TextKind kind() const noexcept { return kind_; }

    // Whether every value of kind() that write() accepts reads back to
    // itself: the year whole (%Y or %G read with a sign and any number of
    // digits, not %y), the date and time fully named, nanoseconds kept (%9f
    // or %.f when there is a time), no field of variable width followed by
    // a digit directive, and no dot where a %.f that wrote nothing would
    // read it as its own.  (%z and %:z write an offset's seconds when it
    // has them, as Python's strftime does.)
    bool keeps_every_field() const noexcept { return keeps_every_field_; }

    // At least the length of any text write() gives: %Z counted as an
    // offset's name or an abbreviation of `abbreviation_size` bytes,
    // whichever is longer.  Constant per pattern and abbreviation size, so
    // a caller finds it once.
    std::size_t written_size_max(std::size_t abbreviation_size = 0) const noexcept {
        return written_size_max_ +
               zone_names_ * (abbreviation_size > kOffsetNameMax ? abbreviation_size - kOffsetNameMax : 0);
    }

    // The value of a whole text.  On a TextValue of kind DateTime from %s,
    // `date` and `time` are the UTC reading.
    std::expected<TextValue, TextError> read(std::string_view text) const noexcept;

    // Writes the text of `value` at `out`, which has room for
    // written_size_max(value.zone_abbreviation.size()) bytes, and returns
    // its end; or, when the value lacks a field that a directive needs, that
    // directive as written (a view of text()).
    std::expected<char *, std::string_view> write(char *out, const PatternValue &value) const noexcept;

    // Whether the pattern is %Y %m %d %H %M %S in fixed places among
    // literal text and nothing else ("%Y-%m-%d %H:%M:%S"), which a column's
    // writer then writes with write_plain.
    bool is_plain_date_time() const noexcept { return plain_date_time_; }
    // The text of a reading of a year from 0 to 9999 when
    // is_plain_date_time(): its fields written into the pattern's text.
    char *write_plain(char *out, const DateTime &reading) const noexcept;
    // Whether read_plain_instant() reads this pattern's usual texts: a
    // plain prefix (%Y, %m or %b, %d, %H, %M, %S in fixed places among
    // literal text) that names a date and a time, then at most a %z or %:z,
    // after a space or not.
    bool reads_plain_instants() const noexcept { return plain_instants_; }
    // The Unix seconds of a text of the usual shape (reads_plain_instants()):
    // the prefix's size and literal text, digits and a month's name in the
    // fields' places, each field in range, the date one that exists, and an
    // offset as +hhmm or +hh:mm; the reading's own seconds when the pattern
    // names no offset.  false for any other text, which read() then reads
    // and names the fault of.  A column's reader takes this before read().
    bool read_plain_instant(std::string_view text, std::int64_t &seconds) const noexcept;

private:
    void find_fixed_prefix() noexcept;
    bool read_fixed_prefix(std::string_view text, PatternFields &fields) const noexcept;
    bool read_fixed_words(std::string_view text, FixedWords &words) const noexcept;
    bool plain_fields(const FixedWords &words, unsigned (&values)[6]) const noexcept;
    bool plain_reading(std::string_view text, unsigned (&values)[6]) const noexcept;
    bool plain_offset(std::string_view text, std::int64_t &offset) const noexcept;
    bool read_plain(std::string_view text, TextValue &value) const noexcept;
    std::expected<TextValue, TextError> resolve(const PatternFields &fields) const noexcept;
    std::pair<std::uint32_t, std::uint32_t> read_at(const PatternFields &fields, unsigned slot) const noexcept;
    TextError error_at(TextFault fault, std::uint32_t position, std::uint32_t item, unsigned slot,
                       std::int64_t value) const noexcept;

    // One allocation: the items, then the text.
    void *block_ = nullptr;
    const PatternItem *items_ = nullptr;
    const char *text_ = "";
    std::uint32_t item_count_ = 0;
    std::uint32_t text_size_ = 0;
    // The first items form a prefix of fixed width that is read at fixed
    // places in one pass, when the text has it (see pattern.cpp).
    std::uint32_t fixed_items_ = 0;
    std::uint32_t fixed_size_ = 0;
    // The prefix in words of eight bytes (the last one overlapping the one
    // before): the bytes expected, '0' for each digit; per byte the bound
    // that sets its top bit when off (0x76 for a digit, 0x7f otherwise);
    // 0x20 for each letter, matched in either case; 0xff for each digit.
    static constexpr std::size_t kFixedWords = 8;
    std::uint64_t fixed_bytes_[kFixedWords] = {};
    std::uint64_t fixed_limits_[kFixedWords] = {};
    std::uint64_t fixed_folds_[kFixedWords] = {};
    std::uint64_t fixed_digits_[kFixedWords] = {};
    // The prefix's fields: the smallest value and the span of its range,
    // its slot, place and item, its digits, and whether it is a name or C's
    // weekday (0 read as 7), which take the slower way.
    struct FixedField {
        std::uint16_t low, span;
        std::uint8_t slot, at, item, width;
        bool special;
    };
    static constexpr std::size_t kFixedFields = 16;
    FixedField fixed_fields_[kFixedFields] = {};
    std::uint32_t fixed_field_count_ = 0;
    std::uint32_t fixed_present_ = 0;
    // When the prefix's fields are only %Y %m %d %H %M %S, the common case,
    // the reader takes them from fixed places without a loop, and the writer
    // copies the prefix as written (fixed_text_, its fields' places left as
    // they are) and fills them in (a year of four digits).  Their places in
    // the order of those six, kFixedWords * 8 for one that is absent.
    bool fixed_plain_ = false;
    // And the pattern is that prefix, a whole date and time (or date), and
    // at most a %z after it.
    bool plain_whole_ = false;
    bool plain_date_time_ = false;
    // The prefix names the month by its abbreviated name (%b), at
    // plain_at_[1], and a whole date; with a time, the pattern
    // reads_plain_instants().
    bool plain_month_name_ = false;
    bool plain_instants_ = false;
    // And its fields are where "%Y-%m-%d %H:%M:%S" has them.
    bool usual_places_ = false;
    std::uint8_t plain_at_[6] = {};
    char fixed_text_[kFixedWords * 8] = {};
    std::uint32_t written_size_max_ = 0;
    std::uint32_t zone_names_ = 0;
    TextKind kind_ = TextKind::Date;
    bool keeps_every_field_ = false;
    std::uint32_t fields_ = 0;  // the fields named, one bit each (pattern.cpp)
};

}  // namespace merandol
