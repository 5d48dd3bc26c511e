// The named text forms.  Each reader walks its text once, left to right,
// looking at most a run of digits or letters ahead and consuming what it
// looked at, so its time is linear in the text and it never reads past the
// end.  The first fault met is the one reported.
#include "core/named_forms.hpp"

#include <array>

#include "core/digits.hpp"

namespace merandol {
namespace {

using digits::is_digit;

constexpr bool is_letter(char c) noexcept { return static_cast<unsigned>((c | 0x20) - 'a') < 26u; }
constexpr char to_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    return true;
}

// The first eight letters of a name in lower case, one to a byte: a run of
// letters is matched by comparing words (ASCII letters differ from their
// lower case by the bit 0x20 alone).
constexpr u64 name_key(std::string_view name) noexcept {
    u64 key = 0;
    for (std::size_t i = 0; i < name.size() && i < 8; ++i)
        key |= u64{static_cast<unsigned char>(name[i] | 0x20)} << (8 * i);
    return key;
}

template <std::size_t N>
struct Names {
    std::array<std::string_view, N> text;
    std::array<u64, N> key{};

    constexpr explicit Names(std::array<std::string_view, N> names) noexcept : text(names) {
        for (std::size_t i = 0; i < N; ++i) key[i] = name_key(names[i]);
    }
};

constexpr Names<7> kDayNames({"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"});
constexpr Names<7> kFullDayNames({"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"});
constexpr Names<12> kMonthNames({"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"});

// A run of letters is looked at up to one letter past the longest name
// ("Wednesday", 9): a longer run is no name either way.
constexpr std::size_t kNameRunMax = 10;

// A year's magnitude read from a run of digits stops growing here: a run
// that long is past the range anyway, and the number stays in 64 bits.
constexpr u64 kSaturatedNumber = 1'000'000'000'000'000'000;

// A cursor over a text that keeps the first fault met.  After a fault every
// step is a no-op that reads nothing, so a reader checks once, at its end,
// rather than after every field.
class Scanner {
public:
    explicit constexpr Scanner(std::string_view text, std::size_t at = 0) noexcept : text_(text), at_(at) {}

    std::size_t at() const noexcept { return at_; }
    bool ok() const noexcept { return !failed_; }
    bool at_end() const noexcept { return at_ == text_.size(); }
    const TextError &error() const noexcept { return error_; }

    // The byte `ahead` places on, or NUL past the end: no form has a NUL
    // in it, so a NUL never matches what a reader looks for.
    char peek(std::size_t ahead = 0) const noexcept {
        return !failed_ && ahead < text_.size() - at_ ? text_[at_ + ahead] : '\0';
    }

    bool accept(char c) noexcept {
        if (peek() != c) return false;
        ++at_;
        return true;
    }
    bool accept_either(char a, char b) noexcept { return accept(a) || accept(b); }

    void fail(TextError e) noexcept {
        if (failed_) return;
        failed_ = true;
        error_ = e;
    }
    // `what` was expected here: a Mismatch, or Truncated at the end.
    void fail_expected(std::string_view what) noexcept {
        const bool ended = at_end();
        fail({ended ? TextFault::Truncated : TextFault::Mismatch,
              static_cast<std::uint32_t>(at_),
              {},
              ended ? std::string_view{} : what,
              0});
    }
    void fail_range(std::size_t at, std::string_view field, i64 value) noexcept {
        fail({TextFault::OutOfRange, static_cast<std::uint32_t>(at), {}, field, value});
    }
    void fail_leftover() noexcept {
        if (!at_end()) fail({TextFault::Leftover, static_cast<std::uint32_t>(at_), {}, {}, 0});
    }

    void expect(char c, std::string_view what) noexcept {
        if (!accept(c)) fail_expected(what);
    }

    // Exactly `count` digits.
    unsigned fixed(unsigned count) noexcept {
        unsigned v = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (!is_digit(peek())) {
                fail_expected("a digit");
                return 0;
            }
            v = v * 10 + static_cast<unsigned>(text_[at_++] - '0');
        }
        return v;
    }

    // The length of the run of digits from here; the reader consumes it
    // (number) or stops, so no byte is counted twice.
    std::size_t digit_run() const noexcept {
        std::size_t n = 0;
        while (is_digit(peek(n))) ++n;
        return n;
    }

