// The reader of Arrow string arrays on arrays built here: every layout, with
// an offset and nulls, against the texts read one by one; and on arrays whose
// structs lie, which must be refused before a byte of text is read.  Every
// buffer is allocated at its exact size, so that a read past one is caught
// under the address sanitizer.

#include "core/arrow_strings.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/rfc3339.hpp"

namespace merandol::arrow {
namespace {

using Texts = std::vector<std::optional<std::string>>;

// An array and the buffers it points at.
struct Built {
    std::vector<std::unique_ptr<char[]>> owned;
    std::vector<const void *> buffers;
    ArrowArray array{};

    template <class T>
    T *add(std::size_t count) {
        if (count == 0) {
            buffers.push_back(nullptr);
            return nullptr;
        }
        owned.push_back(std::make_unique<char[]>(count * sizeof(T)));
        buffers.push_back(owned.back().get());
        return reinterpret_cast<T *>(owned.back().get());
    }

    void finish(std::int64_t length, std::int64_t null_count, std::int64_t offset) {
        array.length = length;
        array.null_count = null_count;
        array.offset = offset;
        array.n_buffers = static_cast<std::int64_t>(buffers.size());
        array.buffers = buffers.data();
    }
};

// `skipped` rows of other texts before `texts`, which start at the offset.
Texts with_skipped(const Texts &texts, std::size_t skipped) {
    Texts all;
    for (std::size_t i = 0; i < skipped; ++i)
        all.emplace_back(i % 2 ? std::nullopt : std::optional(std::string(i, 'x')));
    all.insert(all.end(), texts.begin(), texts.end());
    return all;
}

void fill_validity(Built &b, const Texts &all, bool bitmap) {
    if (!bitmap) {
        b.buffers.push_back(nullptr);
        return;
    }
    auto *bits = b.add<std::uint8_t>((all.size() + 7) / 8);
    std::memset(bits, 0, (all.size() + 7) / 8);
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i]) bits[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
}

std::int64_t count_nulls(const Texts &texts) {
    std::int64_t n = 0;
    for (const auto &t : texts) n += !t;
    return n;
}

template <class Offset>
Built offsets_array(const Texts &texts, std::size_t skipped, bool bitmap = true) {
    const Texts all = with_skipped(texts, skipped);
    Built b;
    fill_validity(b, all, bitmap);
    Offset *offsets = b.add<Offset>(all.size() + 1);
    std::string data;
    offsets[0] = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]) data += *all[i];
        offsets[i + 1] = static_cast<Offset>(data.size());
    }
    char *bytes = b.add<char>(data.size());
    if (!data.empty()) std::memcpy(bytes, data.data(), data.size());
    b.finish(static_cast<std::int64_t>(texts.size()), bitmap ? count_nulls(texts) : 0,
             static_cast<std::int64_t>(skipped));
    return b;
}

// Views with their long texts spread over two data buffers, each the exact
// size of what it holds.
Built views_array(const Texts &texts, std::size_t skipped, bool bitmap = true) {
    const Texts all = with_skipped(texts, skipped);
    Built b;
    fill_validity(b, all, bitmap);
    auto *views = b.add<char>(all.size() * 16);
    std::string data[2];
    for (std::size_t i = 0; i < all.size(); ++i) {
        char *v = views + i * 16;
        std::memset(v, 0, 16);
        const std::string text = all[i].value_or("");
        const auto length = static_cast<std::int32_t>(text.size());
        std::memcpy(v, &length, 4);
        if (text.size() <= 12) {
            std::memcpy(v + 4, text.data(), text.size());
            continue;
        }
        const std::int32_t buffer = static_cast<std::int32_t>(i % 2);
        const auto offset = static_cast<std::int32_t>(data[buffer].size());
        std::memcpy(v + 4, text.data(), 4);
        std::memcpy(v + 8, &buffer, 4);
        std::memcpy(v + 12, &offset, 4);
        data[buffer] += text;
    }
    for (const std::string &d : data) {
        char *bytes = b.add<char>(d.size());
        if (!d.empty()) std::memcpy(bytes, d.data(), d.size());
    }
    auto *sizes = b.add<std::int64_t>(2);
    sizes[0] = static_cast<std::int64_t>(data[0].size());
    sizes[1] = static_cast<std::int64_t>(data[1].size());
    b.finish(static_cast<std::int64_t>(texts.size()), bitmap ? count_nulls(texts) : 0,
             static_cast<std::int64_t>(skipped));
    return b;
}

