// Drawing and picking a large fragment: frame time of the buffered renderer against the same mesh
// sent in immediate mode (glBegin/glEnd, normal + colour + position per vertex), uploads per
// frame when nothing changed, refresh times after a colour or placement change, and picking time.
// Needs an X server (run under xvfb-run -a -s "-screen 0 1280x1024x24").
//
//   bench_render [--sizes 1,2,4] [--frames N] [--immediate-frames N]
//       sizes in millions of triangles (a wavy height field of 2 n^2 triangles).
//   bench_render ... [--scan FILE] [--levels L] [--image SIDE]
//       then the same scan drawn with and without a texture: FILE (default the bunny scan of the
//       shared data) subdivided L times (default 3: 4.4 M triangles), faces shuffled, a texture
//       atlas of six charts (cube projection by face normal, so that the jagged chart borders make
//       many seams) and a SIDE x SIDE noisy image (default 8192).
//   bench_render --quick
//       20,000 triangles, 2 frames of each kind; the scan unsubdivided with a 256-pixel image.

#include "face_picking.h"
#include "fragment.h"
#include "gl_defaults.h"
#include "mesh_loading.h"
#include "mesh_read/mesh_variants.h"
#include "mesh_readers.h"
#include "mesh_texture.h"
#include "quick_mode.h"
#include "scene_renderer.h"
#include "view_camera.h"

#include <Eigen/Geometry>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QStringList>
#include <QSurfaceFormat>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int Width = 800, Height = 600;

// A wavy height field over [-1, 1]^2 with about `triangles` triangles, coloured like a fragment.
std::unique_ptr<Fragment> makeFragment(std::size_t triangles) {
    const int n = int(std::lround(std::sqrt(double(triangles) / 2.0)));
    auto f = std::make_unique<Fragment>(nullptr);
    FragMesh& m = f->mesh();
    m.vertices.reserve(std::size_t(n + 1) * std::size_t(n + 1));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = -1.0 + 2.0 * i / n, y = -1.0 + 2.0 * j / n;
            m.vertices.push_back({x, y, 0.15 * std::sin(5.0 * x) * std::cos(4.0 * y)});
        }
    m.faces.reserve(std::size_t(2) * std::size_t(n) * std::size_t(n));
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const auto a = std::uint32_t(j * (n + 1) + i), b = a + 1, c = a + std::uint32_t(n) + 2,
                       d = a + std::uint32_t(n) + 1;
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    m.allocateAttributes();
    for (std::size_t v = 0; v < m.vertices.size(); ++v) {
        const auto grey = std::uint8_t(180 + (v * 7919) % 76);
        m.fileColors[v] = {grey, grey, grey, 255};
    }
    m.updateBoundingBox();
    m.updateNormals();
    f->setColor({200, 160, 120, 255});
    return f;
}

using viewcamera::perspective;

class Bench {
public:
    bool init() {
        surface.setFormat(QSurfaceFormat::defaultFormat());
        surface.create();
        context.setShareContext(QOpenGLContext::globalShareContext());
        context.setFormat(QSurfaceFormat::defaultFormat());
        if (!context.create() || !context.makeCurrent(&surface))
            return false;
        gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(&context);
        if (!gl || !gl->initializeOpenGLFunctions())
            return false;
        fbo = std::make_unique<QOpenGLFramebufferObject>(Width, Height, QOpenGLFramebufferObject::Depth);
        installSceneRenderer();
        projection = perspective(40.0, double(Width) / Height, 0.1, 100.0);
        // The views' camera: eye at (0, 0, 5), the scene's diagonal scaled to 2.5, turned a little.
        Eigen::Affine3d mv = Eigen::Affine3d::Identity();
        mv.translate(Eigen::Vector3d(0, 0, -5));
        mv.rotate(Eigen::AngleAxisd(-0.6, Eigen::Vector3d::UnitX()));
        mv.scale(2.5 / std::sqrt(8.0));
        modelView = mv.matrix();
        return fbo->isValid();
    }

