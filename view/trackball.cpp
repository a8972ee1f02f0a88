#include "trackball.h"

#include <Eigen/LU>
#include <algorithm>
#include <cmath>

void Trackball::setView(const Eigen::Matrix4d& projection, const Eigen::Matrix4d& modelView, int width,
                        int height) {
    projectionMatrix = projection;
    modelViewMatrix = modelView;
    viewWidth = std::max(width, 1);
    viewHeight = std::max(height, 1);
    const Eigen::Matrix4d vp = projection * modelView;
    // A degenerate view keeps the previous inverse, so the trackball never produces NaNs.
    if (std::abs(vp.determinant()) > 0.0)
        inverseViewProjection = vp.inverse();
}

Trackball::Mode Trackball::modeFor(int buttons) {
    switch (buttons) {
    case Left:
    case Middle | Alt:
        return Mode::Rotate;
    case Left | Control:
    case Middle:
        return Mode::Pan;
    case Left | Shift:
    case Wheel:
        return Mode::Scale;
    case Left | Alt:
        return Mode::AxisMove;
    default:
        return Mode::None;
    }
}

Eigen::Vector3d Trackball::viewAxis(int row) const {
    const Eigen::Vector3d axis = modelViewMatrix.block<1, 3>(row, 0).transpose();
    const double n = axis.norm();
    if (n == 0.0)
        return Eigen::Vector3d::Unit(row);
    return axis / n;
}

Eigen::Vector3d Trackball::planePoint(double x, double y) const {
    const double nx = 2.0 * x / viewWidth - 1.0;
    const double ny = 2.0 * y / viewHeight - 1.0;
    auto unproject = [this, nx, ny](double nz) {
        const Eigen::Vector4d h = inverseViewProjection * Eigen::Vector4d(nx, ny, nz, 1.0);
        return Eigen::Vector3d(h.head<3>() / (h.w() != 0.0 ? h.w() : 1.0));
    };
    const Eigen::Vector3d a = unproject(-1.0), b = unproject(1.0);
    const Eigen::Vector3d c = centerPoint.cast<double>();
    const Eigen::Vector3d n = viewAxis(2);
    const double denom = (b - a).dot(n);
    if (std::abs(denom) < 1e-300)
        return a;
    const double t = (c - a).dot(n) / denom;
    return a + t * (b - a);
}

Eigen::Vector3d Trackball::spherePoint(double x, double y) const {
    const Eigen::Vector3d c = centerPoint.cast<double>();
    const Eigen::Vector3d q = planePoint(x, y) - c; // lies in the plane facing the camera
    const double d = q.norm();
    const double r = std::max(double(sphereRadius), 1e-12);
    // Sphere near the centre, hyperbola r^2 / (2 d) beyond r / sqrt(2): equal height and slope where
    // they meet.
    const double h = d < r / std::sqrt(2.0) ? std::sqrt(r * r - d * d) : r * r / (2.0 * d);
    return c + q + h * viewAxis(2);
}

void Trackball::mouseDown(int x, int y, int buttons) {
    dragMode = modeFor(buttons);
    atPress = current;
    pressWindow = Eigen::Vector2d(x, y);
    if (dragMode == Mode::Rotate)
        pressPoint = spherePoint(x, y);
    else
        pressPoint = planePoint(x, y);
}

void Trackball::mouseMove(int x, int y) {
    const Eigen::Vector3d c = centerPoint.cast<double>();
    switch (dragMode) {
    case Mode::None:
        return;
    case Mode::Rotate: {
        const Eigen::Vector3d from = pressPoint - c, to = spherePoint(x, y) - c;
        if (from.norm() == 0.0 || to.norm() == 0.0)
            return;
        const Eigen::Quaterniond q = Eigen::Quaterniond::FromTwoVectors(from, to);
        current.s = atPress.s;
        current.rotation = (q * atPress.rotation).normalized();
        current.translation = q * (atPress.translation - c) + c;
        return;
    }
    case Mode::Pan:
        current = atPress;
        current.translation = atPress.translation + (planePoint(x, y) - pressPoint);
        return;
    case Mode::Scale: {
        const double f = std::pow(2.0, 4.0 * (y - pressWindow.y()) / viewHeight);
        current = atPress;
        current.s = atPress.s * f;
        current.translation = c + f * (atPress.translation - c);
        return;
    }
    case Mode::AxisMove: {
        const double distance = 4.0 * sphereRadius * (y - pressWindow.y()) / viewHeight;
        current = atPress;
        current.translation = atPress.translation + distance * viewAxis(2);
        return;
    }
    }
}

void Trackball::mouseUp(int, int, int) {
    dragMode = Mode::None;
}

void Trackball::mouseWheel(float notches, int buttons) {
    if (modeFor(buttons) != Mode::Scale || (buttons & Left))
        return;
    const double f = std::pow(WheelFactor, double(notches));
    const Eigen::Vector3d c = centerPoint.cast<double>();
    current.s *= f;
    current.translation = c + f * (current.translation - c);
}

Eigen::Matrix4d Trackball::matrix() const {
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.topLeftCorner<3, 3>() = current.s * current.rotation.toRotationMatrix();
    m.topRightCorner<3, 1>() = current.translation;
    return m;
}

float Trackball::scale() const {
    return float(current.s);
}

void Trackball::reset() {
    current = Similarity{};
    atPress = current;
    dragMode = Mode::None;
}