    // The next `count` bytes, digits, as a number that saturates at
    // kSaturatedNumber.
    u64 number(std::size_t count) noexcept {
        u64 v = 0;
        for (std::size_t i = 0; i < count && ok(); ++i) {
            const auto digit = static_cast<unsigned>(text_[at_++] - '0');
            v = v < kSaturatedNumber / 10 ? v * 10 + digit : kSaturatedNumber;
        }
        return v;
    }

    // A run of letters that is one of `names`, in either case: its index.
    template <std::size_t N>
    unsigned name(const Names<N> &names, std::string_view what) noexcept {
        std::size_t n = 0;
        while (n < kNameRunMax && is_letter(peek(n))) ++n;
        const u64 key = name_key(digits::slice(text_, at_, at_ + n));
        if (ok())
            for (unsigned i = 0; i < N; ++i)
                if (names.key[i] == key && names.text[i].size() == n &&
                    (n <= 8 || equal_ignoring_case(digits::slice(text_, at_, at_ + n), names.text[i]))) {
                    at_ += n;
                    return i;
                }
        fail_expected(what);
        return 0;
    }

    // `word`, in either case, whatever follows it.
    bool accept_word(std::string_view word) noexcept {
        if (!ok() || text_.size() - at_ < word.size() ||
            !equal_ignoring_case(digits::slice(text_, at_, at_ + word.size()), word))
            return false;
        at_ += word.size();
        return true;
    }

