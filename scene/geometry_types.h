#pragma once
// Small value types shared by the whole program: points, 4x4 placements, boxes and RGBA colours.

#include <Eigen/Core>
#include <cstdint>

using Point3d = Eigen::Vector3d;
using Point3f = Eigen::Vector3f;

// Row-major 4x4 placement; points are transformed as columns (p, 1) with a homogeneous divide.
using Matrix44d = Eigen::Matrix<double, 4, 4, Eigen::RowMajor>;

// m * (p, 1), divided by the fourth component when that component is not 0.
inline Point3d transformPoint(const Matrix44d& m, const Point3d& p) {
    const Eigen::Vector4d h = m * Eigen::Vector4d(p.x(), p.y(), p.z(), 1.0);
    if (h.w() != 0.0)
        return h.head<3>() / h.w();
    return h.head<3>();
}

// Axis-aligned box; the empty box has min (1,1,1) and max (-1,-1,-1).
struct Box3d {
    Point3d min{1.0, 1.0, 1.0};
    Point3d max{-1.0, -1.0, -1.0};

    bool isNull() const { return min.x() > max.x() || min.y() > max.y() || min.z() > max.z(); }
    void setNull() { *this = Box3d{}; }
    void add(const Point3d& p) {
        if (isNull()) {
            min = max = p;
            return;
        }
        min = min.cwiseMin(p);
        max = max.cwiseMax(p);
    }
    void add(const Box3d& b) {
        if (b.isNull())
            return;
        add(b.min);
        add(b.max);
    }
    Point3d center() const { return (min + max) / 2.0; }
    double diag() const { return isNull() ? 0.0 : (max - min).norm(); }
    bool operator==(const Box3d&) const = default;
};

struct Color4b {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;

    bool operator==(const Color4b&) const = default;

    // Colour i of n spread over the hue circle so that neighbouring indices differ strongly
    // (hues visited in bit-reversed order of the index), with the given saturation and value.
    static Color4b scatter(int n, int i, double saturation = 0.3, double value = 0.9);
    static Color4b fromHsv(double hue01, double saturation, double value);
};
