#pragma once
// The virtual trackball of the 3D views: turns mouse drags and wheel notches into a rotation on a
// sphere, a pan, a uniform scale or a move along the view axis, kept as one similarity transform
// that the view multiplies into its model-view matrix.
//
// Button codes are OR-ed: Left 1, Middle 2, Right 4, Wheel 8, Shift 16, Control 32, Alt 64.
// Mapping: Left -> rotate on the sphere; Middle+Alt -> rotate; Left+Control -> pan; Middle -> pan;
// Wheel and Left+Shift -> uniform scale; Left+Alt -> move along the view axis; anything else
// (the right button, no button) -> nothing.
// Window coordinates: x from the left, y from the bottom of the view, in pixels.

#include <Eigen/Core>

class Trackball {
public:
    enum Button { Left = 1, Middle = 2, Right = 4, Wheel = 8, Shift = 16, Control = 32, Alt = 64 };

    // Where the view puts the trackball for this frame (before drawing): the view's projection and
    // model-view matrices (column vectors, OpenGL convention) and viewport size. The trackball's
    // sphere is centred at `center` (model-view coordinates before the trackball transform) with
    // the given radius.
    void setView(const Eigen::Matrix4d& projection, const Eigen::Matrix4d& modelView, int width, int height);
    void setCenter(const Eigen::Vector3f& c) { centerPoint = c; }
    void setRadius(float r) { sphereRadius = r; }
    Eigen::Vector3f center() const { return centerPoint; }
    float radius() const { return sphereRadius; }

    void mouseDown(int x, int y, int buttons);
    void mouseMove(int x, int y);
    void mouseUp(int x, int y, int buttons);
    void mouseWheel(float notches, int buttons);

    // The current similarity transform (rotation about the centre, translation, uniform scale)
    // to multiply into the model-view matrix.
    Eigen::Matrix4d matrix() const;
    // The uniform scale of the current transform (1 at start).
    float scale() const;
    // Back to the identity transform.
    void reset();

private:
    // Filled in by the implementation.
    Eigen::Vector3f centerPoint = Eigen::Vector3f::Zero();
    float sphereRadius = 1.0f;
};