    void beginFrame() {
        fbo->bind();
        gl->glViewport(0, 0, Width, Height);
        gl->glClearColor(0, 0, 0, 1);
        gl->glEnable(GL_DEPTH_TEST);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl->glEnable(GL_LIGHTING);
        gl->glEnable(GL_LIGHT0);
        gl->glEnable(GL_NORMALIZE);
        gl->glEnable(GL_COLOR_MATERIAL);
        gl->glMatrixMode(GL_PROJECTION);
        gl->glLoadMatrixd(projection.data());
        gl->glMatrixMode(GL_MODELVIEW);
        gl->glLoadMatrixd(modelView.data());
    }

    // Milliseconds of one frame drawn by draw, finished on the GPU.
    template <class Draw> double frame(Draw draw) {
        QElapsedTimer t;
        t.start();
        beginFrame();
        draw();
        gl->glFinish();
        return double(t.nsecsElapsed()) / 1e6;
    }

    void drawImmediate(const Fragment& f) {
        const FragMesh& m = f.mesh();
        gl->glBegin(GL_TRIANGLES);
        for (const FragMesh::Face& face : m.faces)
            for (std::uint32_t v : face) {
                gl->glNormal3dv(m.vertexNormals[v].data());
                gl->glColor4ubv(&m.displayColors[v].r);
                gl->glVertex3dv(m.vertices[v].data());
            }
        gl->glEnd();
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    QOpenGLFunctions_2_1* gl = nullptr;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    Eigen::Matrix4d projection, modelView;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// A photo-like image: smooth colour bands under per-pixel noise, so that it neither compresses
// nor caches like a flat one.
std::shared_ptr<const QImage> noisyImage(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const unsigned noise = random() & 63u;
            row[x] = qRgb(int(128 + 60 * std::sin(x * 0.01) + noise),
                          int(100 + 50 * std::cos(y * 0.013) + noise), int(90 + noise));
        }
    }
    return std::make_shared<const QImage>(std::move(image));
}

// Cube projection: each face goes to the chart of its normal's largest component (a cell of a 3 x 2
// atlas) and its corners are projected along that axis, scaled by the box.
void attachAtlas(FragMesh& m, std::shared_ptr<const QImage> image) {
    const Eigen::Vector3d lo = m.bbox.min, size = m.bbox.max - m.bbox.min;
    const double scale = size.maxCoeff();
    std::vector<Eigen::Vector2f> corners;
    corners.reserve(3 * m.faceCount());
    for (std::size_t k = 0; k < m.faceCount(); ++k) {
        const Point3d& n = m.faceNormals[k];
        int axis = 0;
        n.cwiseAbs().maxCoeff(&axis);
        const int chart = 2 * axis + (n[axis] < 0);
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        for (std::uint32_t v : m.faces[k]) {
            const Point3d p = (m.vertices[v] - lo) / scale;
            corners.emplace_back(float((chart % 3 + 0.05 + 0.9 * p[a]) / 3.0),
                                 float((chart / 3 + 0.05 + 0.9 * p[b]) / 2.0));
        }
    }
    auto texture = std::make_shared<MeshTexture>(weldTextureCorners(m, corners, {}));
    texture->materials.push_back(
        {QStringLiteral("atlas"), QStringLiteral("atlas.jpg"), QString(), std::move(image), QString()});
    m.texture = std::move(texture);
}

