#pragma once
// The camera every interactive view shares: a 40-degree perspective from (0, 0, 5) toward the
// origin, the scene fitted to a 2.5-unit diagonal, and the mouse mapped onto trackball codes.

#include <Eigen/Core>
#include <Qt>

namespace viewcamera {
constexpr double FieldOfViewDegrees = 40.0, NearPlane = 0.1, FarPlane = 100.0, EyeDistance = 5.0;
constexpr double FitDiagonal = 2.5;

// gluPerspective's matrix (column vectors).
Eigen::Matrix4d perspective(double fovyDegrees, double aspect, double zNear, double zFar);
// The views' projection for a widget of that aspect ratio.
Eigen::Matrix4d projection(double aspect);
// The eye at (0, 0, EyeDistance) looking at the origin, y up.
Eigen::Matrix4d lookAtOrigin();
// gluLookAt's matrix (column vectors); up must not be parallel to target - eye.
Eigen::Matrix4d lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target, const Eigen::Vector3d& up);
// glOrtho's matrix (column vectors).
Eigen::Matrix4d orthographic(double left, double right, double bottom, double top, double zNear, double zFar);
// Trackball button code (Trackball::Left, ...) of Qt's buttons and modifiers.
int trackballButtons(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
} // namespace viewcamera
