#include "xml_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

QString formatNumber(double v) {
    // The shortest scientific form that reads back exactly tells how many significant digits are
    // needed; %g with that many (at least 6) digits then reads back exactly too.
    char shortest[64];
    const auto result = std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::scientific);
    int digits = 0;
    for (const char* p = shortest; p != result.ptr && *p != 'e'; ++p)
        digits += (*p >= '0' && *p <= '9') ? 1 : 0;
    // to_chars is %g of the C locale whatever the user's locale is (a decimal comma would make
    // the file unreadable).
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general,
                                       std::clamp(digits, 6, 17));
    return QString::fromLatin1(buffer, written.ptr - buffer);
}

namespace {
// How a character that cannot stand in an attribute as it is gets written; null for the others.
// (A reader turns a tab or line break that stands as it is into a space.)
const char* attributeReference(char16_t c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    case '\r':
        return "&#13;";
    default:
        return nullptr;
    }
}
// Characters XML 1.0 allows (a surrogate only as half of a pair, checked by the caller).
bool allowedInXml(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x20 || u == '\t' || u == '\n' || u == '\r') && !c.isSurrogate() && u != 0xFFFE &&
           u != 0xFFFF;
}
} // namespace

QString escapeAttribute(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (const char* reference = attributeReference(c.unicode())) {
            out += QLatin1String(reference);
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (!allowedInXml(c)) {
            // No XML reader takes these, even as references: one would make the file unreadable.
            out += QChar::ReplacementCharacter;
        } else {
            out += c;
        }
    }
    return out;
}

bool parseNumber(QStringView token, double& out) {
    bool ok = false;
    out = token.toDouble(&ok); // not ok on overflow
    return ok && std::isfinite(out);
}

bool parseInteger(QStringView token, int& out) {
    bool ok = false;
    out = token.toInt(&ok, 10);
    return ok;
}
