// Patterns: compiled in two passes over the pattern (one counts the items,
// the other writes them into the one allocation), read in one pass over the
// text with every digit run bounded, then resolved: the date and time are
// built from one whole set of fields and every other field read is checked
// against them.
#include "core/pattern.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "core/calendar_arithmetic.hpp"
#include "core/digits.hpp"

namespace merandol {

namespace {

// The fields a text can give, each in one slot.  Two directives of one
// field (%b and %B, %d and %e, %z and %Z) share a slot and must agree.
enum Slot : std::uint8_t {
    kYear,         // %Y
    kYear2,        // %y
    kIsoYear,      // %G
    kMonth,        // %m
    kMonthName,    // %b %h %B
    kDay,          // %d %e
    kDayOfYear,    // %j
    kIsoWeek,      // %V
    kWeekSunday,   // %U
    kWeekMonday,   // %W
    kWeekdayName,  // %a %A
    kWeekdayIso,   // %u
    kWeekdayC,     // %w
    kHour,         // %H
    kHour12,       // %I
    kAmPm,         // %p
    kMinute,       // %M
    kSecond,       // %S
    kFraction,     // %f %3f %6f %9f %.f
    kUnix,         // %s
    kOffset,       // %z %:z
    kOffsetName,   // %Z
    kSlots,
};

// The items that are not fields follow the slots.
enum Op : std::uint8_t {
    kLiteral = kSlots,  // bytes, letters matched in either case
    kSpace,             // a run of white space; written as given
};

constexpr std::uint32_t bit(unsigned slot) noexcept { return std::uint32_t{1} << slot; }

constexpr std::uint32_t kDateFields = bit(kYear) | bit(kYear2) | bit(kIsoYear) | bit(kMonth) | bit(kMonthName) |
                                      bit(kDay) | bit(kDayOfYear) | bit(kIsoWeek) | bit(kWeekSunday) |
                                      bit(kWeekMonday) | bit(kWeekdayName) | bit(kWeekdayIso) | bit(kWeekdayC);
constexpr std::uint32_t kWeekdays = bit(kWeekdayName) | bit(kWeekdayIso) | bit(kWeekdayC);
constexpr std::uint32_t kTimeFields =
    bit(kHour) | bit(kHour12) | bit(kAmPm) | bit(kMinute) | bit(kSecond) | bit(kFraction);
constexpr std::uint32_t kOffsets = bit(kOffset) | bit(kOffsetName);
// The fields of most timestamps, which the fixed prefix reads without a loop.
constexpr Slot kPlainSlots[] = {kYear, kMonth, kDay, kHour, kMinute, kSecond};
constexpr std::uint32_t kPlainFields = bit(kYear) | bit(kMonth) | bit(kDay) | bit(kHour) | bit(kMinute) | bit(kSecond);
constexpr std::uint32_t kNumbers =
    (kDateFields | kTimeFields | bit(kUnix)) & ~bit(kMonthName) & ~bit(kWeekdayName) & ~bit(kAmPm);

// Names of fields, for errors.
constexpr std::string_view kFieldNames[kSlots] = {
    "year",   "year",   "ISO year", "month",     "month",   "day",    "day of year", "ISO week",
    "week",   "week",   "weekday",  "weekday",   "weekday", "hour",   "hour",        "AM/PM",
    "minute", "second", "fraction", "Unix time", "offset",  "offset",
};

constexpr std::string_view kMonthNames[12] = {"january", "february", "march",     "april",   "may",      "june",
                                              "july",    "august",   "september", "october", "november", "december"};
constexpr std::string_view kWeekdayNames[7] = {"monday", "tuesday",  "wednesday", "thursday",
                                               "friday", "saturday", "sunday"};

}  // namespace

struct PatternItem {
    std::uint8_t op;         // a Slot or an Op
    std::uint8_t width;      // digits written; fraction digits (0 for %.f); 1 for a full name or "%:z"
    std::uint8_t pad;        // '0', ' ', or 0 for none
    std::uint8_t greedy;     // %Y and %G: a sign and any number of digits, not four; a space after a space: none
    std::uint32_t fixed_at;  // position in the fixed prefix, for its items
    const char *literal;     // the bytes of a literal or a space
    std::uint32_t literal_size;
    std::uint32_t directive_begin, directive_size;
};

namespace {

// --- Compiling ---------------------------------------------------------------

constexpr bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_letter(char c) noexcept { return static_cast<unsigned char>((c | 0x20) - 'a') < 26; }
constexpr char folded(char c) noexcept { return is_letter(c) ? static_cast<char>(c | 0x20) : c; }

struct Directive {
    Slot slot;
    std::uint8_t width;
    std::uint8_t pad;
};

// The directive of a letter, or kSlots for one that is not a field.
constexpr Directive field_of(char c) noexcept {
    switch (c) {
        case 'Y': return {kYear, 4, '0'};
        case 'y': return {kYear2, 2, '0'};
        case 'G': return {kIsoYear, 4, '0'};
        case 'm': return {kMonth, 2, '0'};
        case 'b':
        case 'h': return {kMonthName, 0, 0};
        case 'B': return {kMonthName, 1, 0};
        case 'd': return {kDay, 2, '0'};
        case 'e': return {kDay, 2, ' '};
        case 'j': return {kDayOfYear, 3, '0'};
        case 'V': return {kIsoWeek, 2, '0'};
        case 'U': return {kWeekSunday, 2, '0'};
        case 'W': return {kWeekMonday, 2, '0'};
        case 'a': return {kWeekdayName, 0, 0};
        case 'A': return {kWeekdayName, 1, 0};
        case 'u': return {kWeekdayIso, 1, '0'};
        case 'w': return {kWeekdayC, 1, '0'};
        case 'H': return {kHour, 2, '0'};
        case 'I': return {kHour12, 2, '0'};
        case 'p': return {kAmPm, 0, 0};
        case 'M': return {kMinute, 2, '0'};
        case 'S': return {kSecond, 2, '0'};
        case 'f': return {kFraction, 6, 0};
        case 's': return {kUnix, 1, 0};
        case 'z': return {kOffset, 0, 0};
        case 'Z': return {kOffsetName, 0, 0};
        default: return {kSlots, 0, 0};
    }
}

// The directives that stand for a sequence of others.
constexpr std::string_view composite_of(char c) noexcept {
    switch (c) {
        case 'F': return "Y-m-d";
        case 'T':
        case 'X': return "H:M:S";
        case 'D':
        case 'x': return "m/d/y";
        case 'R': return "H:M";
        case 'c': return "a b e H:M:S Y";
        default: return {};
    }
}

// The static bytes of composites' literals and of %n, %t, %%.
constexpr std::string_view kStaticLiterals = "-:/ \n\t%";

class Compiler {
public:
    Compiler(std::string_view pattern, const char *copy, PatternItem *items) noexcept
        : pattern_(pattern), copy_(copy), items_(items) {}

    std::expected<void, PatternError> run() noexcept {
        std::size_t i = 0;
        while (i < pattern_.size()) {
            const char c = pattern_[i];
            if (c != '%') {
                std::size_t j = i + 1;
                const bool space = is_space(c);
                while (j < pattern_.size() && pattern_[j] != '%' && is_space(pattern_[j]) == space) ++j;
                add_literal(space ? kSpace : kLiteral, copy_at(i), j - i, i, 0);
                i = j;
                continue;
            }
            const auto end = directive(i);
            if (!end) return std::unexpected(end.error());
            i = *end;
        }
        return {};
    }

    std::uint32_t count() const noexcept { return count_; }
    std::uint32_t fields() const noexcept { return fields_; }
    std::uint32_t zone_names() const noexcept { return zone_names_; }
    std::uint32_t first(Slot s) const noexcept { return first_[s]; }

private:
    PatternError fault(PatternFault f, std::size_t begin, std::size_t end) const noexcept {
        return {f, static_cast<std::uint32_t>(begin), digits::slice(pattern_, begin, end)};
    }

    void add(const PatternItem &item) noexcept {
        if (items_ != nullptr) items_[count_] = item;
        ++count_;
    }

    void add_literal(Op op, const char *bytes, std::size_t size, std::size_t begin, std::size_t directive_size) {
        add({static_cast<std::uint8_t>(op), 0, 0, 0, 0, bytes, static_cast<std::uint32_t>(size),
             static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(directive_size)});
    }

    // The pattern's copy at `i`; none while counting.
    const char *copy_at(std::size_t i) const noexcept { return copy_ == nullptr ? nullptr : copy_ + i; }

    const char *static_literal(char c) const noexcept { return kStaticLiterals.data() + kStaticLiterals.find(c); }

    // Marks a directive's letter as given, refusing it a second time.
    bool mark(char key) noexcept {
        const auto k = static_cast<unsigned char>(key);
        if (seen_[k]) return false;
        seen_[k] = true;
        return true;
    }