// Frame times of a real scan with and without its texture, the camera turning between frames.
void benchTexturedScan(Bench& bench, const QString& path, int levels, int imageSide, int frames) {
    FragMesh read;
    QString error;
    if (!readPreparedMesh(path, read, error)) {
        // Without the shared data (a clean clone), the height field stands in, so that the code runs.
        std::printf("\ntextured scan: %s; a height field instead\n", qPrintable(error));
        read = makeFragment(20000)->mesh();
    }
    Fragment f(nullptr);
    f.mesh() = shuffled(subdivided(read, levels), 11);
    FragMesh& m = f.mesh();
    m.allocateAttributes();
    m.updateBoundingBox();
    m.updateNormals();
    f.setColor({200, 160, 120, 255});
    QElapsedTimer t;
    t.start();
    std::shared_ptr<const QImage> image = noisyImage(imageSide);
    const double imageMs = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    attachAtlas(m, image);
    const double weldMs = double(t.nsecsElapsed()) / 1e6;
    const MeshTexture& texture = *m.texture;

    const Eigen::Vector3d centre = m.bbox.center();
    const double diagonal = (m.bbox.max - m.bbox.min).norm();
    const auto turned = [&](int i) {
        Eigen::Affine3d mv = Eigen::Affine3d::Identity();
        mv.translate(Eigen::Vector3d(0, 0, -5));
        mv.rotate(Eigen::AngleAxisd(0.3 * i, Eigen::Vector3d::UnitY()));
        mv.scale(2.5 / diagonal);
        mv.translate(-centre);
        return mv.matrix();
    };
    const auto run = [&](bool textured, double& first) {
        setTexturesShown(textured);
        releaseFragmentBuffers(&f);
        m.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
        bench.modelView = turned(0);
        first = bench.frame([&] { f.draw(true); });
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            bench.modelView = turned(i + 1);
            times.push_back(bench.frame([&] { f.draw(true); }));
        }
        return median(times);
    };
    double firstPlain = 0, firstTextured = 0;
    // The textured mesh drawn without its image still draws its seam copies; the plain frame is of
    // the mesh without texture at all.
    const std::shared_ptr<const MeshTexture> kept = m.texture;
    m.texture.reset();
    const double plain = run(false, firstPlain);
    m.texture = kept;
    const double textured = run(true, firstTextured);
    releaseFragmentBuffers(&f);
    setTexturesShown(true);
    std::printf(
        "\ntextured scan %s, %d levels, faces shuffled: %zu triangles, %zu vertices + %zu seam copies "
        "(%.1f %%), %d x %d image (made in %.0f ms), welded in %.0f ms\n",
        qPrintable(QFileInfo(path).fileName()), levels, m.faceCount(), m.vertexCount(),
        texture.seamCopies.size(), 100.0 * double(texture.seamCopies.size()) / double(m.vertexCount()),
        imageSide, imageSide, imageMs, weldMs);
    std::printf("%-12s %10s %10s\n", "", "first ms", "frame ms");
    std::printf("%-12s %10.1f %10.1f\n", "untextured", firstPlain, plain);
    std::printf(
        "%-12s %10.1f %10.1f   (frame %.2fx the untextured one; first frame includes the image upload)\n",
        "textured", firstTextured, textured, textured / plain);
}

} // namespace

