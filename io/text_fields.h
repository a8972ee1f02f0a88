#pragma once
// The pieces of text mesh files (OBJ, OFF, ASCII STL) that their readers share: line endings,
// blank-separated tokens and numbers read exactly as the C library reads them.

#include <QString>

#include <cstdint>
#include <string_view>

namespace text_fields {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first "\n" or "\r" in [p, e), or e.
inline const char* findLineEnd(const char* p, const char* e) {
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
