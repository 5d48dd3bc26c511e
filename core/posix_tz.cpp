#include "core/posix_tz.hpp"

#include <algorithm>

namespace merandol {
namespace {

constexpr bool is_letter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

struct Cursor {
    const char *p;
    const char *end;

    bool at(char c) const noexcept { return p != end && *p == c; }
    bool eat(char c) noexcept {
        if (!at(c)) return false;
        ++p;
        return true;
    }
    // One to `max_digits` digits.
    bool number(int max_digits, std::int32_t &out) noexcept {
        out = 0;
        int n = 0;
        while (n < max_digits && p != end && is_digit(*p)) {
            out = out * 10 + (*p++ - '0');
            ++n;
        }
        return n > 0;
    }
};

// A name, its text (without the angle brackets) in `name`.
bool read_name(Cursor &c, std::string_view &name) noexcept {
    const char *first = c.p;
    if (c.eat('<')) {
        first = c.p;
        while (c.p != c.end && (is_letter(*c.p) || is_digit(*c.p) || *c.p == '+' || *c.p == '-')) ++c.p;
        name = {first, static_cast<std::size_t>(c.p - first)};
        return c.p - first >= 3 && c.eat('>');
    }
    while (c.p != c.end && is_letter(*c.p)) ++c.p;
    name = {first, static_cast<std::size_t>(c.p - first)};
    return c.p - first >= 3;
}

// [+-]h[h..][:mm[:ss]] with the hours at most `max_hours`, as signed seconds.
bool read_hms(Cursor &c, int hour_digits, std::int32_t max_hours, std::int32_t &out) noexcept {
    const bool negative = c.eat('-');
    if (!negative) c.eat('+');
    std::int32_t hours, minutes = 0, seconds = 0;
    if (!c.number(hour_digits, hours) || hours > max_hours) return false;
    if (c.eat(':')) {
        if (!c.number(2, minutes) || minutes > 59) return false;
        if (c.eat(':') && (!c.number(2, seconds) || seconds > 59)) return false;
    }
    const std::int32_t magnitude = hours * 3600 + minutes * 60 + seconds;  // at most 167:59:59
    out = negative ? -magnitude : magnitude;
    return true;
}

// A west-positive offset, returned east-positive.
std::expected<std::int32_t, PosixTzError> read_offset(Cursor &c) noexcept {
    std::int32_t west;
    if (!read_hms(c, 2, 24, west)) return std::unexpected(PosixTzError::BadOffset);
    if (west < -kSecondsPerDay || west > kSecondsPerDay) return std::unexpected(PosixTzError::OffsetOutOfRange);
    return -west;
}

bool read_day_rule(Cursor &c, DayRule &r) noexcept {
    std::int32_t a, b, d;
    r = {};
    if (c.eat('J')) {
        r.kind = DayRule::Kind::Julian;
        if (!c.number(3, a) || a < 1 || a > 365) return false;
        r.day = static_cast<std::uint16_t>(a);
        return true;
    }
    if (c.eat('M')) {
        r.kind = DayRule::Kind::MonthWeekDay;
        if (!c.number(2, a) || a < 1 || a > 12 || !c.eat('.')) return false;
        if (!c.number(1, b) || b < 1 || b > 5 || !c.eat('.')) return false;
        if (!c.number(1, d) || d > 6) return false;
        r.month = static_cast<std::uint8_t>(a);
        r.week = static_cast<std::uint8_t>(b);
        r.weekday = static_cast<std::uint8_t>(d);
        return true;
    }
    r.kind = DayRule::Kind::ZeroBased;
    if (!c.number(3, a) || a > 365) return false;
    r.day = static_cast<std::uint16_t>(a);
    return true;
}

// ",rule[/time]": the time defaults to 02:00.
std::expected<void, PosixTzError> read_change(Cursor &c, DayRule &rule, std::int32_t &time) noexcept {
    if (!c.eat(',')) return std::unexpected(PosixTzError::MissingRule);
    if (!read_day_rule(c, rule)) return std::unexpected(PosixTzError::BadRule);
    time = 2 * 3600;
    if (c.eat('/') && !read_hms(c, 3, 167, time)) return std::unexpected(PosixTzError::BadTime);
    return {};
}

}  // namespace

std::expected<PosixTz, PosixTzError> parse_posix_tz(std::string_view text, PosixTzNames *names) noexcept {
    Cursor c{text.data(), text.data() + text.size()};
    PosixTz tz{};
    PosixTzNames read{};
    if (names == nullptr) names = &read;
    *names = {};
    if (!read_name(c, names->std_name)) return std::unexpected(PosixTzError::BadName);
    const auto std_offset = read_offset(c);
    if (!std_offset) return std::unexpected(std_offset.error());
    tz.std_offset = tz.dst_offset = *std_offset;
    if (c.p == c.end) return tz;
    if (!read_name(c, names->dst_name)) return std::unexpected(PosixTzError::BadName);
    tz.has_dst = true;
    // Without its own offset, daylight time is one hour ahead.
    tz.dst_offset = tz.std_offset + 3600;
    if (c.p != c.end && !c.at(',')) {
        const auto dst_offset = read_offset(c);
        if (!dst_offset) return std::unexpected(dst_offset.error());
        tz.dst_offset = *dst_offset;
    }
    if (tz.dst_offset > kSecondsPerDay) return std::unexpected(PosixTzError::OffsetOutOfRange);
    if (const auto start = read_change(c, tz.start, tz.start_time); !start) return std::unexpected(start.error());
    if (const auto end = read_change(c, tz.end, tz.end_time); !end) return std::unexpected(end.error());
    if (c.p != c.end) return std::unexpected(PosixTzError::TrailingText);
    return tz;
}

FooterRule::FooterRule(const PosixTz &rule) noexcept : rule_(rule) {
    // 2000 to 2027 hold every kind of year: each weekday of 1 January for
    // common years, and for the leap years 2000 to 2024.
    constexpr i64 kMargin = 16 * kSecondsPerDay;
    for (i64 year = 2000; year < 2028; ++year) {
        const i64 first_day = first_day_of_year(year);
        const bool leap = is_leap_year(year);
        const unsigned k = kind(first_day, leap);
        const YearChanges c = year_changes(rule, year);
        const i64 base = first_day * kSecondsPerDay;
        start_[k] = static_cast<std::int32_t>(c.start - base);
        end_[k] = static_cast<std::int32_t>(c.end - base);
        const i64 lo = std::min(c.start, c.end) - base, hi = std::max(c.start, c.end) - base;
        if (lo >= kMargin && hi < (365 + leap) * kSecondsPerDay - kMargin && hi - lo >= kMargin)
            simple_ = static_cast<std::uint16_t>(simple_ | 1u << k);
    }
}

YearChanges FooterRule::changes(i64 year) const noexcept {
    const i64 first_day = first_day_of_year(year);
    const unsigned k = kind(first_day, is_leap_year(year));
    const i64 base = first_day * kSecondsPerDay;
    return {base + start_[k], base + end_[k]};
}

namespace {

// One change of the rule: the year it belongs to and whether it starts
// daylight time.  `before` orders changes as the header describes.
struct Change {
    i64 at;
    i64 year;
    bool start;
};

constexpr bool before(const Change &a, const Change &b) noexcept {
    if (a.at != b.at) return a.at < b.at;
    if (a.year != b.year) return a.year < b.year;
    return !a.start && b.start;
}

// The changes of the rule in time order, from the given years on (forward)
// or back from them (backward).  Each kind of change moves forward by about
// a year from one year to the next, so the merge of the two sequences is the
// whole sequence from the point where both begin.
class ChangeStream {
public:
    ChangeStream(const FooterRule &rule, i64 year, bool forward) noexcept
        : rule_(rule), step_(forward ? 1 : -1), start_year_(year), end_year_(year) {
        load_start();
        load_end();
    }