    // RFC 5322's CFWS: white space, folds (CRLF before white space) and
    // comments, which nest and quote with a backslash.
    void skip_cfws() noexcept {
        for (;;) {
            const char c = peek();
            if (c == ' ' || c == '\t') {
                ++at_;
            } else if (c == '\r' && peek(1) == '\n' && (peek(2) == ' ' || peek(2) == '\t')) {
                at_ += 3;
            } else if (c == '(') {
                skip_comment();
            } else {
                return;
            }
        }
    }

private:
    void skip_comment() noexcept {
        ++at_;
        for (std::size_t depth = 1; depth > 0;) {
            const char c = peek();
            // Every byte of a comment is printable ASCII or white space.
            if (at_end() || c == '\0' || static_cast<unsigned char>(c) >= 0x80) return fail_expected("')'");
            ++at_;
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                --depth;
            } else if (c == '\\') {
                if (at_end()) return fail_expected("a quoted character");
                ++at_;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    bool failed_ = false;
    TextError error_{};
};

// A signed year within the range, or a fault at `at`.
std::int32_t checked_year(Scanner &s, std::size_t at, bool negative, u64 magnitude) noexcept {
    // 2^31 for a negative year, 2^31 - 1 otherwise.
    if (magnitude > (negative ? 2147483648u : 2147483647u))
        s.fail_range(at, "year", negative ? -static_cast<i64>(magnitude) : static_cast<i64>(magnitude));
    return s.ok() ? static_cast<std::int32_t>(negative ? 0 - magnitude : magnitude) : 0;
}

Date calendar_date(Scanner &s, std::int32_t year, unsigned month, std::size_t month_at, unsigned day,
                   std::size_t day_at) noexcept {
    if (month < 1 || month > 12) s.fail_range(month_at, "month", month);
    if (s.ok() && (day < 1 || day > days_in_month(year, month))) s.fail_range(day_at, "day", day);
    if (!s.ok()) return {};
    return Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

Date ordinal_date(Scanner &s, std::int32_t year, unsigned day_of_year, std::size_t at) noexcept {
    const bool leap = is_leap_year(year);
    if (day_of_year < 1 || day_of_year > 365u + leap) s.fail_range(at, "day of the year", day_of_year);
    if (!s.ok()) return {};
    unsigned month = 1;
    while (days_before_month(month + 1, leap) < day_of_year) ++month;
    return Date{year, static_cast<std::uint8_t>(month),
                static_cast<std::uint8_t>(day_of_year - days_before_month(month, leap))};
}

// ISO 8601 weeks start on Monday, and week 1 is the one holding 4 January.
// A year has 53 weeks when it starts on a Thursday, or is a leap year that
// starts on a Wednesday: then 28 December, always in the last week, falls
// in week 53.
Date week_date(Scanner &s, std::int32_t year, unsigned week, std::size_t week_at, unsigned day,
               std::size_t day_at) noexcept {
    const Weekday first = weekday(Date{year, 1, 1});
    const unsigned weeks = first == Weekday::Thursday || (is_leap_year(year) && first == Weekday::Wednesday) ? 53 : 52;
    if (week < 1 || week > weeks) s.fail_range(week_at, "week", week);
    if (s.ok() && (day < 1 || day > 7)) s.fail_range(day_at, "weekday", day);
    if (!s.ok()) return {};
    const Date january_4{year, 1, 4};
    const i64 monday_of_week_1 = days_since_unix_epoch(january_4) - (number_from_monday(weekday(january_4)) - 1);
    const auto date = from_days_since_unix_epoch(monday_of_week_1 + 7 * i64{week - 1} + (day - 1));
    if (!date) s.fail_range(week_at, "week", week);  // the week reaches past either end of the range
    return date.value_or(Date{});
}

// Calendar, ordinal and week dates.  The extended form has a "-" after the
// year, which may then be signed and of any length (merandol's own years,
// "-001" and "12026"); the basic form's year is four digits.
Date iso_date(Scanner &s) noexcept {
    const std::size_t start = s.at();
    const bool negative = s.peek() == '-';
    const bool sign = negative || s.accept('+');
    if (negative) s.accept('-');
    const std::size_t year_digits = s.digit_run();
    if (s.peek(year_digits) == '-' && year_digits >= (sign ? 3u : 4u)) {
        const std::int32_t year = checked_year(s, start, negative, s.number(year_digits));
        s.accept('-');
        if (s.accept('W')) {
            const std::size_t week_at = s.at();
            const unsigned week = s.fixed(2);
            const std::size_t day_at = s.at() + 1;
            const unsigned day = s.accept('-') ? s.fixed(1) : 1;
            return week_date(s, year, week, week_at, day, day_at);
        }
        const std::size_t month_at = s.at();
        if (s.digit_run() == 3) return ordinal_date(s, year, s.fixed(3), month_at);
        const unsigned month = s.fixed(2);
        s.expect('-', "'-'");
        const std::size_t day_at = s.at();
        return calendar_date(s, year, month, month_at, s.fixed(2), day_at);
    }
    if (sign || year_digits < 4) {
        s.number(year_digits);
        s.fail_expected(year_digits < (sign ? 3u : 4u) ? "a digit" : "'-'");
        return {};
    }
    const auto year = static_cast<std::int32_t>(s.fixed(4));
    switch (year_digits) {
        case 4: {
            s.expect('W', "'-' or 'W'");
            const std::size_t week_at = s.at();
            const unsigned week = s.fixed(2);
            const std::size_t day_at = s.at();
            const unsigned day = is_digit(s.peek()) ? s.fixed(1) : 1;
            return week_date(s, year, week, week_at, day, day_at);
        }
        case 7: return ordinal_date(s, year, s.fixed(3), start + 4);
        case 8: {
            const unsigned month = s.fixed(2);
            return calendar_date(s, year, month, start + 4, s.fixed(2), start + 6);
        }
        default:  // 5, 6 or more than 8 digits
            s.number(year_digits < 7 ? year_digits - 4 : 4);
            s.fail_expected(year_digits < 7 ? "a digit" : "'T' or a space");
            return {};
    }
}

// One to nine digits after the decimal sign, as nanoseconds.
std::uint32_t fraction(Scanner &s) noexcept {
    const std::size_t count = s.digit_run();
    if (count == 0 || count > 9) {
        s.number(count == 0 ? 0 : 9);
        s.fail_expected(count == 0 ? "a digit" : "at most nine digits");
        return 0;
    }
    auto nanos = static_cast<std::uint32_t>(s.number(count));
    for (std::size_t i = count; i < 9; ++i) nanos *= 10;
    return nanos;
}

// Hours with optional minutes and seconds, in basic ("1436") or extended
// ("14:36") form, for a time of day and an offset alike; where each field
// starts, for a message.
struct ClockFields {
    unsigned hour = 0, minute = 0, second = 0;
    std::size_t hour_at = 0, minute_at = 0, second_at = 0;
    bool has_second = false;
};

ClockFields clock_fields(Scanner &s) noexcept {
    ClockFields f;
    f.hour_at = s.at();
    f.hour = s.fixed(2);
    const bool extended = s.peek() == ':';
    auto field = [&s, extended](unsigned &value, std::size_t &at) {
        if (extended ? !s.accept(':') : !is_digit(s.peek())) return false;
        at = s.at();
        value = s.fixed(2);
        return true;
    };
    if (field(f.minute, f.minute_at)) f.has_second = field(f.second, f.second_at);
    return f;
}

// A time of day; a fraction only after the seconds (as the standard reader
// has it).  24:00 is the end of the day, read as the next day's start.
struct IsoTime {
    Time time;
    bool end_of_day;
};

IsoTime iso_time(Scanner &s) noexcept {
    const ClockFields f = clock_fields(s);
    const std::uint32_t nanos = f.has_second && s.accept_either('.', ',') ? fraction(s) : 0;
    if (f.hour > 24) s.fail_range(f.hour_at, "hour", f.hour);
    if (f.minute > 59) s.fail_range(f.minute_at, "minute", f.minute);
    if (f.second > 59) s.fail_range(f.second_at, "second", f.second);
    const bool end_of_day = f.hour == 24;
    if (end_of_day && (f.minute | f.second | nanos) != 0) s.fail_range(f.hour_at, "hour", f.hour);
    if (!s.ok()) return {};
    return {Time{static_cast<std::uint8_t>(end_of_day ? 0 : f.hour), static_cast<std::uint8_t>(f.minute),
                 static_cast<std::uint8_t>(f.second), nanos},
            end_of_day};
}

// "Z", or a sign and the clock's fields.  A fraction of the offset's
// second is read when it is zero: an offset is a whole number of seconds.
UtcOffset iso_offset(Scanner &s) noexcept {
    if (s.accept_either('Z', 'z')) return UtcOffset{0};
    const bool negative = s.peek() == '-';
    if (!s.accept_either('+', '-')) s.fail_expected("'Z', '+' or '-'");
    const ClockFields f = clock_fields(s);
    if (f.has_second && s.accept_either('.', ',')) {
        const std::size_t fraction_at = s.at();
        if (fraction(s) != 0)
            s.fail({TextFault::Mismatch, static_cast<std::uint32_t>(fraction_at), {}, "an offset of whole seconds", 0});
    }
    if (f.hour > 23) s.fail_range(f.hour_at, "offset hour", f.hour);
    if (f.minute > 59) s.fail_range(f.minute_at, "offset minute", f.minute);
    if (f.second > 59) s.fail_range(f.second_at, "offset second", f.second);
    const auto magnitude = static_cast<std::int32_t>(f.hour * 3600 + f.minute * 60 + f.second);
    return UtcOffset{negative ? -magnitude : magnitude};
}

std::expected<TextValue, TextError> finish(Scanner &s, TextValue value) noexcept {
    s.fail_leftover();
    if (!s.ok()) return std::unexpected(s.error());
    return value;
}

// A weekday named in the text must be the date's.
void check_weekday(Scanner &s, std::size_t at, unsigned named, Date date) noexcept {
    const Weekday actual = weekday(date);
    if (s.ok() && static_cast<Weekday>(named) != actual)
        s.fail({TextFault::Contradiction,
                static_cast<std::uint32_t>(at),
                {},
                "weekday",
                weekday_contradiction(static_cast<Weekday>(named), actual)});
}

// "hh:mm" and optionally ":ss", the fields checked; `skip` runs between
// the items (RFC 5322 allows comments there, HTTP nothing).
template <class Skip>
Time time_of_day(Scanner &s, bool seconds_required, Skip skip) noexcept {
    const std::size_t hour_at = s.at();
    const unsigned hour = s.fixed(2);
    skip();
    s.expect(':', "':'");
    skip();
    const std::size_t minute_at = s.at();
    const unsigned minute = s.fixed(2);
    skip();
    std::size_t second_at = s.at();
    unsigned second = 0;
    if (seconds_required) {
        s.expect(':', "':'");
        second_at = s.at();
        second = s.fixed(2);
    } else if (s.accept(':')) {
        skip();
        second_at = s.at();
        second = s.fixed(2);
        skip();
    }
    if (hour > 23) s.fail_range(hour_at, "hour", hour);
    if (minute > 59) s.fail_range(minute_at, "minute", minute);
    if (second > 59) s.fail_range(second_at, "second", second);
    return {static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second), 0};
}

// A year of at least `min_digits` digits, or merandol's negative years.
std::int32_t written_year(Scanner &s, std::size_t min_digits) noexcept {
    const std::size_t at = s.at();
    const bool negative = s.accept('-');
    const std::size_t count = s.digit_run();
    // "-001": the sign counts towards the width.
    if (count + negative < min_digits) {
        s.number(count);
        s.fail_expected("a digit");
    }
    return checked_year(s, at, negative, s.number(count));
}

// RFC 5322's zone: "+hhmm", or one of the obsolete names.  RFC 5322 reads a
// military letter as "-0000", an unknown offset, for which merandol has
// no value but offset 0.
UtcOffset rfc2822_zone(Scanner &s) noexcept {
    const bool negative = s.peek() == '-';
    if (s.accept_either('+', '-')) {
        const std::size_t hour_at = s.at();
        const unsigned hours = s.fixed(2), minutes = s.fixed(2);
        if (hours > 23) s.fail_range(hour_at, "offset hour", hours);
        if (minutes > 59) s.fail_range(hour_at + 2, "offset minute", minutes);
        const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
        return UtcOffset{negative ? -magnitude : magnitude};
    }
    // The US zones: Eastern, Central, Mountain, Pacific, standard then
    // daylight, each daylight an hour ahead of its standard.
    constexpr Names<10> kNames({"UT", "GMT", "EST", "EDT", "CST", "CDT", "MST", "MDT", "PST", "PDT"});
    constexpr std::array<std::int8_t, 10> kHours = {0, 0, -5, -4, -6, -5, -7, -6, -8, -7};
    if (is_letter(s.peek()) && !is_letter(s.peek(1)) && to_lower(s.peek()) != 'j') {
        s.accept(s.peek());
        return UtcOffset{0};
    }
    return UtcOffset{kHours[s.name(kNames, "a zone")] * 3600};
}

// RFC 850's two-digit year, from a fixed pivot as RFC 6265 reads cookie
// dates: 70-99 are 19xx, 00-69 20xx.  RFC 9110's rule (the latest year with
// those digits not more than 50 years ahead) depends on the reader's clock;
// a fixed pivot gives every reader the same value, and reads the common
// "01-Jan-70" of an expired cookie as 1970.
constexpr std::int32_t rfc850_year(unsigned two_digits) noexcept {
    return static_cast<std::int32_t>(two_digits + (two_digits >= 70 ? 1900 : 2000));
}

// The index of a three-letter name at `at`, either case, or N.
template <std::size_t N>
unsigned fixed_name(std::string_view text, std::size_t at, const Names<N> &names) noexcept {
    const u64 key = name_key(digits::slice(text, at, at + 3));
    unsigned i = 0;
    while (i < N && names.key[i] != key) ++i;
    return i;
}

// "Tue, 08 Dec 2026 14:36:25 ", what both forms write, read at fixed
// places; false for anything else or a field out of range there, which
// the general reader then reports.
constexpr std::size_t kFixedImfSize = sizeof("Tue, 08 Dec 2026 14:36:25 ") - 1;

bool read_fixed_imf(std::string_view text, Date &date, Time &time) noexcept {
    if (text.size() < kFixedImfSize) return false;
    auto number = [&text](std::size_t at, std::size_t count) {
        unsigned v = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
            v = digit < 10 && v < 10000 ? v * 10 + digit : 100000;  // 100000: not digits
        }
        return v;
    };
    const unsigned day_name = fixed_name(text, 0, kDayNames), month = fixed_name(text, 8, kMonthNames) + 1;
    const unsigned day = number(5, 2), year = number(12, 4), hour = number(17, 2), minute = number(20, 2),
                   second = number(23, 2);
    if (text[3] != ',' || text[4] != ' ' || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':' || text[25] != ' ' || day_name == 7 || month > 12 || year > 9999 ||
        day - 1 >= days_in_month(static_cast<std::int32_t>(year), month) || hour > 23 || minute > 59 || second > 59)
        return false;
    date = Date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
    time =
        Time{static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second), 0};
    return static_cast<unsigned>(weekday(date)) == day_name;
}

