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

QString escapeAttribute(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        // A reader turns these into spaces when they stand in an attribute as they are.
        case '\t':
            out += QLatin1String("&#9;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        default:
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
