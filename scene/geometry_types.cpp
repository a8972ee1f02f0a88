#include "geometry_types.h"

#include <algorithm>
#include <cmath>

Color4b Color4b::fromHsv(double hue01, double s, double v) {
    const double h = std::fmod(hue01, 1.0) * 6.0;
    const int sector = static_cast<int>(std::floor(h)) % 6;
    const double f = h - std::floor(h);
    const double p = v * (1.0 - s), q = v * (1.0 - s * f), t = v * (1.0 - s * (1.0 - f));
    double r = v, g = t, b = p;
    switch (sector) {
    case 0:
        r = v, g = t, b = p;
        break;
    case 1:
        r = q, g = v, b = p;
        break;
    case 2:
        r = p, g = v, b = t;
        break;
    case 3:
        r = p, g = q, b = v;
        break;
    case 4:
        r = t, g = p, b = v;
        break;
    default:
        r = v, g = p, b = q;
        break;
    }
    auto byte = [](double x) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(x, 0.0, 1.0) * 255.0));
    };
    return {byte(r), byte(g), byte(b), 255};
}

Color4b Color4b::scatter(int n, int i, double saturation, double value) {
    // Smallest power of two that holds n; index i is mapped to the hue of its bit-reversed value,
    // so consecutive indices land on opposite sides of the circle.
    unsigned bits = 0;
    while ((1u << bits) < static_cast<unsigned>(std::max(n, 1)))
        ++bits;
    unsigned reversed = 0;
    for (unsigned k = 0; k < bits; ++k)
        if (static_cast<unsigned>(i) & (1u << k))
            reversed |= 1u << (bits - 1 - k);
    const double hue = bits == 0 ? 0.0 : static_cast<double>(reversed) / static_cast<double>(1u << bits);
    return fromHsv(hue, saturation, value);
}
