#pragma once
// Text pieces shared by the project and placement writers and readers.

#include <QString>
#include <QStringView>

// A double in %g notation (C locale, whatever the user's locale) with 6 significant digits when that reads
// back to the same double, else with the fewest significant digits (up to 17) that do. So 1, 0.5 and 1e-07
// keep their short form and 512345.678 keeps every digit.
QString formatNumber(double v);

// Attribute text with &, <, > and " escaped, and tab, line feed and carriage return written as
// character references so that they survive reading. Characters XML cannot hold at all (other
// control characters, lone surrogates, U+FFFE and U+FFFF) become U+FFFD.
QString escapeAttribute(const QString& text);

// Parses a whole token as a finite double / as a base-10 int; false on anything else (nan, inf and
// numbers out of range included).
bool parseNumber(QStringView token, double& out);
bool parseInteger(QStringView token, int& out);
