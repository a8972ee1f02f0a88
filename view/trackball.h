#pragma once
// The virtual trackball of the 3D views: turns mouse drags and wheel notches into a rotation on a
// sphere, a pan, a uniform scale or a move along the view axis, kept as one similarity transform
// that the view multiplies into its model-view matrix.
//
// Button codes are OR-ed: Left 1, Middle 2, Right 4, Wheel 8, Shift 16, Control 32, Alt 64.
// Mapping: Left -> rotate on the sphere; Middle+Alt -> rotate; Left+Control -> pan; Middle -> pan;
// Wheel and Left+Shift -> uniform scale; Left+Alt -> move along the view axis; anything else
// (the right button, no button) -> nothing. The code must match exactly (Left+Shift+Control, for
// instance, does nothing).
// Window coordinates: x from the left, y from the bottom of the view, in pixels.
//
// The motions, all measured in the trackball space (model-view coordinates before the trackball
// transform, where the sphere lives):
// - Rotate: the press and the current cursor position are mapped onto the sphere seen from the
//   camera: the ray through the pixel meets the plane through the centre facing the camera at an
//   offset d from the centre; the surface height is sqrt(r^2 - d^2) while d < r/sqrt(2) and
//   r^2 / (2 d) beyond (a hyperbolic sheet that joins the sphere smoothly). The rotation about the
//   centre that takes the first point's direction to the second one is applied after the
//   transform held at the press, so a drag to the right turns the front of the object to the right.
// - Pan: the point of that plane under the cursor at the press stays under the cursor.
// - Wheel: every notch multiplies the scale by 1.2 (positive notches, i.e. the wheel turned away
//   from the user, enlarge), about the centre.
// - Left+Shift: a vertical drag by a quarter of the view height up doubles the scale, down halves
//   it (factor 2^(4 dy / height)), about the centre.
// - Left+Alt: a vertical drag by half the view height moves the object one sphere diameter along
//   the view axis (up = towards the viewer).

#include <Eigen/Core>
#include <Eigen/Geometry>

class Trackball {
public:
    enum Button { Left = 1, Middle = 2, Right = 4, Wheel = 8, Shift = 16, Control = 32, Alt = 64 };
    enum class Mode { None, Rotate, Pan, Scale, AxisMove };

    // Factor per wheel notch.
    static constexpr double WheelFactor = 1.2;

    // Where the view puts the trackball for this frame (before drawing): the view's projection and
    // model-view matrices (column vectors, OpenGL convention), the model-view taken before the
    // trackball's matrix() is multiplied in, and the viewport size. The trackball's sphere is
    // centred at `center` (model-view coordinates before the trackball transform) with the given
    // radius.
    void setView(const Eigen::Matrix4d& projection, const Eigen::Matrix4d& modelView, int width, int height);
    void setCenter(const Eigen::Vector3f& c) { centerPoint = c; }
    void setRadius(float r) { sphereRadius = r; }
    Eigen::Vector3f center() const { return centerPoint; }
    float radius() const { return sphereRadius; }

    // The motion chosen by a button code (see the mapping above).
    static Mode modeFor(int buttons);

    void mouseDown(int x, int y, int buttons);
    void mouseMove(int x, int y);
    void mouseUp(int x, int y, int buttons);
    void mouseWheel(float notches, int buttons);
    // The motion of the drag in progress (None when no button is held).
    Mode currentMode() const { return dragMode; }

    // The current similarity transform (rotation about the centre, translation, uniform scale)
    // to multiply into the model-view matrix.
    Eigen::Matrix4d matrix() const;
    // The uniform scale of the current transform (1 at start).
    float scale() const;
    // Back to the identity transform.
    void reset();

private:
    // x -> s * rotation * x + translation.
    struct Similarity {
        double s = 1.0;
        Eigen::Quaterniond rotation = Eigen::Quaterniond::Identity();
        Eigen::Vector3d translation = Eigen::Vector3d::Zero();
    };

    // The point of the plane through the centre facing the camera under the window point.
    Eigen::Vector3d planePoint(double x, double y) const;
    // The window point lifted onto the sphere (or its hyperbolic sheet).
    Eigen::Vector3d spherePoint(double x, double y) const;
    // Camera axes in the trackball space (unit length).
    Eigen::Vector3d viewAxis(int row) const;

    Eigen::Vector3f centerPoint = Eigen::Vector3f::Zero();
    float sphereRadius = 1.0f;

    Eigen::Matrix4d projectionMatrix = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d modelViewMatrix = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d inverseViewProjection = Eigen::Matrix4d::Identity();
    int viewWidth = 1;
    int viewHeight = 1;

    Similarity current;
    Similarity atPress; // the transform when the drag started
    Mode dragMode = Mode::None;
    Eigen::Vector2d pressWindow = Eigen::Vector2d::Zero();
    Eigen::Vector3d pressPoint = Eigen::Vector3d::Zero(); // on the sphere or on the plane
};
