// The two paths to an RFC 3339 instant on arbitrary bytes: every kernel of
// the fast path this processor runs either leaves the text to the full
// reader or gives exactly the instant parse_rfc3339 reads, whatever follows
// the text in its window; the kernels answer alike, also when they may read
// nothing past the text, and in every lane of a batch; and the whole reader
// accepts exactly what parse_rfc3339 accepts, with the same instant.
#include <cstring>

#include "core/rfc3339.hpp"
#include "core/rfc3339_fast.hpp"
#include "fuzz/check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    const auto parsed = parse_rfc3339(text);
    Rfc3339Instant expected{};
    if (parsed) expected = {unix_timestamp(*parsed), parsed->utc.time.nanosecond, parsed->offset.seconds};

    if (size <= kFastTextMax) {
        // The window past the text holds the input's bytes again, then ones.
        char window[kFastWindow + kFastTextMax];
        std::memset(window, 0xff, sizeof window);
        std::memcpy(window, data, size);
        std::memcpy(window + size, data, size < sizeof window - size ? size : sizeof window - size);
        int first = -1;
        Rfc3339Instant first_instant{};
        for (FastKernel kernel : {FastKernel::Scalar, FastKernel::Sse42, FastKernel::Avx2}) {
            if (!fast_kernel_supported(kernel)) continue;
            Rfc3339Instant out;
            const bool read = fast_reader(kernel)(window, size, out);
            if (read) MERANDOL_REQUIRE(parsed && out == expected, text);
            if (first < 0) {
                first = read;
                first_instant = out;
            }
            MERANDOL_REQUIRE(read == (first == 1) && (!read || out == first_instant), text);
            // The batch, the text in every lane but one, which holds a text
            // of the shape: each lane answers as the reader does.
            static constexpr char kOtherWindow[kFastWindow + 1] = "2038-01-19T03:14:08.999+14:00";
            static constexpr std::string_view kOther(kOtherWindow);
            Rfc3339Instant other;
            MERANDOL_REQUIRE(fast_reader(kernel)(kOther.data(), kOther.size(), other), kOther);
            const std::size_t lone = size % kFastBatch;
            for (bool bounded : {false, true}) {
                // Bounded: the input itself, which ends where the text does.
                const char *texts[kFastBatch];
                std::size_t sizes[kFastBatch];
                for (std::size_t i = 0; i < kFastBatch; ++i) {
                    texts[i] = i == lone ? kOther.data() : bounded ? text.data() : window;
                    sizes[i] = i == lone ? kOther.size() : size;
                }
                FastBatch batch;
                const unsigned batch_read =
                    (bounded ? fast_batch_reader_bounded(kernel) : fast_batch_reader(kernel))(texts, sizes, batch);
                for (std::size_t i = 0; i < kFastBatch; ++i) {
                    const Rfc3339Instant &here = i == lone ? other : out;
                    const bool lane_read = (batch_read >> i & 1) != 0;
                    MERANDOL_REQUIRE(lane_read == (i == lone || read), text);
                    if (lane_read)
                        MERANDOL_REQUIRE(batch.seconds[i] == here.seconds && batch.nanosecond[i] == here.nanosecond,
                                         text);
                }
            }
            // The bounded reader, on the input itself, which ends
            // where the text does.
            const bool bounded = fast_reader_bounded(kernel)(text.data(), size, out);
            MERANDOL_REQUIRE(bounded == read && (!bounded || out == first_instant), text);
        }
    }

    // The whole reader, the text at the very end of its buffer.
    Rfc3339Instant out;
    const bool read = read_rfc3339_instant(text, out);
    MERANDOL_REQUIRE(read == parsed.has_value(), text);
    if (read) MERANDOL_REQUIRE(out == expected, text);
    return 0;
}