Built build(StringLayout layout, const Texts &texts, std::size_t skipped, bool bitmap = true) {
    switch (layout) {
        case StringLayout::Utf8: return offsets_array<std::int32_t>(texts, skipped, bitmap);
        case StringLayout::LargeUtf8: return offsets_array<std::int64_t>(texts, skipped, bitmap);
        case StringLayout::Utf8View: return views_array(texts, skipped, bitmap);
    }
    return {};
}

constexpr StringLayout kLayouts[] = {StringLayout::Utf8, StringLayout::LargeUtf8, StringLayout::Utf8View};
constexpr struct {
    TimeUnit unit;
    std::int64_t nanos;
    int digits;  // of a fraction the unit holds
} kUnits[] = {{TimeUnit::Second, 1000000000, 0},
              {TimeUnit::Milli, 1000000, 3},
              {TimeUnit::Micro, 1000, 6},
              {TimeUnit::Nano, 1, 9}};

// The oracle: the instant parse_rfc3339 reads in units, in 128 bits;
// nothing when the text is refused, the unit cannot hold it, or it has a
// rest.
std::optional<std::int64_t> expected_units(const std::string &text, std::int64_t nanos) {
    const auto v = parse_rfc3339(text);
    if (!v) return std::nullopt;
    const i128 instant = unix_timestamp_nanos(v->utc);
    const i128 units = instant / nanos;
    if (instant % nanos != 0 || units <= INT64_MIN || units > INT64_MAX) return std::nullopt;
    return static_cast<std::int64_t>(units);
}

// Accepted texts of every kind: the writers' shapes at random instants of
// 1678 to 2261 with fractions of up to `digits` digits, the variants, and
// white space; one in five is null.
Texts accepted_texts(std::size_t count, std::uint64_t seed, int digits) {
    std::mt19937_64 rng(seed);
    auto pick = [&rng](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(rng);
    };
    constexpr const char *kZones[] = {"Z", "+05:30", "-08:00", "z", "+0530", "-03", "+23:59", "-00:00"};
    Texts texts;
    for (std::size_t i = 0; i < count; ++i) {
        if (pick(0, 4) == 0) {
            texts.emplace_back();
            continue;
        }
        const auto dt = *from_unix_timestamp(pick(-9200000000, 9200000000), 0);
        char buffer[80];
        int n = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u%c%02u:%02u:%02u", dt.date.year, dt.date.month,
                              dt.date.day, pick(0, 4) == 0 ? ' ' : 'T', dt.time.hour, dt.time.minute, dt.time.second);
        if (const std::int64_t width = pick(0, digits); width > 0) {
            buffer[n++] = '.';
            for (std::int64_t d = 0; d < width; ++d) buffer[n++] = static_cast<char>('0' + pick(0, 9));
        }
        std::string text(buffer, static_cast<std::size_t>(n));
        text += kZones[pick(0, 7)];
        if (pick(0, 9) == 0) text = " " + text + "\u3000";
        texts.emplace_back(text);
    }
    return texts;
}

TEST(ArrowStrings, EachTextInPlace) {
    const Texts texts = {
        "", std::nullopt, "twelve bytes", "thirteen byte", std::nullopt, "a longer text of some bytes"};
    for (StringLayout layout : kLayouts) {
        for (std::size_t skipped : {0, 3, 9}) {
            Built b = build(layout, texts, skipped);
            const auto column = StringColumn::open(b.array, layout);
            ASSERT_TRUE(column.has_value());
            Texts seen;
            for (std::int64_t row = 0; row < column->size; ++row)
                seen.emplace_back(column->is_valid(row) ? std::optional(std::string(column->text(row))) : std::nullopt);
            EXPECT_EQ(seen, texts) << static_cast<int>(layout) << " skipping " << skipped;
        }
    }
}

