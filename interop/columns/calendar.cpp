// Calendar arithmetic on numpy datetime64 columns of the units of a
// second (s, ms, us, ns): add_calendar_numpy and round_numpy, element by
// element what add_calendar and round_to give for the DateTime of each
// element.  With a zone (or a UtcOffset) each instant's local reading
// there is moved and placed back as an instant.  NaT stays NaT.  The loops
// run on the int64 counts without the interpreter, one instance per unit,
// so that every division by the unit is by a constant.
#include "interop/calendar/calendar.hpp"
#include <array>

#include "core/calendar_arithmetic.hpp"
#include "core/floor.hpp"
#include "core/step_rounding.hpp"
#include "core/threads.hpp"
#include "interop/columns/columns.hpp"
#include "interop/zones/zones.hpp"

namespace merandol::py {

using namespace columns;

namespace {

// Why an element has no result.
enum class Fault : std::uint8_t {
    None,
    Input,     // the element lies beyond the DateTime range
    Result,    // the result lies beyond the DateTime range or the dtype's
    Skipped,   // the local reading reached is skipped (disambiguate='raise')
    Repeated,  // ... or repeated
};

// Where the local readings are taken: a zone's offsets, a fixed offset, or
// none (the values as they are).
struct ZoneOrOffset {
    const Zone *zone;
    std::int32_t offset;

