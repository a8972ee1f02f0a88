#pragma once
// Drawing of scene objects needs an OpenGL context, which the scene layer does not know. The view
// layer installs a SceneDrawer; until it does (and in display-less programs) drawing does nothing.

class Fragment;
class GeometrObj;
class Constraint;
struct ObjId;
class QPainter;

// The points a constraint side is drawn at: its samples, which move with the objects, or its
// reference samples, kept as they were recorded.
enum class SidePoints { Moved = 0, Recorded = 1 };

class SceneDrawer {
public:
    virtual ~SceneDrawer() = default;
    // The triangles of one fragment in its display colours (highlight colours when focused);
    // marked faces red when showMarkedFaces.
    virtual void drawFragment(Fragment& f, bool showMarkedFaces) = 0;
    virtual void drawFragmentPickColors(Fragment& f) = 0;
    // The markers and id labels of the constraints attached to o, and, for a group that is not a
    // wrapper, those of its members.
    virtual void drawConstraintMarkers(GeometrObj& o, QPainter* painter) = 0;
    virtual void drawConstraint(Constraint& c) = 0;
    virtual void drawConstraintSide(Constraint& c, const ObjId* side, float scale, SidePoints points) = 0;
    // Constraint::drawSide passes the points on as an integer: 0 for the moved ones.
    void drawConstraintSide(Constraint& c, const ObjId* side, float scale, int mode) {
        drawConstraintSide(c, side, scale, mode != 0 ? SidePoints::Recorded : SidePoints::Moved);
    }
    // The fragment is being destroyed: forget what was kept for drawing it.
    virtual void forgetFragment(const Fragment*) {}
};

// Not owned; null until the view layer installs one.
void setSceneDrawer(SceneDrawer* drawer);
SceneDrawer* sceneDrawer();
