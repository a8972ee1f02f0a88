#include "prev_gl_area.h"

#include "current_context.h"
#include "frag_group.h"
#include "geometr_obj.h"
#include "gl_functions.h"
#include "scene_lighting.h"
#include "scene_renderer.h"

#include <Eigen/Geometry>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_2_1>
#include <QtDebug>
#include <algorithm>
#include <cmath>

namespace {

// gluLookAt's matrix (column vectors), for an eye, a target and an up direction.
Eigen::Matrix4d lookAt(const Eigen::Vector3d& eye, const Eigen::Vector3d& target, Eigen::Vector3d up) {
    const Eigen::Vector3d f = (target - eye).normalized();
    Eigen::Vector3d s = f.cross(up);
    if (s.norm() < 1e-12 * std::max(1.0, f.norm())) {
        // Looking straight up or down the y axis: any other up direction gives the same picture
        // up to a turn.
        up = Eigen::Vector3d::UnitZ();
        s = f.cross(up);
    }
    s.normalize();
    const Eigen::Vector3d u = s.cross(f);
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m.block<1, 3>(0, 0) = s.transpose();
    m.block<1, 3>(1, 0) = u.transpose();
    m.block<1, 3>(2, 0) = -f.transpose();
    m.block<3, 1>(0, 3) = -(m.topLeftCorner<3, 3>() * eye);
    return m;
}

// Focus flags of o and everything inside it, in pre-order.
void collectFocus(GeometrObj* o, std::vector<std::pair<GeometrObj*, bool>>& out) {
    out.emplace_back(o, o->isFocused());
    if (auto* g = dynamic_cast<FragGroup*>(o))
        for (const auto& [id, child] : g->childMap())
            collectFocus(child, out);
}

} // namespace

PrevGLArea::PrevGLArea() = default;

PrevGLArea::~PrevGLArea() {
    if (context && fbo) {
        // The framebuffer's names belong to the context: free them while it is current.
        const CurrentContextScope scope(*context, *surface);
        if (scope.isCurrent())
            fbo.reset();
    }
    fbo.reset();
}

bool PrevGLArea::ensureContext() {
    if (tried)
        return context != nullptr;
    tried = true;
    QOpenGLContext* share = QOpenGLContext::globalShareContext();
    if (!share)
        qWarning("Thumbnails: no global share context (Qt::AA_ShareOpenGLContexts was not set before the "
                 "QApplication); thumbnails upload their own copies of the meshes.");
    auto ctx = std::make_unique<QOpenGLContext>();
    ctx->setFormat(share ? share->format() : QSurfaceFormat::defaultFormat());
    ctx->setShareContext(share);
    if (!ctx->create()) {
        qWarning("Thumbnails: cannot create an OpenGL context; thumbnails stay empty.");
        return false;
    }
    auto off = std::make_unique<QOffscreenSurface>();
    off->setFormat(ctx->format());
    off->create();
    if (!off->isValid()) {
        qWarning("Thumbnails: cannot create an off-screen surface; thumbnails stay empty.");
        return false;
    }
    context = std::move(ctx);
    surface = std::move(off);
    return true;
}

bool PrevGLArea::checkFunctions() {
    if (checked)
        return usable;
    checked = true;
    const QSurfaceFormat f = context->format();
    if (f.profile() == QSurfaceFormat::CoreProfile) {
        qWarning("Thumbnails: the OpenGL context is a %d.%d core profile, which cannot draw fixed-function "
                 "OpenGL; ask for version 2.1 (or a compatibility profile with deprecated functions) in "
                 "the default surface format. Thumbnails stay empty.",
                 f.majorVersion(), f.minorVersion());
        return false;
    }
    gl = fixedFunctionsOf(context.get());
    if (!gl) {
        qWarning("Thumbnails: the OpenGL context (%d.%d) offers no OpenGL 2.1 compatibility functions; "
                 "thumbnails stay empty.",
                 f.majorVersion(), f.minorVersion());
        return false;
    }
    installSceneRenderer();
    usable = true;
    return true;
}

