#include "igl_area.h"

#include "base_graph.h"
#include "face_picking.h"
#include "frag_group.h"
#include "fragment.h"
#include "gl_functions.h"
#include "rband.h"
#include "scene_lighting.h"
#include "scene_renderer.h"
#include "view_camera.h"
#include "view_labels.h"
#include "view_listener.h"

#include <QDebug>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_2_1>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

using namespace viewcamera;

namespace {
// A colour that neither the bands (red to green, yellow when focused) nor the interpenetration
// marks (red) take, so the first point shows on any of them.
const Color4b FirstPickColour{0, 255, 255, 255};
} // namespace

IGLArea::IGLArea(QWidget* parent) : QOpenGLWidget(parent) {
    setFocusPolicy(Qt::ClickFocus);
}

IGLArea::~IGLArea() = default;

void IGLArea::initializeGL() {
    QOpenGLContext* ctx = context();
    if (ctx->format().profile() == QSurfaceFormat::CoreProfile)
        qWarning()
            << "Ostrakit needs an OpenGL compatibility context; the views got a core profile context and "
               "will draw nothing";
    functions = fixedFunctionsOf(ctx);
    if (!functions) {
        qWarning() << "Ostrakit needs OpenGL 2.1 fixed-function drawing, which this context does not offer";
        return;
    }
    installSceneRenderer();
    setUpLighting();
    update();
}

void IGLArea::setUpLighting() {
    if (!functions)
        return;
    functions->glClearColor(0, 0, 0, 0);
    applySceneLighting(*functions);
}

void IGLArea::resizeGL(int w, int h) {
    if (!functions)
        return;
    const qreal ratio = devicePixelRatioF();
    functions->glViewport(0, 0, int(w * ratio), int(h * ratio));
    setUpLighting();
}