TEST(ArrowStrings, TimestampsEqualTheTextsReadOneByOne) {
    for (const auto &[unit, nanos, digits] : kUnits) {
        for (StringLayout layout : kLayouts) {
            for (std::size_t skipped : {0, 5}) {
                for (bool bitmap : {true, false}) {
                    const Texts rows = accepted_texts(bitmap ? 3000 : 1000, 7 + skipped, digits);
                    Texts present;
                    for (const auto &t : rows)
                        present.push_back(t ? t : std::optional<std::string>("2000-01-01T00:00:00Z"));
                    const Texts &used = bitmap ? rows : present;
                    Built b = build(layout, used, skipped, bitmap);
                    const auto column = StringColumn::open(b.array, layout);
                    ASSERT_TRUE(column.has_value());
                    std::vector<std::int64_t> values(used.size());
                    const auto nulls = read_timestamps(*column, unit, -7, values.data());
                    ASSERT_TRUE(nulls.has_value()) << "row " << nulls.error().row;
                    EXPECT_EQ(*nulls, count_nulls(used));
                    for (std::size_t i = 0; i < used.size(); ++i) {
                        const auto expected = used[i] ? expected_units(*used[i], nanos) : std::optional(-7l);
                        ASSERT_EQ(std::optional(values[i]), expected)
                            << used[i].value_or("null") << " in units of " << nanos;
                    }
                }
            }
        }
    }
}

TEST(ArrowStrings, TheFirstFailingRow) {
    struct Case {
        std::vector<const char *> texts;  // nullptr for a null
        TimeUnit unit;
        std::int64_t row;
        RowError error;
    };
    const Case cases[] = {
        // Unreadable, counted with the nulls before it.
        {{"2024-01-01T00:00:00Z", nullptr, "2024-01-01T00:00:00"}, TimeUnit::Nano, 2, RowError::Unreadable},
        {{nullptr, "", "junk"}, TimeUnit::Second, 1, RowError::Unreadable},
        {{"-2147483648-01-01T00:30:00+01:00"}, TimeUnit::Second, 0, RowError::Unreadable},
        // Beyond 64 bits of the unit; the lowest value is numpy's NaT.
        {{"2262-04-11T23:47:16.854775808Z"}, TimeUnit::Nano, 0, RowError::OutOfRange},
        {{"1677-09-21T00:12:43.145224192Z"}, TimeUnit::Nano, 0, RowError::OutOfRange},
        {{"1677-09-21T00:12:43.145224191Z"}, TimeUnit::Nano, 0, RowError::OutOfRange},
        {{"-2147483648-01-01T00:00:00Z"}, TimeUnit::Micro, 0, RowError::OutOfRange},
        // A fraction finer than the unit.
        {{"2024-01-01T00:00:00.5Z", "2024-01-01T00:00:00.25Z"}, TimeUnit::Second, 0, RowError::Finer},
        {{"2024-01-01T00:00:00.001Z", "2024-01-01T00:00:00.0001Z"}, TimeUnit::Milli, 1, RowError::Finer},
    };
    for (const Case &c : cases) {
        Texts texts;
        for (const char *t : c.texts) texts.emplace_back(t ? std::optional<std::string>(t) : std::nullopt);
        for (StringLayout layout : kLayouts) {
            Built b = build(layout, texts, 2);
            const auto column = StringColumn::open(b.array, layout);
            ASSERT_TRUE(column.has_value());
            std::vector<std::int64_t> values(texts.size());
            const auto result = read_timestamps(*column, c.unit, 0, values.data());
            ASSERT_FALSE(result.has_value()) << c.texts.back();
            EXPECT_EQ(result.error().row, c.row) << c.texts.back();
            EXPECT_EQ(result.error().error, c.error) << c.texts.back();
        }
    }
}

