// Placeholder readers and writers: every text is refused and nothing is
// written, until the named forms are implemented.
#include "core/named_forms.hpp"

namespace merandol {

namespace {
constexpr TextError kNotYet{TextFault::Mismatch, 0, {}, {}, 0};
}  // namespace

std::expected<TextValue, TextError> read_iso8601(std::string_view) noexcept { return std::unexpected(kNotYet); }
std::expected<TextValue, TextError> read_rfc2822(std::string_view) noexcept { return std::unexpected(kNotYet); }
std::expected<TextValue, TextError> read_http_date(std::string_view) noexcept { return std::unexpected(kNotYet); }
char *write_rfc2822(char *out, DateTime, UtcOffset) noexcept { return out; }
char *write_http_date(char *out, DateTime) noexcept { return out; }

}  // namespace merandol