    void add_field(Directive d, std::uint8_t pad, std::size_t begin, std::size_t end) noexcept {
        if (!(fields_ & bit(d.slot))) first_[d.slot] = static_cast<std::uint32_t>(begin);
        fields_ |= bit(d.slot);
        zone_names_ += d.slot == kOffsetName;
        add({d.slot, d.width, pad, 0, 0, nullptr, 0, static_cast<std::uint32_t>(begin),
             static_cast<std::uint32_t>(end - begin)});
    }

    std::expected<std::size_t, PatternError> directive(std::size_t begin) noexcept {
        std::size_t i = begin + 1;
        if (i == pattern_.size()) return std::unexpected(fault(PatternFault::LonePercent, begin, i));
        // Flags, a fraction's width, or the colon of "%:z"; then the letter.
        char flag = 0, width = 0;
        if (pattern_[i] == '-' || pattern_[i] == '_' || pattern_[i] == '0' || pattern_[i] == ':') flag = pattern_[i++];
        if (flag == 0 && i < pattern_.size() &&
            (pattern_[i] == '3' || pattern_[i] == '6' || pattern_[i] == '9' || pattern_[i] == '.'))
            width = pattern_[i++];
        if (i == pattern_.size()) return std::unexpected(fault(PatternFault::UnknownDirective, begin, i));
        const char letter = pattern_[i++];
        const auto unknown = [&] { return std::unexpected(fault(PatternFault::UnknownDirective, begin, i)); };
        const auto twice = [&] { return std::unexpected(fault(PatternFault::RepeatedField, begin, i)); };
        if (flag == 0 && width == 0) {
            if (letter == '%' || letter == 'n' || letter == 't') {
                const char *bytes = letter == '%' ? copy_at(i - 1) : static_literal(letter == 'n' ? '\n' : '\t');
                add_literal(letter == '%' ? kLiteral : kSpace, bytes, 1, begin, i - begin);
                return i;
            }
            const std::string_view parts = composite_of(letter);
            if (!parts.empty()) {
                for (char part : parts) {
                    if (part == ' ' || part == '-' || part == ':' || part == '/') {
                        add_literal(part == ' ' ? kSpace : kLiteral, static_literal(part), 1, begin, i - begin);
                        continue;
                    }
                    if (!mark(part == 'h' ? 'b' : part)) return twice();
                    const Directive d = field_of(part);
                    add_field(d, d.pad, begin, i);
                }
                return i;
            }
        }
        const Directive d = field_of(letter);
        if (d.slot == kSlots) return unknown();
        if (flag == ':' && letter != 'z') return unknown();
        if (width != 0 && letter != 'f') return unknown();
        const bool numeric = (kNumbers & bit(d.slot)) && d.slot != kFraction && d.slot != kUnix;
        if (flag != 0 && flag != ':' && !numeric) return unknown();
        // %z and %:z are one directive; %b and %h another.
        if (!mark(letter == 'h' ? 'b' : letter)) return twice();
        Directive given = d;
        std::uint8_t pad = d.pad;
        if (flag == '-') pad = 0;
        if (flag == '_') pad = ' ';
        if (flag == '0') pad = '0';
        if (flag == ':') given.width = 1;
        if (d.slot == kFraction)
            given.width = width == 0 ? 6 : width == '.' ? 0 : static_cast<std::uint8_t>(width - '0');
        add_field(given, pad, begin, i);
        return i;
    }

