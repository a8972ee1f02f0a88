#pragma once
// A real OpenGL context (sharing with the application's global share context, as the views do)
// rendering into a framebuffer object, with the lighting the views set up, and helpers to build
// meshes and read pixels back exactly.

#include "fragment.h"
#include "gl_defaults.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QSurfaceFormat>
#include <memory>
#include <vector>

class GlCanvas {
public:
    static constexpr int Size = 200;

    bool create() {
        surface.setFormat(QSurfaceFormat::defaultFormat());
        surface.create();
        context.setShareContext(QOpenGLContext::globalShareContext());
        context.setFormat(QSurfaceFormat::defaultFormat());
        if (!context.create() || !context.makeCurrent(&surface))
            return false;
        gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(&context);
        if (!gl || !gl->initializeOpenGLFunctions())
            return false;
        fbo = std::make_unique<QOpenGLFramebufferObject>(Size, Size, QOpenGLFramebufferObject::Depth);
        return fbo->isValid();
    }

    // A cleared frame with the views' lighting, an orthographic camera showing [-1, 1]^2 and
    // identity model-view.
    void begin() {
        context.makeCurrent(&surface);
        fbo->bind();
        gl->glViewport(0, 0, Size, Size);
        gl->glClearColor(0, 0, 0, 1);
        gl->glEnable(GL_DEPTH_TEST);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl->glEnable(GL_LIGHTING);
        gl->glEnable(GL_LIGHT0);
        gl->glEnable(GL_NORMALIZE);
        gl->glEnable(GL_COLOR_MATERIAL);
        gl->glDisable(GL_CULL_FACE);
        gl->glMatrixMode(GL_PROJECTION);
        gl->glLoadIdentity();
        gl->glOrtho(-1, 1, -1, 1, -10, 10);
        gl->glMatrixMode(GL_MODELVIEW);
        gl->glLoadIdentity();
    }

    // The whole frame, bottom row first.
    std::vector<Color4b> pixels() {
        gl->glFinish();
        std::vector<Color4b> out(Size * Size);
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glReadPixels(0, 0, Size, Size, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }
    Color4b pixel(int x, int y) {
        Color4b c;
        gl->glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &c);
        return c;
    }
    // The pixel over the scene point (x, y) of the orthographic camera.
    Color4b at(double x, double y) { return pixel(int((x + 1.0) * Size / 2), int((y + 1.0) * Size / 2)); }

    QOffscreenSurface surface;
    QOpenGLContext context;
    QOpenGLFunctions_2_1* gl = nullptr;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
};

// Colour c lit by the views' light (light 0 from +z, global ambient 0.2) on a face turned to it.
inline Color4b litFront(Color4b c) {
    auto channel = [](int v) { return std::uint8_t(std::min(255, int(v * 1.2 + 0.5))); };
    return {channel(c.r), channel(c.g), channel(c.b), 0};
}

inline bool sameRgb(Color4b a, Color4b b, int tolerance = 2) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

inline QByteArray describe(Color4b c) {
    return QByteArray::number(c.r) + ' ' + QByteArray::number(c.g) + ' ' + QByteArray::number(c.b);
}

// A fragment without a graph holding a grid of n x n squares (two triangles each, normals +z) over
// [x0, x1] x [y0, y1] at height z; its colour is set to colour (white file colours).
inline std::unique_ptr<Fragment> gridFragment(double x0, double y0, double x1, double y1, int n,
                                              Color4b colour, double z = 0.0) {
    auto f = std::make_unique<Fragment>(nullptr);
    FragMesh& m = f->mesh();
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            m.vertices.push_back({x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * j / n, z});
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const std::uint32_t a = std::uint32_t(j * (n + 1) + i), b = a + 1, c = a + std::uint32_t(n) + 2,
                                d = a + std::uint32_t(n) + 1;
            m.faces.push_back({a, b, c}); // lower right half of the square
            m.faces.push_back({a, c, d}); // upper left half
        }
    m.allocateAttributes();
    m.updateBoundingBox();
    m.updateNormals();
    f->setColor(colour);
    return f;
}
