#pragma once
// Base of the interactive 3D views (the working areas and the solved view): a fixed perspective
// camera with the scene fitted in front of it, a trackball driven by the mouse, and, while a
// constraint is being added, the turning of a click into a picked surface point on a picked
// object.

#include "constraint.h"
#include "geometry_types.h"
#include "trackball.h"
#include "view_labels.h"

#include <QOpenGLWidget>
#include <QPoint>
#include <QPointF>
#include <array>
#include <memory>
#include <optional>
#include <vector>

class BaseGraph;
class FragGroup;
class GeometrObj;
class ViewListener;
class QOpenGLFunctions_2_1;
class QPainter;

class IGLArea : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit IGLArea(QWidget* parent = nullptr);
    ~IGLArea() override;

    // Empties the area as clearContent does.
    virtual void reset() = 0;
    virtual bool isEmpty() const = 0;
    // The box the scene is fitted to, and the point moved to the origin.
    virtual Box3d contentBox() const = 0;
    virtual Point3f contentCenter() const = 0;
    virtual void clearContent() = 0;
    // Entering or leaving pick mode forgets recorded clicks and sets the cursor.
    virtual void setPickMode(bool on);
    // Draws what is shown. The model-view matrix is already the scene's (fitted, and centred on
    // contentCenter) and remembered for picking and labels: a view only draws here.
    virtual void drawContent() = 0;
    // Turns the first recorded click into a pick: at the press, on the frame last drawn, and again
    // in each frame drawn while the button is held over the background.
    virtual void processPick();
    // The whole frame: camera, trackball, fit, content, overlay, then picking.
    virtual void paintScene(QPainter* painter);
    // Constraints and their labels.
    virtual void paintOverlay(QPainter* painter) = 0;
    // The object under the first recorded click; hits receives its faces under the pixel.
    virtual GeometrObj* pickObject(std::vector<std::uint32_t>& hits) = 0;
    // A temporary group holding every fragment of the area, with fresh pick codes (the
    // interpenetration view's input).
    virtual std::unique_ptr<FragGroup> makeFragmentGroup() = 0;

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(ViewListener* l) { listener = l; }
    bool inPickMode() const { return pickMode; }
    void setShowError(bool show) { showError = show; }
    bool showsError() const { return showError; }
    void setConstraintType(ConstraintType type) { constraintType = type; }
    Trackball& viewTrackball() { return trackball; }
    // Frames painted so far (tests wait on it to know a repaint happened).
    int paintCount() const { return paints; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

    // The object search of a pick: a fragment answers when one of its faces lies under (x, y);
    // a group asks its children in id order and answers the first hit.
    GeometrObj* searchPick(GeometrObj* g, int x, int y, std::vector<std::uint32_t>& hits);
    // The label of a constraint side at scene point p, beside the sphere of sphereRadius (scene
    // units, 0 for none) drawn there, projected with this frame's matrices; drawn once the GL part
    // of the frame is done.
    void queueLabel(const Point3d& p, double sphereRadius, const QString& text);
    // 2D drawing after the GL part of the frame (the queued labels are already drawn).
    virtual void paintLabels(QPainter*) {}
    QOpenGLFunctions_2_1* gl() const { return functions; }

    // Window position (x from the left, y from the bottom) of the centre of the pixel under a
    // mouse position given in Qt's widget coordinates.
    QPointF pixelCentreUnder(const QPointF& position) const;
    // The framebuffer pixel of the first recorded click (device pixels, y from the bottom).
    QPoint clickedPixel() const;

    // The first point of the constraint being added, while the second is awaited.
    struct FirstPick {
        Point3d at;
        float radius; // at the trackball's scale 1
    };
    std::optional<FirstPick> firstPick;
    bool pickMode = false;
    bool showError = true;
    BaseGraph* graph = nullptr;       // not owned
    ViewListener* listener = nullptr; // not owned
    Trackball trackball;
    bool mousePressed = false;
    std::vector<QPointF> clicks; // pixel centres, x from the left, y from the bottom
    ConstraintType constraintType = ConstraintType::None;

private:
    struct SurfacePick {
        GeometrObj* object; // null where the lit pixel is no fragment's surface
        Point3d point;      // scene coordinates
    };
    // The surface under the first recorded click in the frame last drawn (its context current),
    // which the click is then consumed by; nothing over the background, where the click stays.
    std::optional<SurfacePick> pickUnderClick();
    // Hands an accepted pick to the listener, or tells it why the click picked nothing.
    void acceptPick(const SurfacePick& pick);
    void setUpLighting();

    QOpenGLFunctions_2_1* functions = nullptr;
    Eigen::Matrix4d projection = Eigen::Matrix4d::Identity();
    Eigen::Matrix4d sceneModelView = Eigen::Matrix4d::Identity();
    std::array<int, 4> viewport{0, 0, 1, 1};
    float pickDepth = 1.0f; // depth buffer at the click being picked
    std::vector<LabelSpot> labels;
    int paints = 0;
};
