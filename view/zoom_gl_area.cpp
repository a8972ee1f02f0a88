#include "zoom_gl_area.h"

#include "geometr_obj.h"
#include "scene_lighting.h"
#include "scene_renderer.h"
#include "view_camera.h"
#include "view_labels.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QPainter>
#include <QWheelEvent>
#include <QtDebug>
#include <cmath>

using namespace viewcamera;

ZoomGLArea::ZoomGLArea(QWidget* parent) : QOpenGLWidget(parent) {
    setFocusPolicy(Qt::ClickFocus);
}

ZoomGLArea::~ZoomGLArea() = default;

void ZoomGLArea::setObject(GeometrObj* o) {
    object = o;
    titleText = o ? o->displayName() : QString();
    update();
}

void ZoomGLArea::initializeGL() {
    QOpenGLContext* ctx = context();
    if (ctx->format().profile() == QSurfaceFormat::CoreProfile)
        qWarning() << "Zoom view: the OpenGL context is a core profile, which cannot draw fixed-function "
                      "OpenGL; ask for version 2.1 in the default surface format. The view stays empty.";
    gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(ctx);
    if (gl && !gl->initializeOpenGLFunctions())
        gl = nullptr;
    if (!gl) {
        qWarning() << "Zoom view: the OpenGL context offers no OpenGL 2.1 compatibility functions; the view "
                      "stays empty.";
        return;
    }
    installSceneRenderer();
    setUpLighting();
    update();
}

void ZoomGLArea::setUpLighting() {
    gl->glClearColor(0, 0, 0, 0);
    applySceneLighting(*gl);
}

void ZoomGLArea::resizeGL(int w, int h) {
    if (!gl)
        return;
    const qreal ratio = devicePixelRatioF();
    gl->glViewport(0, 0, int(w * ratio), int(h * ratio));
    setUpLighting();
}

void ZoomGLArea::paintGL() {
    ++paints;
    QPainter painter(this);
    if (gl) {
        painter.beginNativePainting();
        // Everything the scene changes is put back before the painter draws again (its text
        // vanishes with depth testing left on).
        gl->glPushAttrib(GL_ALL_ATTRIB_BITS);
        gl->glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        gl->glMatrixMode(GL_PROJECTION);
        gl->glPushMatrix();
        gl->glMatrixMode(GL_MODELVIEW);
        gl->glPushMatrix();
        paintScene(&painter);
        gl->glMatrixMode(GL_PROJECTION);
        gl->glPopMatrix();
        gl->glMatrixMode(GL_MODELVIEW);
        gl->glPopMatrix();
        gl->glPopClientAttrib();
        gl->glPopAttrib();
        gl->glDisable(GL_DEPTH_TEST);
        gl->glDisable(GL_LIGHTING);
        gl->glDisable(GL_CULL_FACE);
        painter.endNativePainting();
    }
    drawCornerLabel(painter, titleText);
}

void ZoomGLArea::paintScene(QPainter* painter) {
    const qreal ratio = devicePixelRatioF();
    const int w = std::max(width(), 1), h = std::max(height(), 1);
    gl->glViewport(0, 0, int(w * ratio), int(h * ratio));
    gl->glClearColor(0, 0, 0, 1);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthMask(GL_TRUE);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    applySceneLighting(*gl);

    const double aspect = double(w) / double(h);
    const Eigen::Matrix4d projection = viewcamera::projection(aspect);
    const Eigen::Matrix4d view = lookAtOrigin();
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadMatrixd(projection.data());
    gl->glMatrixMode(GL_MODELVIEW);

    trackball.setCenter(Eigen::Vector3f::Zero());
    trackball.setRadius(float(aspect));
    trackball.setView(projection, view, w, h);
    const Eigen::Matrix4d modelView = view * trackball.matrix();
    gl->glLoadMatrixd(modelView.data());
    if (!object)
        return;

    const Box3d b = object->getBBox();
    const double d = b.diag();
    if (d > 0.0 && std::isfinite(d)) {
        const double s = FitDiagonal / d;
        gl->glScaled(s, s, s);
        const Point3d c = b.center();
        gl->glTranslated(-c.x(), -c.y(), -c.z());
    }
    object->drawHighlighted(true);
    object->drawConstraints(painter);
}

void ZoomGLArea::mousePressEvent(QMouseEvent* e) {
    e->accept();
    setFocus(Qt::OtherFocusReason);
    const QPoint p = e->position().toPoint();
    trackball.mouseDown(p.x(), height() - p.y(), trackballButtons(e->button(), e->modifiers()));
    mousePressed = true;
    update();
}

void ZoomGLArea::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() == Qt::NoButton || !mousePressed)
        return;
    const QPoint p = e->position().toPoint();
    trackball.mouseMove(p.x(), height() - p.y());
    update();
}

void ZoomGLArea::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    trackball.mouseUp(p.x(), height() - p.y(), trackballButtons(e->button(), e->modifiers()));
    mousePressed = false;
    update();
}

void ZoomGLArea::wheelEvent(QWheelEvent* e) {
    const float notches = float(e->angleDelta().y()) / 120.0f;
    trackball.mouseWheel(notches, Trackball::Wheel | trackballButtons(Qt::NoButton, e->modifiers()));
    update();
}
