#pragma once
// The pieces of text mesh files (OBJ, OFF, ASCII STL) that their readers share: line endings,
// blank-separated tokens and numbers read exactly as the C library reads them.

#include <QString>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace text_fields {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A mask with the high bit of each zero byte of w set. The lowest set bit is exact (bits above a
// zero byte may be set falsely).
inline std::uint64_t zeroBytes(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    return (w - ones) & ~w & highs;
}

// The first "\n" or "\r" in [p, e), or e. Eight bytes are looked at a time: much of a text mesh
// file's time is spent finding where its lines end.
inline const char* findLineEnd(const char* p, const char* e) {
    constexpr std::uint64_t newlines = 0x0a0a0a0a0a0a0a0aULL, returns = 0x0d0d0d0d0d0d0d0dULL;
    if constexpr (std::endian::native == std::endian::little)
        for (std::uint64_t w; e - p >= 8; p += 8) {
            std::memcpy(&w, p, 8);
            if (const std::uint64_t found = zeroBytes(w ^ newlines) | zeroBytes(w ^ returns))
                return p + std::countr_zero(found) / 8;
        }
    while (p < e && *p != '\n' && *p != '\r')
        ++p;
    return p;
}

// Just after the line ending that starts at p: a "\r\n" is one ending.
inline const char* afterEnding(const char* p, const char* e) {
    return *p == '\r' && p + 1 < e && p[1] == '\n' ? p + 2 : p + 1;
}

// Splits a line into blank-separated tokens, one at a time; a "#" token ends the line.
class Tokens {
public:
    explicit Tokens(std::string_view line) : rest_(line) {}
    bool next(std::string_view& tok) {
        std::size_t i = 0;
        while (i < rest_.size() && isBlank(rest_[i]))
            ++i;
        if (i == rest_.size() || rest_[i] == '#')
            return false;
        std::size_t j = i;
        while (j < rest_.size() && !isBlank(rest_[j]))
            ++j;
        tok = rest_.substr(i, j - i);
        rest_ = rest_.substr(j);
        return true;
    }

private:
    std::string_view rest_;
};

// A decimal number exactly as strtod (strtof) reads it, correctly rounded, also beyond the range of
// the type (an infinity or a zero), but only when the whole token is the number; a leading "+" is
// allowed.
bool parseReal(std::string_view tok, double& out);
bool parseFloat(std::string_view tok, float& out);
// A whole-token decimal integer with an optional sign.
bool parseIndex(std::string_view tok, std::int64_t& out);

// A colour component in 0..1 as a byte, rounded; out-of-range values and NaN are clamped.
std::uint8_t colorByte(double v);

// At most 40 characters of a token, for a message.
QString quoted(std::string_view tok);

} // namespace text_fields