QImage PrevGLArea::render(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (!ensureContext())
        return {};
    const CurrentContextScope scope(*context, *surface);
    if (!scope.isCurrent()) {
        qWarning("Thumbnails: cannot make the thumbnail context current.");
        return {};
    }
    QImage picture;
    if (checkFunctions()) {
        if (!fbo || fbo->size() != QSize(width, height)) {
            fbo.reset();
            fbo = std::make_unique<QOpenGLFramebufferObject>(QSize(width, height),
                                                             QOpenGLFramebufferObject::Depth);
        }
        if (fbo->isValid() && fbo->bind()) {
            gl->glViewport(0, 0, width, height);
            initializeGL();
            paintGL();
            picture = fbo->toImage();
            fbo->release();
        } else {
            qWarning("Thumbnails: the %dx%d framebuffer object is not complete.", width, height);
        }
    }
    return picture;
}

void PrevGLArea::initializeGL() {
    gl->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    applySceneLighting(*gl); // as the views draw
}

void PrevGLArea::paintGL() {
    // Cleared even without an object: the framebuffer still holds the previous thumbnail.
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!object)
        return;
    const Box3d b = object->getMeshBBox();
    const double d = b.diag();
    if (b.isNull() || !(d > 0.0) || !std::isfinite(d))
        return;
    const Eigen::Vector3d c = b.center();
    const Eigen::Vector3d eye(0.0, 0.0, d);
    const double f = (eye - c).norm() + d;

    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadIdentity();
    gl->glOrtho(-d / 2, d / 2, -d / 2, d / 2, f / 100, 2 * f);
    gl->glMatrixMode(GL_MODELVIEW);
    const Eigen::Matrix4d view = lookAt(eye, c, Eigen::Vector3d::UnitY());
    gl->glLoadMatrixd(view.data()); // Eigen is column-major, as OpenGL wants

    // A thumbnail shows the object's own colours, not the highlight of a current selection. A
    // group passes its flag down to its members, so the flags go back in pre-order.
    std::vector<std::pair<GeometrObj*, bool>> focus;
    collectFocus(object, focus);
    object->setFocused(false);
    gl->glPushAttrib(GL_ALL_ATTRIB_BITS);
    object->draw(true);
    gl->glPopAttrib();
    for (const auto& [o, focused] : focus)
        o->setFocused(focused);
    makeDrawnPixelsOpaque();
}

void PrevGLArea::makeDrawnPixelsOpaque() {
    // The objects' display colours carry alpha 1/255 (the lit alpha is the colour's), which would
    // leave the picture all but invisible on its transparent background. Where the object was
    // drawn the depth buffer holds less than 1 (the whole object lies in the nearer half of the
    // depth range), elsewhere the cleared 1: a quad just in front of the far plane, tested with
    // GL_GREATER and writing only alpha, sets alpha 1 exactly on the object's pixels.
    gl->glPushAttrib(GL_ALL_ATTRIB_BITS);
    gl->glDisable(GL_LIGHTING);
    gl->glDisable(GL_CULL_FACE);
    gl->glDisable(GL_BLEND);
    gl->glDisable(GL_TEXTURE_2D);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthFunc(GL_GREATER);
    gl->glDepthMask(GL_FALSE);
    gl->glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glPushMatrix();
    gl->glLoadIdentity();
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glPushMatrix();
    gl->glLoadIdentity();
    const float z = 0.9f; // depth 0.95
    gl->glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    gl->glBegin(GL_QUADS);
    gl->glVertex3f(-1.0f, -1.0f, z);
    gl->glVertex3f(1.0f, -1.0f, z);
    gl->glVertex3f(1.0f, 1.0f, z);
    gl->glVertex3f(-1.0f, 1.0f, z);
    gl->glEnd();
    gl->glPopMatrix();
    gl->glMatrixMode(GL_PROJECTION);
    gl->glPopMatrix();
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glPopAttrib();
}