    std::string_view pattern_;
    const char *copy_;
    PatternItem *items_;
    std::uint32_t count_ = 0;
    std::uint32_t fields_ = 0;
    std::uint32_t zone_names_ = 0;
    std::uint32_t first_[kSlots] = {};
    bool seen_[256] = {};
};

// Digit directives: a field read as digits, which a greedy field before it
// must leave alone.
constexpr bool reads_digits(const PatternItem &item) noexcept {
    if (item.op == kLiteral) return digits::is_digit(item.literal[0]);
    return item.op < kSlots && (kNumbers & bit(item.op)) && !(item.op == kFraction && item.width == 0);
}

// The longest text of an item.
constexpr std::size_t written_max(const PatternItem &item) noexcept {
    switch (item.op) {
        case kLiteral:
        case kSpace: return item.literal_size;
        case kYear:
        case kIsoYear: return digits::kTextMax<std::int32_t> + 1;  // a year past either end for %G: "-2147483649"
        case kMonthName:
        case kWeekdayName: return sizeof("September") - 1;
        case kFraction: return 1 + 9;  // ".fffffffff"
        case kUnix: return digits::kTextMax<std::int64_t>;
        case kOffset: return sizeof("+hh:mm:ss") - 1;
        case kOffsetName: return kOffsetNameMax;
        default: return item.width < 3 ? 3 : item.width;
    }
}

}  // namespace

// --- Pattern -------------------------------------------------------------------

Pattern::Pattern(Pattern &&other) noexcept { *this = static_cast<Pattern &&>(other); }

Pattern &Pattern::operator=(Pattern &&other) noexcept {
    if (this != &other) {
        std::free(block_);
        block_ = std::exchange(other.block_, nullptr);
        items_ = std::exchange(other.items_, nullptr);
        text_ = std::exchange(other.text_, "");
        item_count_ = std::exchange(other.item_count_, 0);
        text_size_ = std::exchange(other.text_size_, 0);
        fixed_items_ = std::exchange(other.fixed_items_, 0);
        fixed_size_ = other.fixed_size_;
        std::copy(std::begin(other.fixed_bytes_), std::end(other.fixed_bytes_), fixed_bytes_);
        std::copy(std::begin(other.fixed_limits_), std::end(other.fixed_limits_), fixed_limits_);
        std::copy(std::begin(other.fixed_folds_), std::end(other.fixed_folds_), fixed_folds_);
        std::copy(std::begin(other.fixed_digits_), std::end(other.fixed_digits_), fixed_digits_);
        std::copy(std::begin(other.fixed_fields_), std::end(other.fixed_fields_), fixed_fields_);
        fixed_field_count_ = other.fixed_field_count_;
        fixed_present_ = other.fixed_present_;
        fixed_plain_ = other.fixed_plain_;
        plain_whole_ = other.plain_whole_;
        plain_date_time_ = other.plain_date_time_;
        plain_month_name_ = other.plain_month_name_;
        plain_instants_ = other.plain_instants_;
        usual_places_ = other.usual_places_;
        std::copy(std::begin(other.plain_at_), std::end(other.plain_at_), plain_at_);
        std::copy(std::begin(other.fixed_text_), std::end(other.fixed_text_), fixed_text_);
        written_size_max_ = other.written_size_max_;
        zone_names_ = other.zone_names_;
        kind_ = other.kind_;
        keeps_every_field_ = other.keeps_every_field_;
        fields_ = other.fields_;
    }
    return *this;
}

Pattern::~Pattern() { std::free(block_); }

std::expected<Pattern, PatternError> Pattern::compile(std::string_view pattern) noexcept {
    if (pattern.size() > UINT32_MAX / 2) return std::unexpected(PatternError{PatternFault::OutOfMemory, 0, {}});
    Compiler counting(pattern, nullptr, nullptr);
    if (auto ok = counting.run(); !ok) return std::unexpected(ok.error());
    const std::uint32_t fields = counting.fields();

    // Which class the fields give.
    const std::uint32_t weekday = fields & kWeekdays;
    const bool year = fields & (bit(kYear) | bit(kYear2));
    const bool month_day = (fields & (bit(kMonth) | bit(kMonthName))) && (fields & bit(kDay));
    const bool whole_date = (year && (month_day || (fields & bit(kDayOfYear)) ||
                                      ((fields & (bit(kWeekSunday) | bit(kWeekMonday))) && weekday))) ||
                            ((fields & bit(kIsoYear)) && (fields & bit(kIsoWeek)) && weekday);
    const bool time = (fields & bit(kHour)) || ((fields & bit(kHour12)) && (fields & bit(kAmPm)));
    const bool offset = fields & kOffsets;
    const auto first_of = [&](std::uint32_t set) {
        std::uint32_t at = UINT32_MAX;
        for (unsigned s = 0; s < kSlots; ++s)
            if ((set & bit(s)) && counting.first(static_cast<Slot>(s)) < at) at = counting.first(static_cast<Slot>(s));
        return at == UINT32_MAX ? 0 : at;
    };
    const auto refuse = [&](PatternFault f, std::uint32_t set) {
        return std::unexpected(PatternError{f, first_of(set), {}});
    };
    TextKind kind;
    if (fields & bit(kUnix)) {
        kind = offset ? TextKind::OffsetDateTime : TextKind::DateTime;
    } else {
        if ((fields & kDateFields) && !whole_date) return refuse(PatternFault::PartialDate, fields & kDateFields);
        if ((fields & kTimeFields) && !time) return refuse(PatternFault::PartialTime, fields & kTimeFields);
        if (!whole_date && !time) return refuse(PatternFault::NoDateOrTime, 0);
        if (offset && !whole_date) return refuse(PatternFault::PartialDate, fields & kOffsets);
        if (offset && !time) return refuse(PatternFault::PartialTime, fields & kOffsets);
        kind = whole_date && time ? (offset ? TextKind::OffsetDateTime : TextKind::DateTime)
               : whole_date       ? TextKind::Date
                                  : TextKind::Time;
    }

    const std::size_t item_bytes = std::size_t{counting.count()} * sizeof(PatternItem);
    void *block = std::malloc(item_bytes + pattern.size() + 1);
    if (block == nullptr) return std::unexpected(PatternError{PatternFault::OutOfMemory, 0, {}});
    auto *items = static_cast<PatternItem *>(block);
    char *text = static_cast<char *>(block) + item_bytes;
    if (!pattern.empty()) std::memcpy(text, pattern.data(), pattern.size());
    text[pattern.size()] = '\0';
    Compiler writing(pattern, text, items);
    if (!writing.run()) {  // cannot happen: the count refused what it would
        std::free(block);
        return std::unexpected(PatternError{PatternFault::OutOfMemory, 0, {}});
    }

    Pattern p;
    p.block_ = block;
    p.items_ = items;
    p.text_ = text;
    p.item_count_ = writing.count();
    p.text_size_ = static_cast<std::uint32_t>(pattern.size());
    p.kind_ = kind;
    p.fields_ = fields;
    p.zone_names_ = writing.zone_names();

    // Greedy years, the written size, and whether every field is kept.
    bool keeps = true;
    std::size_t size = 0;
    for (std::uint32_t k = 0; k < p.item_count_; ++k) {
        PatternItem &item = items[k];
        const bool digits_follow = k + 1 < p.item_count_ && reads_digits(items[k + 1]);
        // What follows when a %.f of a whole second between writes nothing.
        std::uint32_t after = k + 1;
        while (after < p.item_count_ && items[after].op == kFraction && items[after].width == 0) ++after;
        const bool digits_after = after < p.item_count_ && reads_digits(items[after]);
        if (item.op == kSpace) {
            // After another space, with nothing or only a %.f of a whole
            // second between, the run may have been read already.
            std::uint32_t j = k;
            while (j > 0 && items[j - 1].op == kFraction && items[j - 1].width == 0) --j;
            item.greedy = j > 0 && items[j - 1].op == kSpace;
        }
        if (item.op == kYear || item.op == kIsoYear) {
            item.greedy = !digits_follow;
            keeps &= item.greedy && !digits_after;
        }
        const bool variable =
            (reads_digits(item) && item.op != kLiteral && item.pad != '0') || item.op == kFraction || item.op == kUnix;
        keeps &= !(variable && (digits_follow || digits_after));
        // %.f of a whole second writes nothing, and a dot after it would be
        // read as its own; so would a dot after a space when a space comes
        // before, since the first space reads the run of both.
        if (item.op == kFraction && item.width == 0) {
            std::uint32_t next = k + 1;
            if (k > 0 && items[k - 1].op == kSpace && next < p.item_count_ && items[next].op == kSpace) ++next;
            if (next < p.item_count_ && items[next].op == kLiteral) keeps &= items[next].literal[0] != '.';
        }
        // An abbreviated name reads on into the whole name.
        if ((item.op == kMonthName || item.op == kWeekdayName) && item.width == 0 && after < p.item_count_ &&
            items[after].op == kLiteral)
            keeps &= !is_letter(items[after].literal[0]);
        // An offset reads on while digits, colons or (after "UTC") a sign
        // follow, and another offset's text begins with a sign.
        if ((item.op == kOffset || item.op == kOffsetName) && after < p.item_count_) {
            const PatternItem &next = items[after];
            keeps &=
                !digits_after && next.op != kOffset && next.op != kOffsetName &&
                !(next.op == kLiteral && (next.literal[0] == ':' || next.literal[0] == '+' || next.literal[0] == '-'));
        }
        size += written_max(item);
    }
    p.written_size_max_ = static_cast<std::uint32_t>(size < UINT32_MAX ? size : UINT32_MAX);
    if (kind != TextKind::Time && !(fields & bit(kUnix))) {
        // The year must come whole from %Y, or from %G for a week date.
        const bool iso = (fields & bit(kIsoYear)) && (fields & bit(kIsoWeek)) && weekday;
        keeps &= (fields & bit(kYear)) != 0 || iso;
    }
    if (kind != TextKind::Date) {
        bool nanos = false;
        for (std::uint32_t k = 0; k < p.item_count_; ++k)
            if (items[k].op == kFraction) nanos = items[k].width == 0 || items[k].width == 9;
        keeps &= nanos;
        if (!(fields & bit(kUnix))) keeps &= (fields & bit(kMinute)) && (fields & bit(kSecond));
    }
    p.keeps_every_field_ = keeps;
    p.find_fixed_prefix();
    return p;
}

// --- Reading -------------------------------------------------------------------

struct PatternFields {
    std::uint32_t present = 0;
    std::uint32_t fixed = 0;  // the fields of the fixed prefix, whose places it knows
    std::int64_t value[kSlots];
    std::uint32_t at[kSlots];    // where in the text
    std::uint32_t item[kSlots];  // which item
};

namespace {

// The smallest and largest number of each numeric field as read.
struct Range {
    std::int64_t low, high;
};
constexpr Range kRanges[kSlots] = {
    {INT32_MIN, INT32_MAX},
    {0, 99},
    {i64{INT32_MIN} - 1, i64{INT32_MAX} + 1},  // the ISO year of a date reaches one year past either end
    {1, 12},
    {1, 12},
    {1, 31},
    {1, 366},
    {1, 53},
    {0, 53},
    {0, 53},
    {1, 7},
    {1, 7},
    {0, 6},
    {0, 23},
    {1, 12},
    {0, 1},
    {0, 59},
    {0, 59},
    {0, kNanosPerSecond - 1},
    {kMinUnixSeconds, kMaxUnixSeconds},
    {-86400, 86400},
    {-86400, 86400},
};

constexpr std::int64_t kPowersOf10[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// C's %U and %W: weeks of the year beginning on the first Sunday (Monday),
// the days before it in week 0.
constexpr unsigned c_week(unsigned day_of_year, unsigned weekday_from_first) noexcept {
    return (day_of_year + 7 - weekday_from_first) / 7;  // day_of_year from 0
}

// C's %y: the last two digits of the year's magnitude.
constexpr unsigned c_two_digit_year(std::int32_t year) noexcept {
    return static_cast<unsigned>(year < 0 ? -static_cast<i64>(year) : year) % 100;
}

// Reads a name of `names` at `p`, abbreviated to three letters or whole,
// in either case: its index, or -1.
int read_name(std::string_view text, std::size_t &p, const std::string_view *names, int count) noexcept {
    if (text.size() - p < 3) return -1;
    const char a = folded(text[p]), b = folded(text[p + 1]), c = folded(text[p + 2]);
    for (int k = 0; k < count; ++k) {
        const std::string_view name = names[k];
        if (name[0] != a || name[1] != b || name[2] != c) continue;
        std::size_t n = 3;
        while (n < name.size() && p + n < text.size() && folded(text[p + n]) == name[n]) ++n;
        p += n == name.size() ? n : 3;
        return k;
    }
    return -1;
}

// Two digits at `p`, or -1.
int two_digits(std::string_view text, std::size_t p) noexcept {
    if (p + 2 > text.size() || !digits::is_digit(text[p]) || !digits::is_digit(text[p + 1])) return -1;
    return (text[p] - '0') * 10 + (text[p + 1] - '0');
}

// The usual "+hhmm" or "+hh:mm" that is the whole of `rest`, in one step;
// false for any other form, or one out of range, which %z then reads the
// general way.
bool read_usual_offset(std::string_view rest, std::int64_t &seconds) noexcept {
    const std::size_t size = rest.size();
    if (!(size == 5 || (size == 6 && rest[3] == ':')) || (rest[0] != '+' && rest[0] != '-')) return false;
    const auto digit = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(rest[at]) - '0');
    };
    const unsigned h1 = digit(1), h2 = digit(2), m1 = digit(size - 2), m2 = digit(size - 1);
    const unsigned value = (h1 * 10 + h2) * 3600 + (m1 * 10 + m2) * 60;
    if (!((h1 < 10) & (h2 < 10) & (m1 < 6) & (m2 < 10) & (value <= 86400))) return false;
    seconds = rest[0] == '-' ? -std::int64_t{value} : std::int64_t{value};
    return true;
}

// A month's three letters as one number, each letter with bit 5 set: an
// ASCII letter is then in lower case, and no other byte becomes a letter.
constexpr std::uint32_t letters_key(unsigned a, unsigned b, unsigned c) noexcept {
    return (a | 0x20u) | (b | 0x20u) << 8 | (c | 0x20u) << 16;
}

constexpr auto kMonthKeys = [] {
    std::array<std::uint32_t, 12> keys{};
    for (std::size_t m = 0; m < keys.size(); ++m)
        keys[m] =
            letters_key(static_cast<unsigned char>(kMonthNames[m][0]), static_cast<unsigned char>(kMonthNames[m][1]),
                        static_cast<unsigned char>(kMonthNames[m][2]));
    return keys;
}();

// A perfect hash of the twelve keys: the top four bits of the key times a
// multiplier found by search, so that no two months share a slot.
constexpr unsigned month_slot(std::uint32_t key) noexcept { return (key * 0x3b6fe507u) >> 28; }

constexpr auto kMonthBySlot = [] {
    std::array<std::uint8_t, 16> months{};
    for (std::size_t m = 0; m < kMonthKeys.size(); ++m)
        months[month_slot(kMonthKeys[m])] = static_cast<std::uint8_t>(m + 1);
    return months;
}();
static_assert(std::ranges::count(kMonthBySlot, 0) == 16 - 12, "two months share a slot");

// The month (1-12) whose abbreviated name the three letters are, in either
// case; 0 for none.
unsigned month_of_name(const unsigned char *letters) noexcept {
    const std::uint32_t key = letters_key(letters[0], letters[1], letters[2]);
    const unsigned month = kMonthBySlot[month_slot(key)];
    return month != 0 && kMonthKeys[month - 1] == key ? month : 0;
}

}  // namespace

