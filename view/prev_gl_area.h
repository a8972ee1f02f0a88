#pragma once
// Off-screen renderer of the thumbnails: an orthographic picture of one object, looked at from
// (0, 0, D) toward the centre of its mesh box (D = the box diagonal, which fills the width), lit by
// light 0 on both sides of every triangle as the views light it, on a transparent black background,
// opaque where the object is, marked faces red, in the object's own colours even while it is
// focused (its focus flags are the same afterwards).
//
// It draws in an OpenGL context of its own that shares with QOpenGLContext::globalShareContext()
// (so the mesh buffers the views uploaded are reused; set Qt::AA_ShareOpenGLContexts before the
// QApplication), on an off-screen surface, into a framebuffer object with a depth buffer and no
// multisampling. Context, surface and framebuffer are made on the first render and kept, so that
// refreshing every thumbnail after a solve costs one draw and one read-back per object.
// GUI thread only.

#include <QImage>
#include <memory>

class GeometrObj;
class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QOpenGLFunctions_2_1;

class PrevGLArea {
public:
    PrevGLArea();
    ~PrevGLArea();
    PrevGLArea(const PrevGLArea&) = delete;
    PrevGLArea& operator=(const PrevGLArea&) = delete;

    // The object of the next render; not owned, may be null. Nothing is drawn until render().
    void setObject(GeometrObj* o) { object = o; }
    GeometrObj* getObject() const { return object; }

    // The picture of the object, width x height pixels (ARGB with alpha: transparent where
    // nothing was drawn). Without an object, or with an object whose box is empty or a single
    // point, a fully transparent picture. Null when no OpenGL context could be made. The context
    // current before the call is current again afterwards.
    QImage render(int width = 120, int height = 120);

    // False when the context could not be made or cannot draw fixed-function OpenGL (a core
    // profile); a warning went to the debug output then. Known after the first render().
    bool isUsable() const { return usable; }

private:
    // The context and its surface, made once.
    bool ensureContext();
    // With the context current: it can draw fixed-function OpenGL (checked once, warns if not).
    bool checkFunctions();
    // The GL state of every thumbnail, then the camera and the drawing, on the current framebuffer.
    void initializeGL();
    void paintGL();
    // Alpha 1 on every pixel the object covers.
    void makeDrawnPixelsOpaque();

    GeometrObj* object = nullptr;
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    QOpenGLFunctions_2_1* gl = nullptr; // owned by context
    bool tried = false;
    bool checked = false;
    bool usable = false;
};
