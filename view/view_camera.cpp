#include "view_camera.h"

#include "trackball.h"

#include <Eigen/Geometry>
#include <cmath>

namespace viewcamera {

Eigen::Matrix4d perspective(double fovyDegrees, double aspect, double zNear, double zFar) {
    const double f = 1.0 / std::tan(fovyDegrees * M_PI / 360.0);
    Eigen::Matrix4d m = Eigen::Matrix4d::Zero();
    m(0, 0) = f / aspect;
    m(1, 1) = f;
    m(2, 2) = (zFar + zNear) / (zNear - zFar);
    m(2, 3) = 2.0 * zFar * zNear / (zNear - zFar);
    m(3, 2) = -1.0;
    return m;
}

Eigen::Matrix4d projection(double aspect) {
    return perspective(FieldOfViewDegrees, aspect, NearPlane, FarPlane);
}

Eigen::Matrix4d lookAtOrigin() {
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(2, 3) = -EyeDistance;
    return m;
}

Eigen::Matrix4d lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target, const Eigen::Vector3d& up) {
    const Eigen::Vector3d forward = (target - eye).normalized();
    const Eigen::Vector3d side = forward.cross(up).normalized();
    const Eigen::Vector3d trueUp = side.cross(forward);
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.row(0).head<3>() = side;
    m.row(1).head<3>() = trueUp;
    m.row(2).head<3>() = -forward;
    m.col(3).head<3>() = -(m.topLeftCorner<3, 3>() * eye);
    return m;
}

Eigen::Matrix4d orthographic(double left, double right, double bottom, double top, double zNear,
                             double zFar) {
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 0) = 2.0 / (right - left);
    m(1, 1) = 2.0 / (top - bottom);
    m(2, 2) = -2.0 / (zFar - zNear);
    m(0, 3) = -(right + left) / (right - left);
    m(1, 3) = -(top + bottom) / (top - bottom);
    m(2, 3) = -(zFar + zNear) / (zFar - zNear);
    return m;
}

int trackballButtons(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (buttons & Qt::LeftButton)
        code |= Trackball::Left;
    if (buttons & Qt::MiddleButton)
        code |= Trackball::Middle;
    if (buttons & Qt::RightButton)
        code |= Trackball::Right;
    if (modifiers & Qt::ShiftModifier)
        code |= Trackball::Shift;
    if (modifiers & Qt::ControlModifier)
        code |= Trackball::Control;
    if (modifiers & Qt::AltModifier)
        code |= Trackball::Alt;
    return code;
}

} // namespace viewcamera
