#include "rigid_math.h"

#include <Eigen/SVD>

#include <cmath>
#include <cstdio>

double determinant3x3(const Matrix33d& r) {
    return r(0, 0) * (r(1, 1) * r(2, 2) - r(1, 2) * r(2, 1)) -
           r(0, 1) * (r(1, 0) * r(2, 2) - r(1, 2) * r(2, 0)) +
           r(0, 2) * (r(1, 0) * r(2, 1) - r(1, 1) * r(2, 0));
}

Matrix33d invert3x3(const Matrix33d& r) {
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(r, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::Vector3d inv = svd.singularValues().cwiseInverse();
    return svd.matrixV() * inv.asDiagonal() * svd.matrixU().transpose();
}

double orthonormalityError(const Matrix33d& r) {
    return (r.transpose() * r - Matrix33d::Identity()).cwiseAbs().maxCoeff();
}

RigidIncrement orthonormalizeIncrement(const Matrix33d& m, const Point3d& t, const Point3d& c) {
    RigidIncrement inc;
    Matrix33d r = m;
    // A NaN error ends the rounds (the comparison is false); such a result is refused below.
    while (inc.rounds < kMaxPolarRounds && orthonormalityError(r) > kOrthonormalTolerance) {
        r = 0.5 * (r + invert3x3(r.transpose()));
        ++inc.rounds;
    }
    double d = determinant3x3(r);
    if (!r.allFinite() || !std::isfinite(d) || d < 0.0)
        return inc;
    if (std::abs(d) < 0.999 || std::abs(d) > 1.001)
        std::printf("DETERMINANT: %4.4f", d);
    if (!(orthonormalityError(r) <= kOrthonormalTolerance)) {
        // Rounds too slow (singular values far from 1): finish with the limit they tend to, the
        // orthogonal polar factor U V^T, so that the result is a rotation all the same.
        const Eigen::JacobiSVD<Eigen::Matrix3d> svd(r, Eigen::ComputeFullU | Eigen::ComputeFullV);
        r = svd.matrixU() * svd.matrixV().transpose();
        d = determinant3x3(r);
        if (!r.allFinite() || d < 0.0)
            return inc;
    }
    inc.rotation = r;
    inc.translation = m * c + t - r * c;
    inc.ok = true;
    return inc;
}

Matrix44d composeTransform(const Matrix33d& r, const Point3d& t) {
    Matrix44d T = Matrix44d::Zero();
    T.topLeftCorner<3, 3>() = r;
    T(0, 3) = t.x();
    T(1, 3) = t.y();
    T(2, 3) = t.z();
    T(3, 3) = 1.0;
    return T;
}

void decomposeTransform(const Matrix44d& T, Matrix33d& r, Point3d& t) {
    r = T.topLeftCorner<3, 3>();
    t = Point3d(T(0, 3), T(1, 3), T(2, 3));
}