char *write_name(char *out, std::string_view name) noexcept {
    for (char c : name) *out++ = c;
    return out;
}

// "Tue, 08 Dec 2026 14:36:25 ": what both written forms begin with.
char *write_imf_date_time(char *out, DateTime dt) noexcept {
    out = write_name(out, kDayNames.text[static_cast<unsigned>(weekday(dt.date))]);
    *out++ = ',';
    *out++ = ' ';
    out = digits::write2(out, dt.date.day);
    *out++ = ' ';
    out = write_name(out, kMonthNames.text[dt.date.month - 1u]);
    *out++ = ' ';
    out = write_year(out, dt.date.year);
    *out++ = ' ';
    out = digits::write2(out, dt.time.hour);
    *out++ = ':';
    out = digits::write2(out, dt.time.minute);
    *out++ = ':';
    out = digits::write2(out, dt.time.second);
    *out++ = ' ';
    return out;
}

}  // namespace

std::expected<TextValue, TextError> read_iso8601(std::string_view text) noexcept {
    // The shape merandol's own texts have, "YYYY-MM-DD" and "THH:MM:SS" with
    // a fraction, is read at fixed places first; any other text, or a field
    // out of range there, is read the general way, which says what is wrong.
    constexpr std::size_t kTimeAt = kFixedDateSize + 1;
    if (Date date; (text.size() == kFixedDateSize ||
                    (text.size() > kFixedDateSize && (text[kFixedDateSize] == 'T' || text[kFixedDateSize] == ' '))) &&
                   read_fixed_date(digits::slice(text, 0, kFixedDateSize), date)) {
        if (text.size() == kFixedDateSize) return TextValue{TextKind::Date, date, {}, {}};
        std::size_t end = kTimeAt + kFixedTimeSize;
        if (end < text.size() && text[end] == '.') ++end;
        while (end < text.size() && is_digit(text[end])) ++end;
        // A decimal comma goes the general way.
        if (Time time; end <= text.size() && (end == text.size() || text[end] != ',') &&
                       read_fixed_time(digits::slice(text, kTimeAt, end), time)) {
            if (end == text.size()) return TextValue{TextKind::DateTime, date, time, {}};
            // So are "Z" and "+HH:MM" after it, which iso_offset reads alike.
            const std::string_view rest = digits::tail(text, end);
            if (rest.size() == 1 && (rest[0] | 0x20) == 'z') return TextValue{TextKind::OffsetDateTime, date, time, {}};
            if (UtcOffset offset; read_fixed_offset(rest, offset))
                return TextValue{TextKind::OffsetDateTime, date, time, offset};
            Scanner s(text, end);
            const UtcOffset offset = iso_offset(s);
            return finish(s, {TextKind::OffsetDateTime, date, time, offset});
        }
    }
    Scanner s(text);
    Date date = iso_date(s);
    if (s.ok() && s.at_end()) return TextValue{TextKind::Date, date, {}, {}};
    if (!s.accept('T') && !s.accept('t') && !s.accept(' ')) s.fail_expected("'T' or a space");
    const std::size_t hour_at = s.at();
    const auto [time, end_of_day] = iso_time(s);
    if (end_of_day && s.ok()) {
        const auto next = day_after(date);
        if (!next) s.fail_range(hour_at, "hour", 24);
        date = next.value_or(date);
    }
    if (s.ok() && s.at_end()) return TextValue{TextKind::DateTime, date, time, {}};
    const UtcOffset offset = iso_offset(s);
    return finish(s, {TextKind::OffsetDateTime, date, time, offset});
}