    Change next() noexcept {
        const bool take_start = step_ > 0 ? before(start_, end_) : before(end_, start_);
        const Change c = take_start ? start_ : end_;
        if (take_start) {
            start_year_ += step_;
            load_start();
        } else {
            end_year_ += step_;
            load_end();
        }
        return c;
    }

private:
    void load_start() noexcept { start_ = {rule_.changes(start_year_).start, start_year_, true}; }
    void load_end() noexcept { end_ = {rule_.changes(end_year_).end, end_year_, false}; }

    const FooterRule &rule_;
    i64 step_;
    i64 start_year_, end_year_;
    Change start_{}, end_{};
};

constexpr i64 clamp_seconds(i64 s) noexcept { return std::clamp(s, kFooterMinSeconds, kFooterMaxSeconds); }

// A year's changes lie in [1 January - 8 days, 1 January of the next year +
// 9 days]: those of year - 2 all precede any instant of `year`, those of
// year + 2 all follow it.
constexpr i64 kYearsBack = 2;
// The rule repeats every 400 years; a search that long finds any change.
constexpr int kMaxChanges = 2 * 401;

}  // namespace

bool FooterRule::daylight_at(i64 seconds) const noexcept {
    const i64 s = clamp_seconds(seconds);
    const YearStart y = year_start(floor_divmod<i64>(s, kSecondsPerDay).quotient);
    const unsigned k = kind(y.first_day, y.leap);
    if (simple_ >> k & 1) {
        // The state before the year's first change is the one after its
        // last: on from the start to the end when the start comes first,
        // off from the end to the start otherwise.
        const i64 base = y.first_day * kSecondsPerDay;
        const i64 start = base + start_[k], end = base + end_[k];
        return (s >= start) ^ (s >= end) ^ (end < start);
    }
    // Otherwise the latest change at or before the instant, counting back
    // from the first year whose changes all follow it.
    ChangeStream back(*this, y.year + 1, false);
    for (int i = 0; i < 4 * (kYearsBack + 2); ++i) {
        const Change ch = back.next();
        if (ch.at <= s) return ch.start;
    }
    return false;  // not reached: every change of year - 2 precedes the instant
}

FooterRule::YearOfInstant FooterRule::year_of_instant(i64 seconds) const noexcept {
    const i64 s = clamp_seconds(seconds);
    const YearStart y = year_start(floor_divmod<i64>(s, kSecondsPerDay).quotient);
    const unsigned k = kind(y.first_day, y.leap);
    if (!(simple_ >> k & 1)) return {s, y.year, std::nullopt};
    const i64 base = y.first_day * kSecondsPerDay;
    return {s, y.year, std::pair{base + std::min(start_[k], end_[k]), base + std::max(start_[k], end_[k])}};
}

std::optional<i64> FooterRule::next_change(i64 seconds) const noexcept {
    if (!rule_.changes()) return std::nullopt;
    const auto [s, year, simple_changes] = year_of_instant(seconds);
    if (simple_changes) {
        // Each change of a simple year is a change of offset, and the next
        // year's first change is the other kind of its last.
        const auto [first, last] = *simple_changes;
        if (s < first) return first;
        if (s < last) return last;
        const YearChanges next = changes(year + 1);
        return std::min(next.start, next.end);
    }
    bool state = daylight_at(s);
    ChangeStream forward(*this, year - 1, true);
    Change ch = forward.next();
    for (int i = 0; i < kMaxChanges; ++i) {
        const Change following = forward.next();
        // The last of the changes at one instant decides the state after it.
        if (ch.at > s && following.at != ch.at) {
            if (ch.start != state) return ch.at;
            state = ch.start;
        }
        ch = following;
    }
    return std::nullopt;
}

std::optional<i64> FooterRule::previous_change(i64 seconds) const noexcept {
    if (!rule_.changes()) return std::nullopt;
    const auto [s, year, simple_changes] = year_of_instant(seconds);
    if (simple_changes) {
        const auto [first, last] = *simple_changes;
        if (s > last) return last;
        if (s > first) return first;
        const YearChanges previous = changes(year - 1);
        return std::max(previous.start, previous.end);
    }
    // Back from the first year whose changes all follow the instant; the
    // first change seen at an instant is the last in order there, so it
    // gives the state after that instant, and the next instant back gives
    // the state before it.
    ChangeStream back(*this, year + 1, false);
    std::optional<Change> later;  // the latest instant before `s` seen so far
    for (int i = 0; i < kMaxChanges; ++i) {
        const Change ch = back.next();
        if (ch.at >= s) continue;
        if (!later) {
            later = ch;
        } else if (ch.at != later->at) {
            if (ch.start != later->start) return later->at;
            later = ch;
        }
    }
    return std::nullopt;
}

}  // namespace merandol