    std::int32_t offset_at(std::int64_t seconds) const noexcept {
        return zone != nullptr ? zone->offset_at(seconds) : offset;
    }
};

// Elements whose whole seconds lie in the DateTime range: only unit s can
// hold others.
template <std::int64_t PerSecond>
bool in_range(std::int64_t value) noexcept {
    if constexpr (PerSecond > 1) return true;
    return value >= kMinUnixSeconds && value <= kMaxUnixSeconds;
}

// `v` moved by `by` units, or false when that leaves 64 bits, is NaT or
// leaves the DateTime range.
template <std::int64_t PerSecond>
bool moved_by(std::int64_t v, std::int64_t by, std::int64_t &out) noexcept {
    return !__builtin_add_overflow(v, by, &out) && out != INT64_MIN && in_range<PerSecond>(out);
}

// The elements are worked on as instants moved at the offset their local
// reading was taken at, rather than as local readings, which may lie
// beyond 64 bits where the instants do not.  `moved` is such an instant,
// whose reading at `offset` is the reading reached; here it is placed in
// the zone: kept where `keep` asks and the zone has that offset at the
// reading (a rounded reading keeps its offset), otherwise as `how` settles
// the reading.
template <std::int64_t PerSecond>
Fault place_back(const ZoneOrOffset &place, std::int64_t moved, std::int32_t offset, bool keep, Disambiguate how,
                 std::int64_t &out) noexcept {
    if (place.zone == nullptr) {
        out = moved;
        return Fault::None;
    }
    const std::int64_t utc_seconds = floor_divmod(moved, PerSecond).quotient;
    const std::int64_t local_seconds = utc_seconds + offset;
    // The zone has the offset at the reading when the instant it gives
    // there has it: one lookup, where the reading's candidates take two.
    if (keep && place.zone->offset_at(utc_seconds) == offset) {
        out = moved;
        return Fault::None;
    }
    const auto resolved = place.zone->resolve_local(local_seconds, how);
    if (!resolved) return resolved.error() == LocalError::Skipped ? Fault::Skipped : Fault::Repeated;
    // |the change| < 2 days of seconds, so the product fits 64 bits.
    return moved_by<PerSecond>(moved, (resolved->seconds - utc_seconds) * PerSecond, out) ? Fault::None : Fault::Result;
}

// The offset at the element's instant, 0 without a zone or an offset.
template <std::int64_t PerSecond>
std::int32_t offset_of(std::int64_t v, const std::optional<ZoneOrOffset> &place) noexcept {
    return place ? place->offset_at(floor_divmod(v, PerSecond).quotient) : 0;
}

// --- add_calendar_numpy ---------------------------------------------------------

// The first day of each month of the years 1600 to 2399 and of 2400
// after them: every month that datetime64[ns] holds (1677 to 2262) and a
// century either side, 38 kB.  A day finds its month here by an estimate
// and a step, where the conversion to a date would take a dozen
// multiplications.
inline constexpr std::int64_t kTableFirstYear = 1600;
inline constexpr std::int64_t kTableMonths = 800 * kMonthsPerYear;
inline constexpr auto kMonthFirstDays = [] {
    std::array<std::int32_t, kTableMonths + 1> first{};
    for (std::int64_t i = 0; i <= kTableMonths; ++i) {
        const std::int64_t year = kTableFirstYear + i / kMonthsPerYear;
        const auto month = static_cast<unsigned>(i % kMonthsPerYear) + 1;
        first[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(first_day_of_year(year) + days_before_month(month, is_leap_year(year)));
    }
    return first;
}();
static_assert(kMonthFirstDays[(1970 - kTableFirstYear) * kMonthsPerYear] == 0 &&
              kMonthFirstDays[kTableMonths] == first_day_of_year(2400));

// add_calendar on day numbers, for the days of a column: in the table's
// years by its month starts, elsewhere through the date, keeping the month
// of the element before and the month it reaches, so that a column in
// order converts each month once.
class CalendarStep {
public:
    explicit CalendarStep(const CalendarAmount &amount) noexcept
        : amount_(amount),
          month_shift_(i128{amount.years} * kMonthsPerYear + amount.months),
          extra_days_(i128{amount.weeks} * 7 + amount.days) {}

    // The day number `day` moved, or false beyond the range.
    bool move(std::int64_t day, std::int64_t &out) noexcept {
        if (!in_table(day) && (day < first_ || day > last_)) {
            const auto date = from_days_since_unix_epoch(day);
            if (!date) return false;
            const auto target = add_calendar(Date{date->year, date->month, 1}, {amount_.years, amount_.months});
            if (!target) return false;
            first_ = day - (date->day - 1);
            last_ = first_ + days_in_month(date->year, date->month) - 1;
            target_first_ = days_since_unix_epoch(*target);
            target_last_ = target_first_ + days_in_month(target->year, target->month) - 1;
        }
        // The day clamped to the month reached, then the weeks and days.
        const i128 moved = i128{std::min(target_first_ + (day - first_), target_last_)} + extra_days_;
        if (moved < kMinDayNumber || moved > kMaxDayNumber) return false;
        out = static_cast<std::int64_t>(moved);
        return true;
    }

private:
    // Sets the months from the table when both lie in it.
    bool in_table(std::int64_t day) noexcept {
        const std::int64_t since = day - kMonthFirstDays[0];
        if (since < 0 || day >= kMonthFirstDays[kTableMonths]) return false;
        // 400 years are 4800 months of 146097 days: the estimate is the
        // month or a neighbour, as a month start strays less than a month
        // from the average.
        std::int64_t month = std::min(since * 4800 / kDaysPer400Years, kTableMonths - 1);
        while (kMonthFirstDays[static_cast<std::size_t>(month)] > day) --month;
        while (kMonthFirstDays[static_cast<std::size_t>(month) + 1] <= day) ++month;
        const i128 target = month + month_shift_;
        if (target < 0 || target >= kTableMonths) return false;
        first_ = kMonthFirstDays[static_cast<std::size_t>(month)];
        last_ = kMonthFirstDays[static_cast<std::size_t>(month) + 1] - 1;
        target_first_ = kMonthFirstDays[static_cast<std::size_t>(target)];
        target_last_ = kMonthFirstDays[static_cast<std::size_t>(target) + 1] - 1;
        return true;
    }

    CalendarAmount amount_;
    i128 month_shift_, extra_days_;
    std::int64_t first_ = 1, last_ = 0, target_first_ = 0, target_last_ = 0;
};

template <std::int64_t PerSecond>
Fault add_element(std::int64_t v, CalendarStep &step, const std::optional<ZoneOrOffset> &place, Disambiguate how,
                  std::int64_t &out) noexcept {
    constexpr std::int64_t kPerDay = PerSecond * kSecondsPerDay;
    if (!in_range<PerSecond>(v)) return Fault::Input;
    const std::int32_t offset = offset_of<PerSecond>(v, place);
    // The local day, from the seconds, which cannot overflow.
    const std::int64_t day = floor_divmod(floor_divmod(v, PerSecond).quotient + offset, kSecondsPerDay).quotient;
    std::int64_t moved_day, by, moved;
    if (!step.move(day, moved_day) || __builtin_mul_overflow(moved_day - day, kPerDay, &by) ||
        !moved_by<PerSecond>(v, by, moved))
        return Fault::Result;
    return place ? place_back<PerSecond>(*place, moved, offset, false, how, out) : (out = moved, Fault::None);
}

// --- round_numpy ------------------------------------------------------------------

// Floor remainders by a divisor fixed for a whole column, at least 2, by a
// multiplication: Granlund and Montgomery's round-up method ("Division by
// invariant integers using multiplication", 1994, figure 4.1), exact for
// every 64-bit unsigned count.  With l = ceil(log2 d), the multiplier is
// floor(2^64 (2^l - d) / d) + 1 < 2^64.
class Modulus {
public:
    explicit Modulus(std::int64_t divisor) noexcept
        : divisor_(static_cast<std::uint64_t>(divisor)),
          shift_(63u - static_cast<unsigned>(__builtin_clzll(divisor_ - 1))),  // l - 1
          multiplier_(static_cast<std::uint64_t>((u128{1} << 64) * ((u128{1} << (shift_ + 1)) - divisor_) / divisor_) +
                      1),
          wrap_(static_cast<std::uint64_t>((u128{1} << 64) % divisor_)) {}

    // v mod d in [0, d): the remainder of v's two's-complement bits, less
    // 2^64 mod d for a negative v.
    std::int64_t floor_mod(std::int64_t v) const noexcept {
        const auto u = static_cast<std::uint64_t>(v);
        const std::uint64_t high = mul_hi(u, multiplier_);
        std::uint64_t r = u - ((high + ((u - high) >> 1)) >> shift_) * divisor_;
        if (v < 0) r = r >= wrap_ ? r - wrap_ : r + divisor_ - wrap_;
        return static_cast<std::int64_t>(r);
    }

private:
    std::uint64_t divisor_;
    unsigned shift_;
    std::uint64_t multiplier_, wrap_;
};

// The rounding of one column: the step and the enclosing unit in the
// column's units (a unit below the column's leaves every element as it is).
// The counts rounded are never negative (a reading's count within the
// enclosing unit), so a mode goes up always (ceil, expand), never (floor,
// trunc) or, at a tie, as `tie_up` says (half_even: at an odd count).
struct Rounding {
    TimeUnit unit;
    RoundingMode mode;
    std::int64_t step, enclosing;
    Modulus by_step;
    bool directed = mode <= RoundingMode::Expand;
    bool directed_up = mode == RoundingMode::Ceil || mode == RoundingMode::Expand;
    bool tie_up = mode == RoundingMode::HalfCeil || mode == RoundingMode::HalfExpand;
};

// An element as it is, with no zone: the multiples of the step within the
// enclosing unit are the multiples of the step since the epoch, so one
// remainder decides, and only a tie under half_even needs the count within
// the enclosing unit, for its parity.  Without branches on the element but
// that tie: which way a value goes is as random as the values.  `Directed`
// (floor, ceil, trunc, expand) is fixed per column, so that a column's loop
// holds one family's steps only.
template <std::int64_t PerSecond, bool Directed>
[[gnu::always_inline]] inline Fault round_value(std::int64_t v, const Rounding &r, std::int64_t &out) noexcept {
    if (!in_range<PerSecond>(v)) return Fault::Input;
    const std::int64_t below = r.by_step.floor_mod(v);
    const std::int64_t above = r.step - below;
    bool up;
    if constexpr (Directed) {
        up = below != 0 && r.directed_up;
    } else {
        bool tie_up = r.tie_up;
        if (below == above && r.mode == RoundingMode::HalfEven) [[unlikely]]
            tie_up = (floor_divmod(v, r.enclosing).remainder / r.step & 1) != 0;
        up = (below > above) | ((below == above) & tie_up);
    }
    // 0 or -1, by arithmetic on the comparison, so that no branch depends
    // on the element.
    const std::int64_t mask = -static_cast<std::int64_t>(up);
    // One step from the element, up or down, as a multiple near either
    // end may lie beyond 64 bits where the rounded value does not.
    const bool failed = __builtin_add_overflow(v, (above & mask) | (-below & ~mask), &out);
    return (failed | (out == INT64_MIN) | !in_range<PerSecond>(out)) ? Fault::Result : Fault::None;
}

// Rounding by vectors for a column that map_elements reads in blocks; no
// kernel where there is none.
struct Vectors {
    StepRoundingKernel kernel = nullptr;
    StepRounding rounding{};
};

// Rows to a vector kernel's call: 8 KB of counts, so that a block it leaves
// to the element loop is read again from the cache.
inline constexpr Py_ssize_t kVectorRows = 1024;

// The vector kernel's terms for round_value(): the same rounding.  The
// multiples of the step within the enclosing unit are those since the
// epoch, which it starts at, so an even count of steps to it keeps the
// parity of the count since the epoch.
template <std::int64_t PerSecond>
Vectors vectors_for(const Rounding &r) noexcept {
    const Ties ties = r.mode != RoundingMode::HalfEven  ? (r.tie_up ? Ties::Up : Ties::Down)
                      : (r.enclosing / r.step) % 2 == 0 ? Ties::ToEven
                                                        : Ties::ToCaller;
    const StepRounding rounding{r.step,
                                PerSecond > 1 ? INT64_MIN + 1 : kMinUnixSeconds,
                                PerSecond > 1 ? INT64_MAX : kMaxUnixSeconds,
                                r.directed,
                                r.directed_up,
                                ties};
    return {step_rounding_kernel(rounding), rounding};
}

// The first instant of the local day that begins at `midnight` (local
// seconds): its midnight, the earlier of two in a fold, and where a change
// of offset skips it, the change.
inline std::int64_t day_start(const ZoneOrOffset &place, std::int64_t midnight) noexcept {
    if (place.zone == nullptr) return midnight - place.offset;
    const LocalCandidates candidates = place.zone->local_candidates(midnight);
    if (candidates.kind != LocalKind::Gap) return midnight - candidates.earlier_offset;
    // The change lies after midnight - earlier_offset, the reading before it.
    const auto change = place.zone->next_transition(midnight - candidates.earlier_offset);
    return change ? change->at : midnight - candidates.later_offset;
}

template <std::int64_t PerSecond>
Fault round_element(std::int64_t v, const Rounding &r, const ZoneOrOffset &place, std::int64_t &out) noexcept {
    if (!in_range<PerSecond>(v)) return Fault::Input;
    const std::int64_t seconds = floor_divmod(v, PerSecond).quotient;
    const std::int32_t offset = place.offset_at(seconds);
    if (r.unit == TimeUnit::Day) {
        // The day's real length, between the first instants of this local
        // day and the next: 23 or 25 hours across a change.
        const std::int64_t midnight = floor_divmod(seconds + offset, kSecondsPerDay).quotient * kSecondsPerDay;
        const std::int64_t start = day_start(place, midnight), end = day_start(place, midnight + kSecondsPerDay);
        // The day's first instant may lie beyond 64 bits where the element does not.
        const i128 first = i128{start} * PerSecond;
        const i128 rounded = first + *round_to_multiple<i128>(v - first, i128{end - start} * PerSecond, r.mode);
        if (rounded <= INT64_MIN || rounded > INT64_MAX) return Fault::Result;
        out = static_cast<std::int64_t>(rounded);
        return in_range<PerSecond>(out) ? Fault::None : Fault::Result;
    }
    // The count within the enclosing unit of the local reading, from the
    // remainders of the instant and the offset.
    const std::int64_t within =
        floor_divmod(floor_divmod(v, r.enclosing).remainder + floor_divmod(offset * PerSecond, r.enclosing).remainder,
                     r.enclosing)
            .remainder;
    std::int64_t moved;
    if (!moved_by<PerSecond>(v, *round_to_multiple<std::int64_t>(within, r.step, r.mode) - within, moved))
        return Fault::Result;
    return place_back<PerSecond>(place, moved, offset, true, Disambiguate::Compatible, out);
}

// The new array of the column's dtype from element(v, out) for each element
// that is not NaT; on a fault, nullptr with the error naming the index.  A
// long column is mapped on every core, in pieces, each by its own copy of
// `element` (whose state, a calendar step's month, is its own).  Where a
// vector kernel is given and the counts lie in order in native byte order,
// it takes them a block at a time, and element() each block it leaves.
template <class Element>
PyObject *map_elements(const Numpy &np, const Column &c, const char *fn, const Element &element, Vectors vectors = {}) {
    Py_buffer view;
    PyObject *result = new_int64_array(np, c.size, view);
    if (result == nullptr) return nullptr;
    auto *values = static_cast<std::int64_t *>(view.buf);
    const int threads = thread_count(c.size);
    const int pieces = piece_count(c.size, threads);
    Fault faults[kPiecesMax];
    Py_ssize_t stops[kPiecesMax];
    if (const Column::Elements all = c.elements(); all.stride != sizeof(std::int64_t) || all.swap)
        vectors.kernel = nullptr;
    auto map_piece = [&](int piece) noexcept {
        Element each = element;
        const Column::Elements elements = c.elements();
        const auto end = static_cast<Py_ssize_t>(piece_start(c.size, pieces, piece + 1));
        Py_ssize_t i = static_cast<Py_ssize_t>(piece_start(c.size, pieces, piece));
        Fault fault = Fault::None;
        // Up to `stop`, or to the first fault, where i stays.
        auto map_rows = [&](Py_ssize_t stop) {
            for (; i < stop; ++i) {
                const std::int64_t v = elements.at(i);
                if (v == INT64_MIN) {
                    values[i] = v;
                    continue;
                }
                fault = each(v, values[i]);
                if (fault != Fault::None) break;
            }
        };
        if (vectors.kernel == nullptr) {
            map_rows(end);
        } else {
            while (i < end && fault == Fault::None) {
                const Py_ssize_t stop = std::min(end, i + kVectorRows);
                if (vectors.kernel(elements.base + i * elements.stride, values + i, static_cast<std::size_t>(stop - i),
                                   vectors.rounding))
                    i = stop;
                else
                    map_rows(stop);
            }
        }
        faults[piece] = fault;
        stops[piece] = i;
    };
    if (threads == 1) {
        map_piece(0);
    } else {
        Py_BEGIN_ALLOW_THREADS;
        read_pieces(threads, pieces, map_piece);
        Py_END_ALLOW_THREADS;
    }
    // The first fault, as each piece stops at its own.
    Fault fault = Fault::None;
    Py_ssize_t i = 0;
    for (int piece = 0; piece < pieces && fault == Fault::None; ++piece) {
        fault = faults[piece];
        i = stops[piece];
    }
    PyBuffer_Release(&view);
    if (fault == Fault::None) return view_as(result, c.unit.info().datetime64);
    Py_DECREF(result);
    const auto v = static_cast<long long>(c.at(i));
    switch (fault) {
        case Fault::Input:
            return PyErr_Format(PyExc_ValueError, "%s: array[%zd] = %lld of %U is outside the range of DateTime", fn, i,
                                v, c.dtype);
        case Fault::Result:
            return PyErr_Format(PyExc_ValueError,
                                "%s: array[%zd] = %lld of %U: its result is outside the range of DateTime or %U", fn, i,
                                v, c.dtype, c.dtype);
        default:
            return PyErr_Format(PyExc_ValueError,
                                "%s: array[%zd] = %lld of %U: the local reading reached is %s in the zone "
                                "(disambiguate='raise')",
                                fn, i, v, c.dtype, fault == Fault::Skipped ? "skipped" : "repeated");
    }
}

// The column's unit as a number of units per second, for the four
// instances; ValueError for any other unit.
bool open_second_column(const Numpy &np, PyObject *array, const char *fn, Column &c) {
    if (!open_column(np, array, fn, "array", true, c)) return false;
    if (c.unit.per_second() != 0) return true;
    PyErr_Format(PyExc_ValueError, "%s: array must be of datetime64[s], [ms], [us] or [ns], not %U", fn, c.dtype);
    return false;
}

template <class Run>
PyObject *by_unit(const Column &c, Run &&run) {
    switch (c.unit.per_second()) {
        case 1: return run(std::integral_constant<std::int64_t, 1>{});
        case 1000: return run(std::integral_constant<std::int64_t, 1000>{});
        case 1000000: return run(std::integral_constant<std::int64_t, 1000000>{});
        default: return run(std::integral_constant<std::int64_t, kNanosPerSecond>{});
    }
}

std::optional<ZoneOrOffset> zone_or_offset(const std::optional<OffsetOrZone::Value> &zone) noexcept {
    if (!zone) return std::nullopt;
    return ZoneOrOffset{zone->zone, zone->offset.seconds};
}

}  // namespace

static PyObject *add_calendar_numpy(PyObject *, PyObject *array, std::int64_t years, std::int64_t months,
                                    std::int64_t weeks, std::int64_t days, std::optional<OffsetOrZone::Value> zone,
                                    Disambiguate how) {
    static constexpr const char *fn = "add_calendar_numpy()";
    const Numpy *np = numpy(fn);
    Column c;
    if (np == nullptr || !open_second_column(*np, array, fn, c)) return nullptr;
    const CalendarAmount amount{years, months, weeks, days};
    // With no calendar unit the instant is kept, as a zoned date-time keeps
    // it: a reading in a fold is not placed again.
    const std::optional<ZoneOrOffset> place =
        years == 0 && months == 0 && weeks == 0 && days == 0 ? std::nullopt : zone_or_offset(zone);
    return by_unit(c, [&]<std::int64_t PerSecond>(std::integral_constant<std::int64_t, PerSecond>) {
        return map_elements(*np, c, fn,
                            [place, how, step = CalendarStep(amount)](std::int64_t v, std::int64_t &out) mutable {
                                return add_element<PerSecond>(v, step, place, how, out);
                            });
    });
}
static constexpr auto add_calendar_numpy_decl =
    module_function("add_calendar_numpy", add_calendar_numpy,
                    "Move every element of a datetime64 array by calendar units, as add_calendar.\n"
                    "\n"
                    "Args:\n"
                    "    array: A datetime64 array of unit s, ms, us or ns, or a pandas Series of\n"
                    "        one.\n"
                    "    years: Years to add, signed (default=0).\n"
                    "    months: Months to add, signed (default=0).\n"
                    "    weeks: Weeks to add, signed (default=0).\n"
                    "    days: Days to add, signed (default=0).\n"
                    "    zone: None to move the values as they are; a Zone or a UtcOffset to move\n"
                    "        each instant's local reading there and place it back as an instant\n"
                    "        (default=None).\n"
                    "    disambiguate: How a reading reached in a gap or a fold of the zone is\n"
                    "        settled, as Zone.from_local does (default='compatible').\n"
                    "\n"
                    "Returns:\n"
                    "    numpy.ndarray: A new array of the same dtype; NaT stays NaT.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for an element or a result beyond the\n"
                    "        DateTime range or the dtype's, and a reading that\n"
                    "        disambiguate='raise' refuses; for an array of another unit.\n"
                    "    OverflowError: For an amount beyond signed 64 bits.",
                    param<Any>("array"), param<I64>("years", 0).keyword_only(), param<I64>("months", 0).keyword_only(),
                    param<I64>("weeks", 0).keyword_only(), param<I64>("days", 0).keyword_only(),
                    param<OrNone<OffsetOrZone>>("zone", {}).keyword_only(),
                    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only());

static PyObject *round_numpy(PyObject *, PyObject *array, TimeUnit unit, std::int64_t increment, RoundingMode mode,
                             std::optional<OffsetOrZone::Value> zone) {
    static constexpr const char *fn = "round_numpy()";
    if (!check_increment(unit, increment)) return nullptr;
    const Numpy *np = numpy(fn);
    Column c;
    if (np == nullptr || !open_second_column(*np, array, fn, c)) return nullptr;
    const std::int64_t nanos_per_element = kNanosPerSecond / c.unit.per_second();
    const std::optional<ZoneOrOffset> place = zone_or_offset(zone);
    // A step no longer than the column's unit divides it (every unit is a
    // multiple of the next smaller one's enclosing unit): nothing moves.
    const std::int64_t step = increment * nanos_per(unit);
    if (step <= nanos_per_element)
        return by_unit(c, [&]<std::int64_t PerSecond>(std::integral_constant<std::int64_t, PerSecond>) {
            return map_elements(*np, c, fn, [](std::int64_t v, std::int64_t &out) {
                out = v;
                return in_range<PerSecond>(v) ? Fault::None : Fault::Input;
            });
        });
    const Rounding r{unit, mode, step / nanos_per_element, enclosing_nanos(unit) / nanos_per_element,
                     Modulus(std::max<std::int64_t>(step / nanos_per_element, 2))};
    return by_unit(c, [&]<std::int64_t PerSecond>(std::integral_constant<std::int64_t, PerSecond>) {
        if (!place)
            // The rounding by value: each piece's copy then stays in
            // registers, where through a reference every store of a result
            // might change it and it is loaded again per element.
            return r.directed
                       ? map_elements(
                             *np, c, fn,
                             [r](std::int64_t v, std::int64_t &out) { return round_value<PerSecond, true>(v, r, out); },
                             vectors_for<PerSecond>(r))
                       : map_elements(
                             *np, c, fn,
                             [r](std::int64_t v, std::int64_t &out) {
                                 return round_value<PerSecond, false>(v, r, out);
                             },
                             vectors_for<PerSecond>(r));
        return map_elements(*np, c, fn, [r, at = *place](std::int64_t v, std::int64_t &out) {
            return round_element<PerSecond>(v, r, at, out);
        });
    });
}
static constexpr auto round_numpy_decl =
    module_function("round_numpy", round_numpy,
                    "Round every element of a datetime64 array, as round_to.\n"
                    "\n"
                    "Args:\n"
                    "    array: A datetime64 array of unit s, ms, us or ns, or a pandas Series of\n"
                    "        one.\n"
                    "    unit: 'day', 'hour', 'minute', 'second', 'millisecond', 'microsecond' or\n"
                    "        'nanosecond'.\n"
                    "    increment: A divisor of the next larger unit smaller than it; 1 for 'day'\n"
                    "        (default=1).\n"
                    "    mode: 'floor', 'ceil', 'trunc', 'expand', 'half_floor', 'half_ceil',\n"
                    "        'half_trunc', 'half_expand' or 'half_even' (default='half_even').\n"
                    "    zone: None to round the values as they are; a Zone or a UtcOffset to round\n"
                    "        each instant's local reading there and place it back as an instant,\n"
                    "        at its offset where the zone has it at the rounded reading and\n"
                    "        otherwise as 'compatible' settles it; 'day' rounds on the day's real\n"
                    "        length there (default=None).\n"
                    "\n"
                    "Returns:\n"
                    "    numpy.ndarray: A new array of the same dtype; NaT stays NaT.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: For an unknown unit or mode, an increment the unit does not\n"
                    "        take, an array of another unit, and naming the index, for an element\n"
                    "        or a result beyond the DateTime range or the dtype's.",
                    param<Any>("array"), param<TimeUnitWord>("unit"), param<I64>("increment", 1).keyword_only(),
                    param<RoundingModeWord>("mode", RoundingMode::HalfEven).keyword_only(),
                    param<OrNone<OffsetOrZone>>("zone", {}).keyword_only());

static PyMethodDef calendar_column_functions[] = {
    row<add_calendar_numpy_decl>(),
    row<round_numpy_decl>(),
    kEndOfMethods,
};

extern const InteropUnit kCalendarColumnsUnit = {calendar_column_functions, nullptr, {}};

}  // namespace merandol::py