std::expected<TextValue, TextError> read_rfc2822(std::string_view text) noexcept {
    // "Tue, 08 Dec 2026 14:36:25 +0100", as written, first.
    if (DateTime dt; text.size() == kFixedImfSize + 5 && read_fixed_imf(text, dt.date, dt.time)) {
        Scanner s(text, kFixedImfSize);
        const UtcOffset offset = rfc2822_zone(s);
        if (s.ok() && s.at_end()) return TextValue{TextKind::OffsetDateTime, dt.date, dt.time, offset};
    }
    Scanner s(text);
    s.skip_cfws();
    const std::size_t name_at = s.at();
    const bool named = is_letter(s.peek());
    unsigned day_name = 0;
    if (named) {
        day_name = s.name(kDayNames, "a day name");
        s.skip_cfws();
        s.expect(',', "','");
        s.skip_cfws();
    }
    const std::size_t day_at = s.at();
    const std::size_t day_digits = s.digit_run();
    const unsigned day = s.fixed(day_digits == 1 ? 1 : 2);
    s.skip_cfws();
    const unsigned month = s.name(kMonthNames, "a month name") + 1;
    s.skip_cfws();
    // Obsolete years: two digits are 1950 to 2049, three digits count from
    // 1900 (RFC 5322 section 4.3).
    const std::size_t year_at = s.at();
    const bool signed_year = s.peek() == '-';
    std::int32_t year = written_year(s, 2);
    const std::size_t year_digits = s.at() - year_at;
    if (!signed_year && year_digits == 2) year += year < 50 ? 2000 : 1900;
    if (!signed_year && year_digits == 3) year += 1900;
    const Date date = calendar_date(s, year, month, year_at, day, day_at);
    s.skip_cfws();
    const Time time = time_of_day(s, false, [&s] { s.skip_cfws(); });
    s.skip_cfws();
    const UtcOffset offset = rfc2822_zone(s);
    s.skip_cfws();
    if (named) check_weekday(s, name_at, day_name, date);
    return finish(s, {TextKind::OffsetDateTime, date, time, offset});
}

