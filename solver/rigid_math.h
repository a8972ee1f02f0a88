#pragma once
// Dense helpers of the solver: 3x3 determinant and inverse, the turning of a linear increment into a
// rotation about a centroid, and 4x4 rigid placements.

#include "geometry_types.h"

#include <Eigen/Core>

using Matrix33d = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;

// Cofactor expansion along the first row.
double determinant3x3(const Matrix33d& r);

// V diag(1/w) U^T from the singular value decomposition R = U diag(w) V^T; entries are not finite when
// R is singular.
Matrix33d invert3x3(const Matrix33d& r);

// A rigid increment: x -> rotation * x + translation.
struct RigidIncrement {
    Matrix33d rotation = Matrix33d::Identity();
    Point3d translation = Point3d::Zero();
    bool ok = false;
    int rounds = 0; // polar rounds run
};

// Polar rounds stop once max |R^T R - I| is at most this (a few ulps: what rounding allows).
constexpr double kOrthonormalTolerance = 1e-14;
constexpr int kMaxPolarRounds = 100;

// Orthogonal polar factor R of the linear increment m (Newton rounds R := (R + R^-T) / 2 until R is
// orthonormal, at most 100), and t' = m c + t - R c, so that the centroid c lands where (m, t) puts it
// and R turns the entity about it. ok is false (translation not computed) when det R < 0 or R is not
// finite (m singular). When 100 rounds leave |det R| outside [0.999, 1.001], prints
// "DETERMINANT: %4.4f"; when they leave R not orthonormal, R is finished by SVD (R := U V^T).
RigidIncrement orthonormalizeIncrement(const Matrix33d& m, const Point3d& t, const Point3d& c);

// [R t; 0 0 0 1].
Matrix44d composeTransform(const Matrix33d& r, const Point3d& t);
// Upper-left 3x3 and last column of T.
void decomposeTransform(const Matrix44d& T, Matrix33d& r, Point3d& t);

// max |R^T R - I| over the nine entries.
double orthonormalityError(const Matrix33d& r);
