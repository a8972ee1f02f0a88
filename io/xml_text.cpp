#include "xml_text.h"

#include <cstdio>
#include <cstdlib>

QString formatNumber(double v) {
    char buffer[64];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
        if (std::strtod(buffer, nullptr) == v || v != v)
            break;
    }
    return QString::fromLatin1(buffer);
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
        default:
            out += c;
        }
    }
    return out;
}

bool parseNumber(QStringView token, double& out) {
    bool ok = false;
    out = token.toDouble(&ok);
    return ok;
}

bool parseInteger(QStringView token, int& out) {
    bool ok = false;
    out = token.toInt(&ok, 10);
    return ok;
}