TEST(ArrowStrings, FractionsBothSidesOfTheEpoch) {
    // Before the epoch a fraction counts back from the next second up, so
    // that the lowest nanosecond does not overflow; the lowest second fits
    // only in seconds.
    const Texts texts = {"1969-12-31T23:59:59.5Z", "1970-01-01T00:00:00.0015Z", "1677-09-21T00:12:43.145224193Z",
                         "2262-04-11T23:47:16.854775807Z"};
    Built b = build(StringLayout::Utf8, texts, 0);
    std::vector<std::int64_t> values(texts.size());
    ASSERT_TRUE(read_timestamps(*StringColumn::open(b.array, StringLayout::Utf8), TimeUnit::Nano, 0, values.data()));
    EXPECT_EQ(values, (std::vector<std::int64_t>{-500000000, 1500000, INT64_MIN + 1, INT64_MAX}));
    Built lowest = build(StringLayout::Utf8, {"-2147483648-01-01T00:00:00Z"}, 0);
    ASSERT_TRUE(
        read_timestamps(*StringColumn::open(lowest.array, StringLayout::Utf8), TimeUnit::Second, 0, values.data()));
    EXPECT_EQ(values[0], kMinUnixSeconds);
}

// --- Lying producers ----------------------------------------------------------

struct Lie {
    const char *what;
    StringLayout layout;
    void (*tell)(Built &);
    ArrayFault fault;
};

template <class T>
void set(const void *buffer, std::size_t index, T value) {
    std::memcpy(const_cast<char *>(static_cast<const char *>(buffer)) + index * sizeof(T), &value, sizeof(T));
}

void set_view(Built &b, std::size_t row, std::size_t field, std::int32_t value) {
    set<std::int32_t>(b.buffers[1], row * 4 + field, value);
}

const Lie kLies[] = {
    {"negative length", StringLayout::Utf8, [](Built &b) { b.array.length = -1; }, ArrayFault::NegativeLength},
    {"negative offset", StringLayout::LargeUtf8, [](Built &b) { b.array.offset = -1; }, ArrayFault::NegativeOffset},
    {"rows past 64 bits", StringLayout::Utf8, [](Built &b) { b.array.offset = INT64_MAX - 1; },
     ArrayFault::RowsOverflow},
    {"null count -2", StringLayout::Utf8, [](Built &b) { b.array.null_count = -2; }, ArrayFault::NullCount},
    {"null count above length", StringLayout::Utf8View, [](Built &b) { b.array.null_count = 5; },
     ArrayFault::NullCount},
    {"nulls without bitmap", StringLayout::Utf8, [](Built &b) { b.buffers[0] = nullptr; }, ArrayFault::MissingBuffer},
    {"two buffers", StringLayout::Utf8, [](Built &b) { b.array.n_buffers = 2; }, ArrayFault::BufferCount},
    {"four buffers", StringLayout::LargeUtf8, [](Built &b) { b.array.n_buffers = 4; }, ArrayFault::BufferCount},
    {"views without sizes", StringLayout::Utf8View, [](Built &b) { b.array.n_buffers = 2; }, ArrayFault::BufferCount},
    {"no buffer array", StringLayout::Utf8, [](Built &b) { b.array.buffers = nullptr; }, ArrayFault::MissingBuffer},
    {"no offsets", StringLayout::Utf8, [](Built &b) { b.buffers[1] = nullptr; }, ArrayFault::MissingBuffer},
    {"no data", StringLayout::LargeUtf8, [](Built &b) { b.buffers[2] = nullptr; }, ArrayFault::MissingBuffer},
    {"negative first offset", StringLayout::Utf8, [](Built &b) { set<std::int32_t>(b.buffers[1], 1, -4); },
     ArrayFault::NegativeTextStart},
    {"offsets decrease", StringLayout::Utf8, [](Built &b) { set<std::int32_t>(b.buffers[1], 3, 1); },
     ArrayFault::OffsetsDecrease},
    {"last offset decreases", StringLayout::LargeUtf8, [](Built &b) { set<std::int64_t>(b.buffers[1], 5, 0); },
     ArrayFault::OffsetsDecrease},
    {"no views", StringLayout::Utf8View, [](Built &b) { b.buffers[1] = nullptr; }, ArrayFault::MissingBuffer},
    {"view of negative length", StringLayout::Utf8View, [](Built &b) { set_view(b, 1, 0, -1); },
     ArrayFault::ViewLength},
    {"view of a buffer past the last", StringLayout::Utf8View, [](Built &b) { set_view(b, 2, 2, 2); },
     ArrayFault::ViewBuffer},
    {"view of a negative buffer", StringLayout::Utf8View, [](Built &b) { set_view(b, 2, 2, -1); },
     ArrayFault::ViewBuffer},
    {"view past its buffer", StringLayout::Utf8View, [](Built &b) { set_view(b, 4, 3, 21); }, ArrayFault::ViewRange},
    {"view longer than its buffer", StringLayout::Utf8View, [](Built &b) { set_view(b, 2, 0, 1000); },
     ArrayFault::ViewRange},
    {"view at a negative offset", StringLayout::Utf8View, [](Built &b) { set_view(b, 2, 3, -1); },
     ArrayFault::ViewRange},
    {"view of a missing buffer", StringLayout::Utf8View, [](Built &b) { b.buffers[2] = nullptr; },
     ArrayFault::MissingBuffer},
    {"no buffer sizes", StringLayout::Utf8View, [](Built &b) { b.buffers[4] = nullptr; }, ArrayFault::MissingBuffer},
    {"negative buffer size", StringLayout::Utf8View, [](Built &b) { set<std::int64_t>(b.buffers[4], 1, -1); },
     ArrayFault::BufferSize},
};