void IGLArea::setPickMode(bool on) {
    clicks.clear();
    firstPick.reset();
    pickMode = on;
    setCursor(on ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void IGLArea::paintGL() {
    ++paints;
    if (!functions)
        return;
    labels.clear();
    QPainter painter(this);
    painter.beginNativePainting();
    paintScene(&painter);
    painter.endNativePainting();
    drawLabels(painter, labels);
    paintLabels(&painter);
}

void IGLArea::paintScene(QPainter* painter) {
    QOpenGLFunctions_2_1& f = *functions;
    f.glClearColor(0, 0, 0, 1);
    f.glEnable(GL_DEPTH_TEST);
    f.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    applySceneLighting(f);

    const qreal ratio = devicePixelRatioF();
    viewport = {0, 0, int(width() * ratio), int(height() * ratio)};
    f.glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    const double aspect = height() > 0 ? double(width()) / double(height()) : 1.0;
    projection = viewcamera::projection(aspect);
    f.glMatrixMode(GL_PROJECTION);
    f.glLoadMatrixd(projection.data());

    const Eigen::Matrix4d camera = lookAtOrigin();
    trackball.setCenter(Eigen::Vector3f::Zero());
    trackball.setRadius(float(aspect));
    trackball.setView(projection, camera, viewport[2], viewport[3]);
    Eigen::Matrix4d modelView = camera * trackball.matrix();
    f.glMatrixMode(GL_MODELVIEW);
    f.glLoadMatrixd(modelView.data());
    sceneModelView = modelView;

    if (!isEmpty()) {
        const Box3d box = contentBox();
        const double diagonal = (box.max - box.min).norm();
        const double s = diagonal > 0 ? FitDiagonal / diagonal : 1.0;
        f.glScaled(s, s, s);
        const Point3d centre = contentCenter().cast<double>();
        f.glTranslated(-centre.x(), -centre.y(), -centre.z());
        f.glGetDoublev(GL_MODELVIEW_MATRIX, sceneModelView.data());
        drawContent();
        paintOverlay(painter);
        if (firstPick)
            drawSphere(f, firstPick->at, firstPick->radius / trackball.scale(), FirstPickColour);
        if (pickMode && mousePressed)
            processPick();
    }
    // QPainter draws after this frame; leave it the state it expects.
    f.glDisable(GL_DEPTH_TEST);
    f.glDisable(GL_LIGHTING);
    f.glDisable(GL_COLOR_MATERIAL);
    f.glMatrixMode(GL_PROJECTION);
    f.glLoadIdentity();
    f.glMatrixMode(GL_MODELVIEW);
    f.glLoadIdentity();
}

void IGLArea::processPick() {
    if (const std::optional<SurfacePick> pick = pickUnderClick())
        acceptPick(*pick);
}

std::optional<IGLArea::SurfacePick> IGLArea::pickUnderClick() {
    if (clicks.empty() || constraintType != ConstraintType::RubberBand || !functions)
        return std::nullopt;
    const QPoint pixel = clickedPixel();
    const int x = pixel.x(), y = pixel.y();
    QOpenGLFunctions_2_1& f = *functions;
    float depth = 1.0f;
    f.glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    pickDepth = depth;
    double range[2] = {0.0, 1.0};
    f.glGetDoublev(GL_DEPTH_RANGE, range);
    if (double(depth) >= range[1])
        return std::nullopt; // the background: the click stays until the release clears it
    // The picked point: the pixel's centre at the depth read, back in scene coordinates.
    const Eigen::Vector4d ndc((x + 0.5 - viewport[0]) / viewport[2] * 2.0 - 1.0,
                              (y + 0.5 - viewport[1]) / viewport[3] * 2.0 - 1.0,
                              (double(depth) - range[0]) / (range[1] - range[0]) * 2.0 - 1.0, 1.0);
    const Eigen::Vector4d world = (projection * sceneModelView).inverse() * ndc;
    std::vector<std::uint32_t> hits;
    SurfacePick pick{pickObject(hits), world.head<3>() / world.w()};
    clicks.clear();
    return pick;
}

void IGLArea::acceptPick(const SurfacePick& pick) {
    GeometrObj* o = pick.object;
    if (!listener)
        return;
    if (!o || !listener->isNotLastPicked(o)) {
        // Lit, but not a fragment's surface (a constraint's sphere, say), or the object picked
        // first again.
        listener->pickMissed(o ? ViewListener::PickMiss::SameObject : ViewListener::PickMiss::NoSurface);
        return;
    }
    GeometrObj* parentObject = graph ? graph->getObject(o->objId().parent) : nullptr;
    if (!parentObject)
        return;
    const Point3d& p = pick.point;
    listener->addConstraintPick(o->objId(), p.x(), p.y(), p.z(), parentObject->objId());
    listener->joinConstraintPicks();
    listener->setLastPicked(o);
    // Still picking: this was the first point, shown where it was made until the second comes.
    if (pickMode) {
        firstPick = FirstPick{p, RBand::radiusFor(*parentObject)};
        update();
    }
}

GeometrObj* IGLArea::searchPick(GeometrObj* g, int x, int y, std::vector<std::uint32_t>& hits) {
    if (!g)
        return nullptr;
    if (auto* fragment = dynamic_cast<Fragment*>(g)) {
        hits = pickVisibleFaces(fragment->mesh(), x, y, projection, sceneModelView, viewport, pickDepth);
        return hits.empty() ? nullptr : g;
    }
    if (auto* group = dynamic_cast<FragGroup*>(g))
        for (const auto& [id, child] : group->childMap())
            if (GeometrObj* hit = searchPick(child, x, y, hits))
                return hit;
    return nullptr;
}

QPointF IGLArea::pixelCentreUnder(const QPointF& position) const {
    // The pixel in row r from the top is row height - 1 - r from the bottom.
    return {std::floor(position.x()) + 0.5, height() - std::floor(position.y()) - 0.5};
}

QPoint IGLArea::clickedPixel() const {
    const qreal ratio = devicePixelRatioF();
    return {int(std::floor(clicks.front().x() * ratio)), int(std::floor(clicks.front().y() * ratio))};
}

void IGLArea::mousePressEvent(QMouseEvent* e) {
    e->accept();
    setFocus(Qt::OtherFocusReason);
    trackball.mouseDown(int(e->position().x()), int(height() - e->position().y()),
                        trackballButtons(e->button(), e->modifiers()));
    mousePressed = true;
    if (pickMode && constraintType == ConstraintType::RubberBand) {
        clicks.push_back(pixelCentreUnder(e->position()));
        // Picked at once on the frame the user clicked on (its depth buffer and matrices are
        // kept): a quick click is often released before the next frame is drawn.
        if (paints > 0 && functions) {
            makeCurrent();
            const std::optional<SurfacePick> pick = pickUnderClick();
            doneCurrent();
            if (pick)
                acceptPick(*pick);
        }
    }
    update();
}

void IGLArea::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() == Qt::NoButton || !mousePressed)
        return;
    if (!pickMode)
        trackball.mouseMove(int(e->position().x()), int(height() - e->position().y()));
    update();
}

void IGLArea::mouseReleaseEvent(QMouseEvent* e) {
    trackball.mouseUp(int(e->position().x()), int(height() - e->position().y()),
                      trackballButtons(e->button(), e->modifiers()));
    mousePressed = false;
    // A click that picked nothing changes nothing but a word to the user: the window keeps its
    // last accepted pick, which processPick reported when it was made.
    if (pickMode && !clicks.empty() && listener)
        listener->pickMissed(ViewListener::PickMiss::NoSurface); // the background
    if (pickMode)
        clicks.clear();
    update();
}

void IGLArea::wheelEvent(QWheelEvent* e) {
    const float notches = float(e->angleDelta().y()) / 120.0f;
    if (!pickMode)
        trackball.mouseWheel(notches, Trackball::Wheel | trackballButtons(Qt::NoButton, e->modifiers()));
    update();
}

void IGLArea::queueLabel(const Point3d& p, double sphereRadius, const QString& text) {
    WindowDisc disc;
    if (projectDisc(p, sphereRadius, projection, sceneModelView, viewport, disc))
        labels.push_back(labelSpot(disc, height(), devicePixelRatioF(), text));
}