int main(int argc, char** argv) {
    setProgramGlDefaults();
    QGuiApplication app(argc, argv);

    std::vector<double> sizes{1, 2, 4};
    int frames = 10, immediateFrames = 3;
    QString scan = QStringLiteral(OSTRAKIT_SHARED_DATA "/bunny_bin.ply");
    int levels = 3, imageSide = 8192;
    const QStringList args = app.arguments();
    if (quickMode(argc, argv)) {
        sizes = {0.02};
        frames = immediateFrames = 2;
        levels = 0;
        imageSide = 256;
    }
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString& s : args[i + 1].split(QLatin1Char(',')))
                sizes.push_back(s.toDouble());
        } else if (args[i] == QLatin1String("--frames")) {
            frames = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QLatin1String("--immediate-frames")) {
            immediateFrames = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QLatin1String("--scan")) {
            scan = args[i + 1];
        } else if (args[i] == QLatin1String("--levels")) {
            levels = std::max(0, args[i + 1].toInt());
        } else if (args[i] == QLatin1String("--image")) {
            imageSide = std::max(1, args[i + 1].toInt());
        }
    }

    Bench bench;
    if (!bench.init()) {
        std::fprintf(stderr,
                     "bench_render: no OpenGL 2.1 context with a framebuffer object (run under xvfb-run)\n");
        return 1;
    }
    std::printf("Renderer: %s, %s; %d x %d, lighting on\n",
                reinterpret_cast<const char*>(bench.gl->glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(bench.gl->glGetString(GL_VERSION)), Width, Height);
    std::printf("%-10s %9s %12s %11s %12s %12s %9s %11s %10s %12s %8s\n", "triangles", "first ms",
                "buffered ms", "later ms", "immediate ms", "imm ms/Mtri", "speed-up", "uploads/fr",
                "colour ms", "transform ms", "pick ms");

    for (double millions : sizes) {
        auto f = makeFragment(std::size_t(millions * 1e6));
        const std::size_t nf = f->mesh().faceCount();

        const double first = bench.frame([&] { f->draw(true); });
        std::vector<double> buffered;
        const std::uint64_t uploadsBefore = sceneRenderCounters().uploads;
        for (int i = 0; i < frames; ++i)
            buffered.push_back(bench.frame([&] { f->draw(true); }));
        const double uploadsPerFrame = double(sceneRenderCounters().uploads - uploadsBefore) / frames;

        std::vector<double> immediate;
        for (int i = 0; i < immediateFrames; ++i)
            immediate.push_back(bench.frame([&] { bench.drawImmediate(*f); }));

        // A colour change and a placement change, each followed by one frame.
        f->setColor({120, 160, 200, 255});
        const double colour = bench.frame([&] { f->draw(true); });
        Matrix44d tiny = Matrix44d::Identity();
        tiny(0, 3) = 1e-3;
        f->applyTransform(&tiny);
        const double moved = bench.frame([&] { f->draw(true); });
        std::vector<double> again;
        const std::uint64_t uploadsLater = sceneRenderCounters().uploads;
        for (int i = 0; i < frames; ++i)
            again.push_back(bench.frame([&] { f->draw(true); }));
        const double uploadsPerFrameLater = double(sceneRenderCounters().uploads - uploadsLater) / frames;

        // Picking at pixels across the surface, with the depth buffer of the last frame.
        std::vector<double> picks;
        const std::array<int, 4> viewport{0, 0, Width, Height};
        std::size_t found = 0;
        for (int k = 0; k < 7; ++k) {
            const int x = Width / 4 + k * Width / 14, y = Height / 2 + (k % 3 - 1) * Height / 8;
            float depth = 1.0f;
            bench.gl->glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
            QElapsedTimer t;
            t.start();
            const std::vector<std::uint32_t> hits =
                pickVisibleFaces(f->mesh(), x, y, bench.projection, bench.modelView, viewport, depth);
            picks.push_back(double(t.nsecsElapsed()) / 1e6);
            found += !hits.empty();
        }

        const double imm = median(immediate), buf = median(buffered), later = median(again);
        std::printf("%-10zu %9.1f %12.1f %11.1f %12.1f %12.1f %8.1fx %11.2f %10.1f %12.1f %8.1f   (%zu of 7 "
                    "picks hit)\n",
                    nf, first, buf, later, imm, imm / (double(nf) / 1e6), imm / std::min(buf, later),
                    std::max(uploadsPerFrame, uploadsPerFrameLater), colour, moved, median(picks), found);
        std::fflush(stdout);
        releaseFragmentBuffers(f.get());
    }
    std::printf(
        "first: the frame that uploads the mesh; buffered: median frame right after it; later: median frame "
        "after the immediate-mode and refresh frames; immediate: median frame; colour, transform: the frame "
        "after setColor or applyTransform (refresh included); pick: median of 7 clicks.\n");
    installMeshReaders();
    benchTexturedScan(bench, scan, levels, imageSide, frames);
    return 0;
}
