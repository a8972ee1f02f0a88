#include "text_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace text_fields {

namespace {

// The longest token read beyond the range of its type; longer ones are refused, so that a hostile
// token is never copied whole.
constexpr std::size_t longestOutOfRange = 1000;

double strtoReal(const char* s, double) {
    return std::strtod(s, nullptr);
}

float strtoReal(const char* s, float) {
    return std::strtof(s, nullptr);
}

template <typename T> bool parseNumber(std::string_view tok, T& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+')
        ++b;
    if (b == e)
        return false;
    const auto [ptr, ec] = std::from_chars(b, e, out);
    if (ptr != e)
        return false;
    if (ec == std::errc())
        return true;
    if (ec != std::errc::result_out_of_range || tok.size() > longestOutOfRange)
        return false;
    // Beyond the range of the type: the infinity or the zero that the C library gives.
    const std::string copy(tok);
    out = strtoReal(copy.c_str(), T{});
    return true;
}

} // namespace

bool parseReal(std::string_view tok, double& out) {
    return parseNumber(tok, out);
}

bool parseFloat(std::string_view tok, float& out) {
    return parseNumber(tok, out);
}

bool parseIndex(std::string_view tok, std::int64_t& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+')
        ++b;
    const auto [ptr, ec] = std::from_chars(b, e, out);
    return b != e && ptr == e && ec == std::errc();
}

std::uint8_t colorByte(double v) {
    const double s = v * 255.0;
    if (!(s > 0.0)) // also NaN
        return 0;
    if (s >= 255.0)
        return 255;
    return static_cast<std::uint8_t>(std::lround(s));
}

QString quoted(std::string_view tok) {
    return QString::fromUtf8(tok.data(), qsizetype(std::min<std::size_t>(tok.size(), 40)));
}

} // namespace text_fields