TEST(ArrowStrings, LyingStructsAreRefused) {
    // Rows of the buffers: 0 skipped by the offset, 3 null, 1, 2 and 4 long
    // texts, which views keep in data buffer r % 2 (row 4 after row 2's 20
    // bytes).
    const Texts texts = {"2024-01-01T00:00:00Z", "2024-01-01T00:00:01Z", std::nullopt, "2024-01-01T00:00:03Z"};
    for (const Lie &lie : kLies) {
        Built b = build(lie.layout, texts, 1);
        ASSERT_TRUE(StringColumn::open(b.array, lie.layout).has_value()) << lie.what;
        lie.tell(b);
        const auto column = StringColumn::open(b.array, lie.layout);
        ASSERT_FALSE(column.has_value()) << lie.what;
        EXPECT_EQ(column.error(), lie.fault) << lie.what << ": " << wrong_declaration(column.error());
    }
}

TEST(ArrowStrings, HonestOddities) {
    // No texts at all, and no buffers behind them.
    ArrowArray empty{};
    const void *none[3] = {nullptr, nullptr, nullptr};
    empty.n_buffers = 3;
    empty.buffers = none;
    const auto column = StringColumn::open(empty, StringLayout::Utf8);
    ASSERT_TRUE(column.has_value());
    EXPECT_EQ(column->size, 0);
    // Empty texts without a data buffer, and an unknown null count with no
    // bitmap: every row holds a text (which the reader refuses).
    Built b = build(StringLayout::Utf8, {"", ""}, 0, false);
    b.buffers[2] = nullptr;
    b.array.null_count = -1;
    const auto blank = StringColumn::open(b.array, StringLayout::Utf8);
    ASSERT_TRUE(blank.has_value());
    EXPECT_EQ(blank->text(1), "");
    std::int64_t values[2];
    const auto read = read_timestamps(*blank, TimeUnit::Nano, 0, values);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().row, 0);
    // A null view holds anything; it is not checked.
    Built v = build(StringLayout::Utf8View, {"2024-01-01T00:00:00Z", std::nullopt}, 0);
    set_view(v, 1, 0, -5);
    EXPECT_TRUE(StringColumn::open(v.array, StringLayout::Utf8View).has_value());
    // A zero null count makes the bitmap moot.
    Built z = build(StringLayout::Utf8, {"2024-01-01T00:00:00Z"}, 0);
    set<std::uint8_t>(z.buffers[0], 0, 0);
    z.array.null_count = 0;
    const auto moot = StringColumn::open(z.array, StringLayout::Utf8);
    ASSERT_TRUE(moot.has_value());
    EXPECT_TRUE(moot->is_valid(0));
}

}  // namespace
}  // namespace merandol::arrow