std::expected<TextValue, TextError> read_http_date(std::string_view text) noexcept {
    // "Tue, 08 Dec 2026 14:36:25 GMT", as written, first.
    if (DateTime dt;
        text.size() == kFixedImfSize + 3 && read_fixed_imf(text, dt.date, dt.time) && text.ends_with("GMT"))
        return TextValue{TextKind::DateTime, dt.date, dt.time, {}};
    Scanner s(text);
    auto nothing = [] {};
    std::size_t letters = 0;
    while (letters < 4 && is_letter(s.peek(letters))) ++letters;  // three letters, or a day's whole name
    unsigned day_name, day, month;
    std::size_t day_at, month_at;
    std::int32_t year;
    Time time;
    // RFC 850, "Sunday, 06-Nov-94 08:49:37 GMT", and IMF-fixdate, "Sun, 06
    // Nov 1994 08:49:37 GMT", differ in the day's name, the separators of
    // the date and the year's digits.
    const bool rfc850 = letters > 3;
    day_name = s.name(rfc850 ? kFullDayNames : kDayNames, "a day name");
    if (rfc850 || s.accept(',')) {
        if (rfc850) s.expect(',', "','");
        const char separator = rfc850 ? '-' : ' ';
        const char *const separator_name = rfc850 ? "'-'" : "a space";
        s.expect(' ', "a space");
        day_at = s.at();
        day = s.fixed(2);
        s.expect(separator, separator_name);
        month_at = s.at();
        month = s.name(kMonthNames, "a month name") + 1;
        s.expect(separator, separator_name);
        year = rfc850 ? rfc850_year(s.fixed(2)) : written_year(s, 4);
        s.expect(' ', "a space");
        time = time_of_day(s, true, nothing);
        s.expect(' ', "a space");
        if (!s.accept_word("GMT")) s.fail_expected("'GMT'");
    } else {
        // asctime: "Sun Nov  6 08:49:37 1994", the day space-padded.
        s.expect(' ', "',' or a space");
        month_at = s.at();
        month = s.name(kMonthNames, "a month name") + 1;
        s.expect(' ', "a space");
        day_at = s.at();
        day = s.accept(' ') ? s.fixed(1) : s.fixed(2);
        s.expect(' ', "a space");
        time = time_of_day(s, true, nothing);
        s.expect(' ', "a space");
        year = written_year(s, 4);
    }
    const Date date = calendar_date(s, year, month, month_at, day, day_at);
    check_weekday(s, 0, day_name, date);
    return finish(s, {TextKind::DateTime, date, time, {}});
}

// Offsets are written in whole minutes, as the form has no seconds: the
// seconds of an offset are dropped, toward zero.
char *write_rfc2822(char *out, DateTime local, UtcOffset offset) noexcept {
    out = write_imf_date_time(out, local);
    *out++ = offset.seconds < 0 ? '-' : '+';
    const auto minutes = static_cast<unsigned>(offset.seconds < 0 ? -offset.seconds : offset.seconds) / 60;
    out = digits::write2(out, minutes / 60);
    return digits::write2(out, minutes % 60);
}

char *write_http_date(char *out, DateTime utc) noexcept {
    out = write_imf_date_time(out, utc);
    return write_name(out, "GMT");
}

}  // namespace merandol