TextError Pattern::error_at(TextFault fault, std::uint32_t position, std::uint32_t item, unsigned slot,
                            std::int64_t value) const noexcept {
    std::string_view directive;
    if (item < item_count_) directive = {text_ + items_[item].directive_begin, items_[item].directive_size};
    return {fault, position, directive, slot < kSlots ? kFieldNames[slot] : std::string_view{}, value};
}

std::expected<TextValue, TextError> Pattern::read(std::string_view text) const noexcept {
    if (text.size() > UINT32_MAX)
        return std::unexpected(error_at(TextFault::Leftover, UINT32_MAX, UINT32_MAX, kSlots, 0));
    if (TextValue value; plain_whole_ && read_plain(text, value)) return value;
    PatternFields fields;
    std::size_t p = 0;
    std::uint32_t k = 0;
    if (fixed_items_ != 0 && text.size() >= fixed_size_ && read_fixed_prefix(text, fields)) {
        p = fixed_size_;
        k = fixed_items_;
    } else {
        fields.present = 0;
        fields.fixed = 0;
    }
    const std::size_t n = text.size();
    for (; k < item_count_; ++k) {
        const PatternItem &item = items_[k];
        const auto pos = static_cast<std::uint32_t>(p);
        const auto stop = [&] {
            return std::unexpected(error_at(p == n ? TextFault::Truncated : TextFault::Mismatch,
                                            static_cast<std::uint32_t>(p), k, kSlots, 0));
        };
        if (item.op == kLiteral) {
            for (std::uint32_t j = 0; j < item.literal_size; ++j, ++p)
                if (p == n || folded(text[p]) != folded(item.literal[j])) return stop();
            continue;
        }
        if (item.op == kSpace) {
            // A run of white space written by two items ("% %n") is read
            // by the first.
            if (!item.greedy && (p == n || !is_space(text[p]))) return stop();
            while (p < n && is_space(text[p])) ++p;
            continue;
        }
        const Slot slot = static_cast<Slot>(item.op);
        std::int64_t value = 0;
        switch (slot) {
            case kMonthName:
            case kWeekdayName: {
                const int index =
                    slot == kMonthName ? read_name(text, p, kMonthNames, 12) : read_name(text, p, kWeekdayNames, 7);
                if (index < 0) return stop();
                value = index + 1;
                break;
            }
            case kAmPm: {
                if (n - p < 2 || folded(text[p + 1]) != 'm' || (folded(text[p]) != 'a' && folded(text[p]) != 'p'))
                    return stop();
                value = folded(text[p]) == 'p';
                p += 2;
                break;
            }
            case kFraction: {
                if (item.width == 0) {
                    // A whole second, unless a dot and a digit follow.
                    if (p + 1 >= n || text[p] != '.' || !digits::is_digit(text[p + 1])) break;
                    ++p;
                }
                const std::size_t begin = p;
                while (p < n && p - begin < 9 && digits::is_digit(text[p])) value = value * 10 + (text[p++] - '0');
                if (p == begin) return stop();
                value *= kPowersOf10[9 - (p - begin)];
                break;
            }
            case kOffset:
            case kOffsetName: {
                if (slot == kOffset && read_usual_offset(digits::tail(text, p), value)) {
                    p = n;
                    break;
                }
                // %Z: "UTC", "GMT", "UT" or "Z", or "UTC" and a signed
                // hh:mm[:ss]; %z: "Z", or a sign, hh, then mm and ss, each
                // after a colon or none.
                bool signed_offset = false, colons = false;
                if (slot == kOffsetName) {
                    const auto is = [&](std::string_view word) {
                        if (n - p < word.size()) return false;
                        for (std::size_t j = 0; j < word.size(); ++j)
                            if (folded(text[p + j]) != word[j]) return false;
                        return true;
                    };
                    if (is("utc")) {
                        p += 3;
                        signed_offset = p < n && (text[p] == '+' || text[p] == '-');
                        colons = true;
                    } else if (is("gmt")) {
                        p += 3;
                    } else if (is("ut") || is("z")) {
                        p += folded(text[p]) == 'u' ? 2 : 1;
                    } else {
                        return stop();
                    }
                } else if (p < n && folded(text[p]) == 'z') {
                    ++p;
                } else if (p < n && (text[p] == '+' || text[p] == '-')) {
                    signed_offset = true;
                } else {
                    return stop();
                }
                if (!signed_offset) break;
                const bool negative = text[p++] == '-';
                const int hours = two_digits(text, p);
                if (hours < 0) return stop();
                p += 2;
                int parts[2] = {0, 0};
                for (int j = 0; j < 2; ++j) {
                    // A %Z name always has the minutes; a colon is taken
                    // only with two digits after it.
                    const bool colon = p < n && text[p] == ':';
                    if (slot == kOffset && j == 0) colons = colon;
                    const int v = two_digits(text, p + colons);
                    if (colon != colons || v < 0) {
                        if (slot == kOffsetName && j == 0) return stop();
                        break;
                    }
                    if (v > 59) return std::unexpected(error_at(TextFault::OutOfRange, pos, k, slot, v));
                    parts[j] = v;
                    p += 2 + colons;
                }
                value = hours * 3600 + parts[0] * 60 + parts[1];
                if (value > 86400) return std::unexpected(error_at(TextFault::OutOfRange, pos, k, slot, hours));
                if (negative) value = -value;
                break;
            }
            default: {
                // Digits: a year or Unix time with a sign and as many digits
                // as the range allows; any other field up to its width,
                // after spaces that its padding may have put.
                const bool open = item.greedy || slot == kUnix;
                if (item.pad == ' ')
                    for (std::size_t j = 1; j < item.width && p < n && text[p] == ' '; ++j) ++p;
                bool negative = false;
                if (open && p < n && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
                const std::size_t begin = p;
                const std::int64_t bound = open ? (negative ? -kRanges[slot].low : kRanges[slot].high) : INT64_MAX;
                const std::size_t most = open ? n - p : item.op == kYear || item.op == kIsoYear ? 4 : item.width;
                while (p < n && p - begin < most && digits::is_digit(text[p])) {
                    value = value * 10 + (text[p++] - '0');
                    if (value > bound)
                        return std::unexpected(
                            error_at(TextFault::OutOfRange, pos, k, slot, negative ? -value : value));
                }
                if (p == begin || (!open && (item.op == kYear || item.op == kIsoYear) && p - begin != 4)) return stop();
                if (negative) value = -value;
                if (value < kRanges[slot].low || value > kRanges[slot].high)
                    return std::unexpected(error_at(TextFault::OutOfRange, pos, k, slot, value));
                if (slot == kWeekdayC) value = value == 0 ? 7 : value;  // as %u counts
                break;
            }
        }
        if (fields.present & bit(slot)) {
            if (fields.value[slot] != value)
                return std::unexpected(error_at(TextFault::Contradiction, pos, k, slot, value));
            continue;
        }
        fields.present |= bit(slot);
        fields.value[slot] = value;
        fields.at[slot] = pos;
        fields.item[slot] = k;
    }
    if (p != n)
        return std::unexpected(error_at(TextFault::Leftover, static_cast<std::uint32_t>(p), UINT32_MAX, kSlots, 0));
    return resolve(fields);
}

std::expected<TextValue, TextError> Pattern::resolve(const PatternFields &f) const noexcept {
    const std::uint32_t have = f.present;
    const auto v = [&](Slot s) { return f.value[s]; };
    const auto fail = [&](TextFault fault, Slot s, std::int64_t value) {
        const auto [item, at] = read_at(f, s);
        return std::unexpected(error_at(fault, at, item, s, value));
    };
    TextValue out{kind_, {}, {}, {}};
    // The common case first: a calendar date, the time by hour, minute,
    // second and fraction, at most one offset; a date that does not exist
    // goes the general way, which names the fault.
    constexpr std::uint32_t kCalendarDate = bit(kYear) | bit(kMonth) | bit(kDay);
    if ((have & ~(kPlainFields | bit(kFraction) | kOffsets)) == 0 && (have & kCalendarDate) == kCalendarDate &&
        (have & kOffsets) != kOffsets && (kind_ == TextKind::Date || (have & bit(kHour)))) {
        const auto date = Date::make(static_cast<std::int32_t>(v(kYear)), static_cast<std::uint8_t>(v(kMonth)),
                                     static_cast<std::uint8_t>(v(kDay)));
        if (date) {
            out.date = *date;
            const auto or_zero = [&](Slot s) { return (have & bit(s)) ? v(s) : 0; };
            out.time =
                Time{static_cast<std::uint8_t>(or_zero(kHour)), static_cast<std::uint8_t>(or_zero(kMinute)),
                     static_cast<std::uint8_t>(or_zero(kSecond)), static_cast<std::uint32_t>(or_zero(kFraction))};
            out.offset = UtcOffset{static_cast<std::int32_t>(or_zero(kOffset) + or_zero(kOffsetName))};
            return out;
        }
    }
    std::uint32_t used = 0;
    if (have & kOffsets) {
        const Slot s = (have & bit(kOffset)) ? kOffset : kOffsetName;
        out.offset = UtcOffset{static_cast<std::int32_t>(v(s))};
        used |= bit(s);
    }
    if (have & bit(kUnix)) {
        auto utc = from_unix_timestamp(v(kUnix), 0);
        if (utc && out.offset.seconds != 0) utc = shift_seconds(*utc, out.offset.seconds);
        if (!utc) return fail(TextFault::OutOfRange, kUnix, v(kUnix));
        out.date = utc->date;
        out.time = utc->time;
        out.time.nanosecond = (have & bit(kFraction)) ? static_cast<std::uint32_t>(v(kFraction)) : 0;
        used |= bit(kUnix) | bit(kFraction);
    } else {
        if (kind_ != TextKind::Time) {
            std::int64_t year = 0;
            if (have & bit(kYear)) {
                year = v(kYear);
                used |= bit(kYear);
            } else if (have & bit(kYear2)) {
                // POSIX: 69 to 99 are 1969 to 1999, 00 to 68 are 2000 to 2068.
                year = v(kYear2) + (v(kYear2) < 69 ? 2000 : 1900);
            }
            const Slot month = (have & bit(kMonth)) ? kMonth : kMonthName;
            const Slot weekday = (have & bit(kWeekdayIso))    ? kWeekdayIso
                                 : (have & bit(kWeekdayName)) ? kWeekdayName
                                                              : kWeekdayC;
            // A year of two digits gives way to an ISO week date, which
            // has the whole year.
            const bool iso = (have & bit(kIsoYear)) && (have & bit(kIsoWeek)) && (have & kWeekdays);
            const bool whole_year = (have & bit(kYear)) || ((have & bit(kYear2)) && !iso);
            i64 day;
            if ((have & bit(month)) && (have & bit(kDay)) && whole_year) {
                const auto date = Date::make(static_cast<std::int32_t>(year), static_cast<std::uint8_t>(v(month)),
                                             static_cast<std::uint8_t>(v(kDay)));
                if (!date) return fail(TextFault::OutOfRange, kDay, v(kDay));
                out.date = *date;
                used |= bit(month) | bit(kDay);
                day = INT64_MIN;
            } else if ((have & bit(kDayOfYear)) && whole_year) {
                if (v(kDayOfYear) > 365 + is_leap_year(year))
                    return fail(TextFault::OutOfRange, kDayOfYear, v(kDayOfYear));
                day = first_day_of_year(year) + v(kDayOfYear) - 1;
                used |= bit(kDayOfYear);
            } else if (iso) {
                const i64 monday = first_iso_monday(v(kIsoYear));
                if (v(kIsoWeek) > (first_iso_monday(v(kIsoYear) + 1) - monday) / 7)
                    return fail(TextFault::OutOfRange, kIsoWeek, v(kIsoWeek));
                day = monday + 7 * (v(kIsoWeek) - 1) + v(weekday) - 1;
                used |= bit(kIsoYear) | bit(kIsoWeek);
            } else {
                // %U or %W: week 1 begins on the year's first Sunday
                // (Monday); the days before it are week 0.
                const Slot week = (have & bit(kWeekSunday)) ? kWeekSunday : kWeekMonday;
                const i64 first = first_day_of_year(year);
                const unsigned from_monday = static_cast<unsigned>(v(weekday)) - 1;  // [0, 6]
                const unsigned begins = week == kWeekSunday ? 6 : 0;  // the week's first day, from Monday
                const i64 first_of_week1 = first + (begins + 7 - weekday_from_monday(first)) % 7;
                const i64 offset_in_week = (from_monday + 7 - begins) % 7;
                day = first_of_week1 + 7 * (v(week) - 1) + offset_in_week;
                if (day < first || day >= first_day_of_year(year + 1))
                    return fail(TextFault::OutOfRange, week, v(week));
                used |= bit(week);
            }
            if (day != INT64_MIN) {
                const auto date = from_days_since_unix_epoch(day);
                if (!date) return fail(TextFault::OutOfRange, (have & bit(kIsoYear)) ? kIsoYear : kYear, year);
                out.date = *date;
            }
        }
        if (kind_ != TextKind::Date) {
            std::int64_t hour;
            if (have & bit(kHour)) {
                hour = v(kHour);
                used |= bit(kHour);
            } else {
                hour = v(kHour12) % 12 + 12 * v(kAmPm);
                used |= bit(kHour12) | bit(kAmPm);
            }
            out.time =
                Time{static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>((have & bit(kMinute)) ? v(kMinute) : 0),
                     static_cast<std::uint8_t>((have & bit(kSecond)) ? v(kSecond) : 0),
                     static_cast<std::uint32_t>((have & bit(kFraction)) ? v(kFraction) : 0)};
            used |= bit(kMinute) | bit(kSecond) | bit(kFraction);
        }
    }
    // Every other field read must be what the value says.
    for (std::uint32_t rest = have & ~used; rest != 0; rest &= rest - 1) {
        const auto s = static_cast<Slot>(__builtin_ctz(rest));
        const Date d = out.date;
        const i64 day = days_since_unix_epoch(d);
        const unsigned hour = out.time.hour;
        std::int64_t expected = 0;
        switch (s) {
            case kYear: expected = d.year; break;
            case kYear2: expected = c_two_digit_year(d.year); break;
            case kIsoYear: expected = iso_week_date(d).year; break;
            case kMonth:
            case kMonthName: expected = d.month; break;
            case kDay: expected = d.day; break;
            case kDayOfYear: expected = ordinal(d); break;
            case kIsoWeek: expected = iso_week_date(d).week; break;
            case kWeekSunday: expected = c_week(ordinal(d) - 1, (weekday_from_monday(day) + 1) % 7); break;
            case kWeekMonday: expected = c_week(ordinal(d) - 1, weekday_from_monday(day)); break;
            case kWeekdayName:
            case kWeekdayIso:
            case kWeekdayC: expected = weekday_from_monday(day) + 1; break;
            case kHour: expected = hour; break;
            case kHour12: expected = hour % 12 == 0 ? 12 : hour % 12; break;
            case kAmPm: expected = hour >= 12; break;
            case kMinute: expected = out.time.minute; break;
            case kSecond: expected = out.time.second; break;
            case kFraction: expected = out.time.nanosecond; break;
            case kUnix: expected = unix_timestamp(DateTime{d, out.time}) - out.offset.seconds; break;
            case kOffset:
            case kOffsetName: expected = out.offset.seconds; break;
            default: break;
        }
        if (v(s) == expected) continue;
        // A weekday's fault names both days, the one read and the date's.
        if (s == kWeekdayName || s == kWeekdayIso || s == kWeekdayC)
            return fail(TextFault::Contradiction, s,
                        weekday_contradiction(static_cast<Weekday>(v(s) - 1), static_cast<Weekday>(expected - 1)));
        return fail(TextFault::Contradiction, s, v(s));
    }
    return out;
}

// --- The fixed prefix ------------------------------------------------------------
//
// Most texts of a pattern have the same width up to its first field of
// variable width: "%Y-%m-%d %H:%M:%S" is nineteen bytes for every year from
// 1000 to 9999.  Those bytes are checked in words of eight (see
// core/digits.hpp's shapes) and the fields then read from fixed places.
// Only fields whose reading stops where the prefix says take part: a field
// of fixed width padded with zeros, a literal without digits or white space,
// a single white-space byte between them; a greedy year only when something
// of the prefix follows it.  A text that is not of the prefix's shape goes
// the general way, which then reads what the prefix would have read.

void Pattern::find_fixed_prefix() noexcept {
    std::uint32_t size = 0, count = 0, usable = 0, usable_size = 0, fields = 0, usable_fields = 0, seen = 0;
    // Each place's byte, and what it is: a digit, a name's letter, or a
    // literal byte.
    char bytes[kFixedWords * 8];
    enum Place : char { kDigit, kNameLetter, kByte } places[kFixedWords * 8];
    bool after_name = false;
    auto *items = const_cast<PatternItem *>(items_);  // the block is this object's own
    for (; count < item_count_; ++count) {
        PatternItem &item = items[count];
        std::uint32_t width = 0;
        bool greedy_or_space = false;
        if (item.op == kLiteral) {
            bool plain = !(after_name && is_letter(item.literal[0]));
            for (std::uint32_t j = 0; j < item.literal_size; ++j)
                plain &= !digits::is_digit(item.literal[j]) && !is_space(item.literal[j]);
            if (!plain) break;
            width = item.literal_size;
        } else if ((item.op == kMonthName || item.op == kWeekdayName) && item.width == 0) {
            // Three letters, which a letter after them would make the start
            // of a whole name: the prefix may not end with them.
            width = 3;
            greedy_or_space = true;
        } else if (item.op == kSpace) {
            if (item.literal_size != 1) break;
            width = 1;
            greedy_or_space = true;
        } else if (item.op < kSlots && (kNumbers & bit(item.op)) && item.op != kFraction && item.op != kUnix &&
                   item.pad == '0') {
            width = item.op == kYear || item.op == kIsoYear ? 4 : item.width;
            greedy_or_space = item.greedy;
        } else {
            break;
        }
        if (size + width > sizeof bytes) break;
        // A second directive of a field (%d and %e) must agree with the
        // first, which the general way checks: the prefix ends before it.
        if (item.op < kSlots && (seen & bit(item.op))) break;
        item.fixed_at = size;
        if (item.op < kSlots) {
            if (fields == kFixedFields) break;
            seen |= bit(item.op);
            FixedField &field = fixed_fields_[fields++];
            // Four digits reach 9999 at most, and none is negative.
            const std::int64_t low = std::max<std::int64_t>(kRanges[item.op].low, 0);
            field.low = static_cast<std::uint16_t>(low);
            field.span = static_cast<std::uint16_t>(std::min<std::int64_t>(kRanges[item.op].high, 9999) - low);
            field.width = static_cast<std::uint8_t>(width);
            field.slot = item.op;
            field.at = static_cast<std::uint8_t>(size);
            field.item = static_cast<std::uint8_t>(count);
            field.special = item.op == kMonthName || item.op == kWeekdayName || item.op == kWeekdayC;
        }
        after_name = item.op == kMonthName || item.op == kWeekdayName;
        for (std::uint32_t j = 0; j < width; ++j) {
            const bool literal = item.op == kLiteral || item.op == kSpace;
            bytes[size + j] = literal ? item.literal[j] : '0';
            places[size + j] = literal ? kByte : after_name ? kNameLetter : kDigit;
        }
        size += width;
        if (!greedy_or_space) {
            usable = count + 1;
            usable_size = size;
            usable_fields = fields;
        }
    }
    if (usable_size < 8 || usable >= 256) return;
    fixed_items_ = usable;
    fixed_size_ = usable_size;
    fixed_field_count_ = usable_fields;
    for (std::uint32_t j = 0; j < usable_fields; ++j) fixed_present_ |= bit(fixed_fields_[j].slot);
    fixed_plain_ = (fixed_present_ & ~kPlainFields) == 0;
    // The month by its abbreviated name, as a web server's log writes it;
    // the prefix holds only its three letters (a whole name reads on).
    constexpr std::uint32_t kNamedMonthFields = (kPlainFields & ~bit(kMonth)) | bit(kMonthName);
    plain_month_name_ = (fixed_present_ & bit(kMonthName)) && (fixed_present_ & ~kNamedMonthFields) == 0;
    constexpr std::uint32_t kCalendarDate = bit(kYear) | bit(kDay);
    const bool tail_is_offset = fixed_items_ == item_count_ ||
                                (fixed_items_ + 1 == item_count_ && items_[fixed_items_].op == kOffset) ||
                                (fixed_items_ + 2 == item_count_ && items_[fixed_items_].op == kSpace &&
                                 items_[fixed_items_ + 1].op == kOffset);
    plain_whole_ = (fixed_plain_ || plain_month_name_) && (fixed_present_ & kCalendarDate) == kCalendarDate &&
                   (fixed_present_ & (bit(kMonth) | bit(kMonthName))) &&
                   (kind_ == TextKind::Date || (fixed_present_ & bit(kHour))) && tail_is_offset;
    plain_instants_ = plain_whole_ && kind_ != TextKind::Date;
    plain_date_time_ = fixed_present_ == kPlainFields && fixed_items_ == item_count_;
    for (std::size_t j = 0; j < std::size(kPlainSlots); ++j) {
        const Slot slot = j == 1 && plain_month_name_ ? kMonthName : kPlainSlots[j];
        plain_at_[j] = kFixedWords * 8;
        for (std::uint32_t i = 0; i < usable_fields; ++i)
            if (fixed_fields_[i].slot == slot) plain_at_[j] = fixed_fields_[i].at;
    }
    constexpr std::uint8_t kUsualPlaces[] = {0, 5, 8, 11, 14, 17};
    usual_places_ = plain_date_time_ && fixed_size_ == 19 && std::ranges::equal(plain_at_, kUsualPlaces);
    std::memcpy(fixed_text_, bytes, usable_size);
    for (std::size_t w = 0; w * 8 < usable_size; ++w) {
        const std::size_t at = w * 8 + 8 <= usable_size ? w * 8 : usable_size - 8;
        std::uint64_t expected = 0, limit = 0, fold = 0, digit = 0;
        for (std::size_t j = 0; j < 8; ++j) {
            // A name's letter is any ASCII byte here, found among the names
            // when the fields are read; it is kept in lower case.
            const char c = bytes[at + j];
            const Place place = places[at + j];
            const unsigned shift = static_cast<unsigned>(8 * j);
            expected |= std::uint64_t{place == kNameLetter ? 0u : static_cast<unsigned char>(folded(c))} << shift;
            limit |= std::uint64_t{place == kDigit ? 0x76u : place == kByte ? 0x7fu : 0u} << shift;
            fold |= std::uint64_t{place == kNameLetter || is_letter(c) ? 0x20u : 0u} << shift;
            digit |= std::uint64_t{place == kDigit ? 0xffu : 0u} << shift;
        }
        fixed_digits_[w] = digit;
        fixed_bytes_[w] = expected;
        fixed_limits_[w] = limit;
        fixed_folds_[w] = fold;
    }
}

// The prefix in words of eight bytes in place (the last one, read ending at
// the prefix's end, moved down to its place): each byte's letter or digit,
// and the digits alone (zero elsewhere).  Then at each place the number of
// the two digits from there, ten times the one plus the next, at most 99,
// so no byte carries into the next.  Words are stored and loaded whole,
// never across two, which would stall on their stores.  The word past the
// prefix is zero, for the last pairs and a field that is absent (placed at
// kFixedWords * 8).
struct FixedWords {
    static constexpr std::size_t kWords = 8;
    std::uint64_t letters[kWords], numbers[kWords + 1], pairs[kWords + 1];

    unsigned pair(std::size_t at) const noexcept {
        return static_cast<unsigned>(pairs[at / 8] >> (at % 8 * 8)) & 0xffu;
    }
    unsigned digit(std::size_t at) const noexcept {
        return static_cast<unsigned>(numbers[at / 8] >> (at % 8 * 8)) & 0xffu;
    }
    char letter(std::size_t at) const noexcept { return static_cast<char>(letters[at / 8] >> (at % 8 * 8)); }
};

[[gnu::always_inline]] inline bool Pattern::read_fixed_words(std::string_view text, FixedWords &fw) const noexcept {
    static_assert(FixedWords::kWords == kFixedWords);
    const std::size_t words = std::min<std::size_t>((fixed_size_ + 7) / 8, kFixedWords);
    for (std::size_t w = 0; w < words; ++w) {
        const std::size_t at = w * 8 + 8 <= fixed_size_ ? w * 8 : fixed_size_ - 8;
        const std::uint64_t l = (digits::load8(text, at) | fixed_folds_[w]) ^ fixed_bytes_[w];
        if (((l + fixed_limits_[w]) | l) & digits::kTopBits) return false;
        const unsigned shift = static_cast<unsigned>(8 * (w * 8 - at));  // 0 but for the last word
        fw.letters[w] = l >> shift;
        fw.numbers[w] = (l & fixed_digits_[w]) >> shift;
    }
    fw.numbers[words] = 0;
    fw.pairs[kFixedWords] = 0;
    for (std::size_t w = 0; w < words; ++w)
        fw.pairs[w] = fw.numbers[w] * 10 + ((fw.numbers[w] >> 8) | (fw.numbers[w + 1] << 56));
    return true;
}

// %Y %m %d %H %M %S of a plain prefix, each in its range (0 for one that is
// absent).
[[gnu::always_inline]] inline bool Pattern::plain_fields(const FixedWords &fw, unsigned (&v)[6]) const noexcept {
    v[0] = fw.pair(plain_at_[0]) * 100u + fw.pair(plain_at_[0] + 2u);
    for (std::size_t j = 1; j < 6; ++j) v[j] = fw.pair(plain_at_[j]);
    const bool month = fixed_present_ & bit(kMonth), day = fixed_present_ & bit(kDay);
    return !((v[1] - month > 11) | (v[2] - day > 30) | (v[3] > 23) | (v[4] > 59) | (v[5] > 59));
}

// A pattern that is a plain prefix, a whole date (and time), with at most a
// %z after it: its value straight from the prefix, for the usual texts; a
// date that does not exist, or another form of offset, goes the general
// way, which names the fault.
// The offset after a plain prefix: none when the pattern names none, else
// +hhmm or +hh:mm, after one space where the pattern has one.
bool Pattern::plain_offset(std::string_view text, std::int64_t &offset) const noexcept {
    offset = 0;
    if (fixed_items_ == item_count_) return text.size() == fixed_size_;
    std::size_t at = fixed_size_;
    if (items_[fixed_items_].op == kSpace) {
        if (text.size() <= at || text[at] != ' ') return false;
        ++at;
    }
    return read_usual_offset(digits::tail(text, at), offset);
}

bool Pattern::read_plain(std::string_view text, TextValue &out) const noexcept {
    std::int64_t offset;
    unsigned v[6];
    if (text.size() < fixed_size_ || !plain_offset(text, offset) || !plain_reading(text, v)) return false;
    out = TextValue{
        kind_, Date{static_cast<std::int32_t>(v[0]), static_cast<std::uint8_t>(v[1]), static_cast<std::uint8_t>(v[2])},
        Time{static_cast<std::uint8_t>(v[3]), static_cast<std::uint8_t>(v[4]), static_cast<std::uint8_t>(v[5]), 0},
        UtcOffset{static_cast<std::int32_t>(offset)}};
    return true;
}

bool Pattern::plain_reading(std::string_view text, unsigned (&v)[6]) const noexcept {
    // The prefix's words checked as read_fixed_words checks them, without
    // keeping them: the fields are then read from the text, whose bytes at
    // their places are digits.
    std::uint64_t off = 0;
    for (std::size_t w = 0, words = (fixed_size_ + 7) / 8; w < words; ++w) {
        const std::size_t at = w * 8 + 8 <= fixed_size_ ? w * 8 : fixed_size_ - 8;
        const std::uint64_t l = (digits::load8(text, at) | fixed_folds_[w]) ^ fixed_bytes_[w];
        off |= (l + fixed_limits_[w]) | l;
    }
    if (off & digits::kTopBits) return false;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    // Two digits' number: the ASCII codes less '0' * 11.
    const auto pair = [bytes](unsigned at) { return bytes[at] * 10u + bytes[at + 1] - '0' * 11u; };
    v[0] = pair(plain_at_[0]) * 100 + pair(plain_at_[0] + 2u);
    v[1] = plain_month_name_ ? month_of_name(bytes + plain_at_[1]) : pair(plain_at_[1]);
    v[2] = pair(plain_at_[2]);
    // A pattern of a whole date names the month and day, and the hour
    // unless it is a date alone; minutes and seconds it may leave out.
    const std::uint32_t present = fixed_present_;
    v[3] = present & bit(kHour) ? pair(plain_at_[3]) : 0;
    v[4] = present & bit(kMinute) ? pair(plain_at_[4]) : 0;
    v[5] = present & bit(kSecond) ? pair(plain_at_[5]) : 0;
    return !((v[1] - 1 > 11) | (v[2] - 1 > 30) | (v[3] > 23) | (v[4] > 59) | (v[5] > 59)) &&
           v[2] <= days_in_month(static_cast<std::int32_t>(v[0]), v[1]);
}

bool Pattern::read_plain_instant(std::string_view text, std::int64_t &seconds) const noexcept {
    unsigned v[6];
    std::int64_t offset = 0;
    if (usual_places_) {
        // "YYYY-mm-dd HH:MM:SS" with any separators: the three words of
        // read_fixed_words (at 0, 8 and 11) checked, then each word's pairs
        // (ten times a byte plus the next, at most 99, so nothing carries)
        // hold the fields at places the compiler knows.
        if (text.size() != fixed_size_) return false;
        const auto word = [&](std::size_t w, std::size_t at) {
            return (digits::load8(text, at) | fixed_folds_[w]) ^ fixed_bytes_[w];
        };
        const std::uint64_t a = word(0, 0), b = word(1, 8), c = word(2, 11);
        if ((((a + fixed_limits_[0]) | a) | ((b + fixed_limits_[1]) | b) | ((c + fixed_limits_[2]) | c)) &
            digits::kTopBits)
            return false;
        // Outside the digits each byte is 0 once checked.
        const std::uint64_t pa = a * 10 + (a >> 8), pb = b * 10 + (b >> 8), pc = c * 10 + (c >> 8);
        v[0] = static_cast<unsigned>(pa & 0xff) * 100 + static_cast<unsigned>(pa >> 16 & 0xff);
        v[1] = static_cast<unsigned>(pa >> 40 & 0xff);
        v[2] = static_cast<unsigned>(pb & 0xff);
        v[3] = static_cast<unsigned>(pb >> 24 & 0xff);
        v[4] = static_cast<unsigned>(pb >> 48 & 0xff);
        v[5] = static_cast<unsigned>(pc >> 48 & 0xff);
        if ((v[1] - 1 > 11) | (v[2] - 1 > 30) | (v[3] > 23) | (v[4] > 59) | (v[5] > 59) ||
            v[2] > days_in_month(static_cast<std::int32_t>(v[0]), v[1]))
            return false;
    } else if (text.size() < fixed_size_ || !plain_offset(text, offset) || !plain_reading(text, v)) {
        return false;
    }
    const Date date{static_cast<std::int32_t>(v[0]), static_cast<std::uint8_t>(v[1]), static_cast<std::uint8_t>(v[2])};
    const unsigned second_of_day = v[3] * 3600 + v[4] * 60 + v[5];
    seconds = days_since_unix_epoch(date) * kSecondsPerDay + second_of_day - offset;
    return true;
}

bool Pattern::read_fixed_prefix(std::string_view text, PatternFields &f) const noexcept {
    FixedWords fw;
    if (!read_fixed_words(text, fw)) return false;
    if (fixed_plain_) {
        unsigned v[6];
        if (!plain_fields(fw, v)) return false;
        for (std::size_t j = 0; j < 6; ++j) f.value[kPlainSlots[j]] = v[j];
        f.present = fixed_present_;
        f.fixed = fixed_present_;
        return true;
    }
    for (std::uint32_t j = 0; j < fixed_field_count_; ++j) {
        const FixedField &field = fixed_fields_[j];
        const std::uint8_t at = field.at;
        std::int64_t value;
        if (field.width == 2) {
            value = fw.pair(at);
        } else if (field.width == 4) {
            value = fw.pair(at) * 100 + fw.pair(at + 2u);
        } else {
            value = field.width == 1 ? fw.digit(at) : fw.pair(at) * 10 + fw.digit(at + 2u);
        }
        if (field.special) {
            if (field.slot == kMonthName || field.slot == kWeekdayName) {
                const std::string_view *names = field.slot == kMonthName ? kMonthNames : kWeekdayNames;
                const int count = field.slot == kMonthName ? 12 : 7;
                const char first = fw.letter(at), second = fw.letter(at + 1u), third = fw.letter(at + 2u);
                value = 0;
                for (int k = 0; k < count; ++k)
                    if (names[k][0] == first && names[k][1] == second && names[k][2] == third) value = k + 1;
                if (value == 0) return false;
            } else {
                if (value > 6) return false;
                value = value == 0 ? 7 : value;  // C's Sunday, as %u counts
            }
        } else if (static_cast<std::uint64_t>(value - field.low) > field.span) {
            return false;
        }
        f.value[field.slot] = value;
    }
    f.present = fixed_present_;
    f.fixed = fixed_present_;
    return true;
}

// Where the field of `slot` was read, as its item and its place in the text.
std::pair<std::uint32_t, std::uint32_t> Pattern::read_at(const PatternFields &f, unsigned slot) const noexcept {
    if (f.fixed & bit(slot))
        for (std::uint32_t j = 0; j < fixed_field_count_; ++j)
            if (fixed_fields_[j].slot == slot) return {fixed_fields_[j].item, fixed_fields_[j].at};
    return {f.item[slot], f.at[slot]};
}

// --- Writing -------------------------------------------------------------------

namespace {

char *write_padded(char *out, std::uint64_t v, unsigned width, char pad) noexcept {
    if (v < 100 && width == 2 && pad == '0') return digits::write2(out, static_cast<unsigned>(v));
    if (pad != 0)
        for (unsigned n = digits::count_digits(v); n < width; ++n) *out++ = pad;
    return digits::write_u64(out, v);
}

// A year as merandol writes it, "-001" with zeros (the sign counts towards
// the width), "  -1" with spaces, "-1" without padding.
char *write_year(char *out, i64 year, char pad) noexcept {
    const std::uint64_t magnitude = year < 0 ? 0 - static_cast<std::uint64_t>(year) : static_cast<std::uint64_t>(year);
    const unsigned size = digits::count_digits(magnitude) + (year < 0);
    if (pad == ' ')
        for (unsigned n = size; n < 4; ++n) *out++ = ' ';
    if (pad == '0' && year >= 0 && year < 10000) return digits::write4(out, static_cast<unsigned>(year));
    if (year < 0) *out++ = '-';
    if (pad == '0')
        for (unsigned n = size; n < 4; ++n) *out++ = '0';
    return digits::write_u64(out, magnitude);
}

char *write_name(char *out, std::string_view name, bool whole) noexcept {
    const std::size_t size = whole ? name.size() : 3;
    std::memcpy(out, name.data(), size);
    *out = static_cast<char>(*out - ('a' - 'A'));
    return out + size;
}

char *write_offset(char *out, std::int32_t seconds, bool colons) noexcept {
    *out++ = seconds < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(seconds < 0 ? -seconds : seconds);
    out = digits::write2(out, magnitude / 3600);
    if (colons) *out++ = ':';
    out = digits::write2(out, magnitude / 60 % 60);
    if (magnitude % 60 != 0) {
        if (colons) *out++ = ':';
        out = digits::write2(out, magnitude % 60);
    }
    return out;
}

}  // namespace

char *Pattern::write_plain(char *out, const DateTime &reading) const noexcept {
    // The pattern's text with its fields' places as written, each then
    // overwritten: six stores without a loop.
    std::memcpy(out, fixed_text_, fixed_size_);
    digits::write4(out + plain_at_[0], static_cast<std::uint32_t>(reading.date.year));
    digits::write2(out + plain_at_[1], reading.date.month);
    digits::write2(out + plain_at_[2], reading.date.day);
    digits::write2(out + plain_at_[3], reading.time.hour);
    digits::write2(out + plain_at_[4], reading.time.minute);
    digits::write2(out + plain_at_[5], reading.time.second);
    return out + fixed_size_;
}

std::expected<char *, std::string_view> Pattern::write(char *out, const PatternValue &value) const noexcept {
    const auto lacks = [&](unsigned s) {
        return ((kDateFields & bit(s)) && !value.has_date) || ((kTimeFields & bit(s)) && !value.has_time) ||
               (s == kUnix && !(value.has_date && value.has_time)) || ((kOffsets & bit(s)) && !value.has_offset);
    };
    const bool lacking = (!value.has_date && (fields_ & kDateFields)) || (!value.has_time && (fields_ & kTimeFields)) ||
                         (!(value.has_date && value.has_time) && (fields_ & bit(kUnix))) ||
                         (!value.has_offset && (fields_ & kOffsets));
    if (lacking)
        for (std::uint32_t k = 0; k < item_count_; ++k)
            if (items_[k].op < kSlots && lacks(items_[k].op))
                return std::unexpected(std::string_view{text_ + items_[k].directive_begin, items_[k].directive_size});
    const Date d = value.date;
    const Time t = value.time;
    std::uint32_t k = 0;
    if (fixed_plain_ && static_cast<std::uint32_t>(d.year) <= 9999) {
        if (fixed_present_ == kPlainFields) {
            out = write_plain(out, DateTime{d, t});
        } else {
            std::uint32_t numbers[kSlots];
            numbers[kYear] = static_cast<std::uint32_t>(d.year);
            numbers[kMonth] = d.month;
            numbers[kDay] = d.day;
            numbers[kHour] = t.hour;
            numbers[kMinute] = t.minute;
            numbers[kSecond] = t.second;
            std::memcpy(out, fixed_text_, fixed_size_);
            for (std::uint32_t j = 0; j < fixed_field_count_; ++j) {
                const FixedField &field = fixed_fields_[j];
                if (field.slot == kYear) {
                    digits::write4(out + field.at, numbers[field.slot]);
                } else {
                    digits::write2(out + field.at, numbers[field.slot]);
                }
            }
            out += fixed_size_;
        }
        k = fixed_items_;
    }
    // The day number, for the fields that count weeks.
    constexpr std::uint32_t kByDay = bit(kIsoYear) | bit(kIsoWeek) | bit(kWeekSunday) | bit(kWeekMonday) | kWeekdays;
    const i64 day = (fields_ & kByDay) ? days_since_unix_epoch(d) : 0;
    for (; k < item_count_; ++k) {
        const PatternItem &item = items_[k];
        if (item.op >= kSlots) {
            if (item.literal_size == 1) {
                *out++ = *item.literal;
            } else {
                std::memcpy(out, item.literal, item.literal_size);
                out += item.literal_size;
            }
            continue;
        }
        const auto s = static_cast<Slot>(item.op);
        switch (s) {
            case kYear: out = write_year(out, d.year, item.pad); break;
            case kIsoYear: out = write_year(out, iso_week_date(d).year, item.pad); break;
            case kYear2: out = write_padded(out, c_two_digit_year(d.year), 2, item.pad); break;
            case kMonth: out = write_padded(out, d.month, 2, item.pad); break;
            case kMonthName: out = write_name(out, kMonthNames[d.month - 1], item.width != 0); break;
            case kDay: out = write_padded(out, d.day, 2, item.pad); break;
            case kDayOfYear: out = write_padded(out, ordinal(d), 3, item.pad); break;
            case kIsoWeek: out = write_padded(out, iso_week_date(d).week, 2, item.pad); break;
            case kWeekSunday:
                out = write_padded(out, c_week(ordinal(d) - 1, (weekday_from_monday(day) + 1) % 7), 2, item.pad);
                break;
            case kWeekMonday:
                out = write_padded(out, c_week(ordinal(d) - 1, weekday_from_monday(day)), 2, item.pad);
                break;
            case kWeekdayName: out = write_name(out, kWeekdayNames[weekday_from_monday(day)], item.width != 0); break;
            case kWeekdayIso: out = write_padded(out, weekday_from_monday(day) + 1, 1, item.pad); break;
            case kWeekdayC: out = write_padded(out, (weekday_from_monday(day) + 1) % 7, 1, item.pad); break;
            case kHour: out = write_padded(out, t.hour, 2, item.pad); break;
            case kHour12: out = write_padded(out, t.hour % 12 == 0 ? 12 : t.hour % 12, 2, item.pad); break;
            case kAmPm:
                *out++ = t.hour >= 12 ? 'P' : 'A';
                *out++ = 'M';
                break;
            case kMinute: out = write_padded(out, t.minute, 2, item.pad); break;
            case kSecond: out = write_padded(out, t.second, 2, item.pad); break;
            case kFraction: {
                unsigned width = item.width;
                if (width == 0) {
                    if (t.nanosecond == 0) break;
                    *out++ = '.';
                    width = 9;
                    for (std::uint32_t rest = t.nanosecond; rest % 10 == 0; rest /= 10) --width;
                }
                out = write_padded(out, t.nanosecond / static_cast<std::uint32_t>(kPowersOf10[9 - width]), width, '0');
                break;
            }
            case kUnix: out = digits::write_i64(out, unix_timestamp(DateTime{d, t}) - value.offset.seconds); break;
            case kOffset: out = write_offset(out, value.offset.seconds, item.width != 0); break;
            case kOffsetName:
                if (!value.zone_abbreviation.empty()) {
                    std::memcpy(out, value.zone_abbreviation.data(), value.zone_abbreviation.size());
                    out += value.zone_abbreviation.size();
                } else {
                    for (const char c : {'U', 'T', 'C'}) *out++ = c;
                    if (value.offset.seconds != 0) out = write_offset(out, value.offset.seconds, true);
                }
                break;
            default: break;
        }
    }
    return out;
}

}  // namespace merandol
