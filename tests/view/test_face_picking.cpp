// Face picking: known answers on small meshes (halves of a quad, overlapping faces in depth
// order, hidden faces dropped, the near plane, the two-thread path on a large grid) and agreement
// with what OpenGL actually rasterised (pick colours and depth buffer of a rendered frame).

#include "face_picking.h"
#include "gl_test_support.h"
#include "scene_renderer.h"
#include "view_camera.h"

#include <Eigen/Geometry>
#include <QtTest>
#include <cmath>
#include <random>

namespace {

constexpr int S = GlCanvas::Size;
const std::array<int, 4> Viewport{0, 0, S, S};

Eigen::Matrix4d ortho() {
    // glOrtho(-1, 1, -1, 1, -10, 10)
    Eigen::Matrix4d p = Eigen::Matrix4d::Identity();
    p(2, 2) = -0.1;
    return p;
}

using viewcamera::perspective;

// Window depth of a point at model height z under the orthographic camera.
double orthoDepth(double z) {
    return (1.0 - 0.1 * z) * 0.5;
}

// Pixel over the scene point (x, y) of the orthographic camera.
int px(double v) {
    return int((v + 1.0) * S / 2);
}

FragMesh triangles(const std::vector<std::array<Point3d, 3>>& tris) {
    FragMesh m;
    for (const auto& t : tris) {
        const auto base = std::uint32_t(m.vertices.size());
        for (const Point3d& p : t)
            m.vertices.push_back(p);
        m.faces.push_back({base, base + 1, base + 2});
    }
    m.allocateAttributes();
    m.updateBoundingBox();
    return m;
}

std::vector<std::uint32_t> pickOrtho(const FragMesh& m, int x, int y, double depth) {
    return pickVisibleFaces(m, x, y, ortho(), Eigen::Matrix4d::Identity(), Viewport, float(depth));
}

} // namespace

class TestFacePicking : public QObject {
    Q_OBJECT

    GlCanvas canvas;

private slots:
    void initTestCase() {
        installSceneRenderer();
        QVERIFY2(canvas.create(), "no OpenGL 2.1 context with a framebuffer object");
    }

    void eachHalfOfASplitQuad() {
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 1, {255, 255, 255, 1});
        const FragMesh& m = f->mesh();
        const double d = orthoDepth(0.0);
        QCOMPARE(pickOrtho(m, px(0.3), px(-0.3), d), std::vector<std::uint32_t>{0}); // lower right half
        QCOMPARE(pickOrtho(m, px(-0.3), px(0.3), d), std::vector<std::uint32_t>{1}); // upper left half
        QVERIFY(pickOrtho(m, px(0.7), px(0.0), d).empty());
        QVERIFY(pickOrtho(m, px(0.0), px(-0.7), d).empty());
        // A pixel on the diagonal touches both halves.
        const std::vector<std::uint32_t> both = pickOrtho(m, px(0.2), px(0.2), d);
        QCOMPARE(both.size(), std::size_t(2));
        // The pixel just outside the edge at x = 0.5 (pixel 150 spans [0.5, 0.51]) still touches it;
        // the next one does not.
        QCOMPARE(pickOrtho(m, 150, 100, d).size(), std::size_t(1));
        QVERIFY(pickOrtho(m, 151, 100, d).empty());
    }

    void overlappingFacesNearestFirst() {
        // Mesh order: far, near, middle.
        const FragMesh m = triangles({{{{-0.5, -0.5, -2.0}, {0.5, -0.5, -2.0}, {0.0, 0.5, -2.0}}},
                                      {{{-0.5, -0.5, 1.0}, {0.5, -0.5, 1.0}, {0.0, 0.5, 1.0}}},
                                      {{{-0.6, -0.6, 0.2}, {0.6, -0.6, -0.2}, {0.0, 0.6, 0.0}}}});
        // Depth buffer at the far end: nothing hides anything.
        const std::vector<FaceHit> hits =
            pickFacesUnderPixel(m, px(0.0), px(0.0), ortho(), Eigen::Matrix4d::Identity(), Viewport, 1.0f);
        QCOMPARE(hits.size(), std::size_t(3));
        QCOMPARE(hits[0].face, 1u);
        QCOMPARE(hits[1].face, 2u);
        QCOMPARE(hits[2].face, 0u);
        QVERIFY(std::abs(hits[0].depth - orthoDepth(1.0)) < 1e-9);
        QVERIFY(std::abs(hits[2].depth - orthoDepth(-2.0)) < 1e-9);
        // The tilted middle face's depth is that of its plane at the pixel centre.
        const double zAtCentre = 0.2 - 0.4 * ((0.005 + 0.6) / 1.2); // x of the pixel centre is 0.005
        QVERIFY(std::abs(hits[1].depth - orthoDepth(zAtCentre)) < 1e-3);
    }

    void hiddenFacesAreDropped() {
        const FragMesh m = triangles({{{{-0.5, -0.5, -2.0}, {0.5, -0.5, -2.0}, {0.0, 0.5, -2.0}}},
                                      {{{-0.5, -0.5, 1.0}, {0.5, -0.5, 1.0}, {0.0, 0.5, 1.0}}},
                                      {{{-0.5, -0.5, 0.9999}, {0.5, -0.5, 0.9999}, {0.0, 0.5, 0.9999}}},
                                      {{{-0.5, -0.5, 0.999}, {0.5, -0.5, 0.999}, {0.0, 0.5, 0.999}}}});
        // The depth buffer holds the near face: the far one is hidden, and so is the one 0.001
        // behind (5e-5 of window depth here); the one 0.0001 behind (5e-6) lies within the
        // tolerance.
        QCOMPARE(pickOrtho(m, px(0.0), px(0.0), orthoDepth(1.0)), (std::vector<std::uint32_t>{1, 2}));
        // With the far face in the depth buffer (as if the others were not drawn) all count.
        QCOMPARE(pickOrtho(m, px(0.0), px(0.0), orthoDepth(-2.0)), (std::vector<std::uint32_t>{1, 2, 3, 0}));
        // In front of nothing drawn at all: depth 1.
        QCOMPARE(pickOrtho(m, px(0.0), px(0.0), 1.0).size(), std::size_t(4));
    }

    void facesCrossingTheNearPlane() {
        // Camera at the origin looking down -z, near plane 0.1: a long triangle from behind the eye
        // to far in front, and one entirely behind the eye that would project onto the pixel.
        const Eigen::Matrix4d p = perspective(60.0, 1.0, 0.1, 100.0);
        const FragMesh m = triangles({{{{-1.0, -0.2, 5.0}, {1.0, -0.2, 5.0}, {0.0, -0.2, -20.0}}},
                                      {{{-1.0, 1.0, 5.0}, {1.0, 1.0, 5.0}, {0.0, -1.0, 5.0}}}});
        // The floor face at y = -0.2 seen below the centre of the view.
        const Eigen::Vector4d c = p * Eigen::Vector4d(0.0, -0.2, -2.0, 1.0);
        const int y = int((c.y() / c.w() + 1.0) * 0.5 * S);
        const std::vector<std::uint32_t> hit =
            pickVisibleFaces(m, S / 2, y, p, Eigen::Matrix4d::Identity(), Viewport, 1.0f);
        QCOMPARE(hit, std::vector<std::uint32_t>{0});
        QVERIFY(
            pickVisibleFaces(m, S / 2, S / 2 + 20, p, Eigen::Matrix4d::Identity(), Viewport, 1.0f).empty());
    }

    void largeGridUsesBothThreads() {
        // 400 x 400 squares = 320000 faces over [-1, 1]^2: the pixel (i, j) of a 200 x 200 view
        // holds squares 2i, 2i+1 by 2j, 2j+1; its centre lies on the corner between them.
        auto f = gridFragment(-1.0, -1.0, 1.0, 1.0, 400, {255, 255, 255, 1});
        const FragMesh& m = f->mesh();
        const std::vector<FaceHit> hits = pickFacesUnderPixel(
            m, 37, 121, ortho(), Eigen::Matrix4d::Identity(), Viewport, float(orthoDepth(0.0)));
        // The 8 triangles of the 2 x 2 squares inside the pixel, and some of the squares around it
        // that touch its border.
        QVERIFY(hits.size() >= 8);
        int inside = 0;
        for (const FaceHit& h : hits) {
            const int square = int(h.face / 2), i = square % 400, j = square / 400;
            QVERIFY(i >= 73 && i <= 76 && j >= 241 && j <= 244);
            inside += i >= 74 && i <= 75 && j >= 242 && j <= 243;
        }
        QCOMPARE(inside, 8);
        // The first hits contain the centre: the triangles meeting at the grid corner there.
        QVERIFY(hits.front().coversCentre);
    }

    void agreesWithTheRenderedFrame() {
        // A wavy surface under the views' perspective camera turned by a trackball-like rotation:
        // at sampled pixels, the nearest picked face is the one whose pick colour was rasterised
        // there.
        auto f = gridFragment(-1.0, -1.0, 1.0, 1.0, 60, {200, 200, 200, 1});
        FragMesh& m = f->mesh();
        for (Point3d& v : m.vertices)
            v.z() = 0.3 * std::sin(3.0 * v.x()) * std::cos(2.0 * v.y());
        m.updateNormals();
        m.changes |= FragMesh::Positions;
        f->setBasePickCode(1);
        f->assignPickColors();

        const Eigen::Matrix4d proj = perspective(40.0, 1.0, 0.1, 100.0);
        Eigen::Affine3d mv = Eigen::Affine3d::Identity();
        mv.translate(Eigen::Vector3d(0, 0, -4));
        mv.rotate(Eigen::AngleAxisd(-0.9, Eigen::Vector3d::UnitX()));
        mv.rotate(Eigen::AngleAxisd(0.4, Eigen::Vector3d::UnitZ()));
        const Eigen::Matrix4d modelView = mv.matrix();

        canvas.begin();
        canvas.gl->glMatrixMode(GL_PROJECTION);
        canvas.gl->glLoadMatrixd(proj.data());
        canvas.gl->glMatrixMode(GL_MODELVIEW);
        canvas.gl->glLoadMatrixd(modelView.data());
        canvas.gl->glClearColor(0, 0, 0, 0);
        canvas.gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        f->drawPickColors();
        canvas.gl->glFinish();

        std::mt19937 rng(3);
        std::uniform_int_distribution<int> coord(0, S - 1);
        int checked = 0, agreed = 0;
        for (int n = 0; n < 400; ++n) {
            const int x = coord(rng), y = coord(rng);
            const Color4b c = canvas.pixel(x, y);
            float depth = 1.0f;
            canvas.gl->glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
            GeometrObj* owner = nullptr;
            const int face = f->faceFromPickColor(c.r, c.g, c.b, &owner);
            const std::vector<std::uint32_t> hits =
                pickVisibleFaces(m, x, y, proj, modelView, Viewport, depth);
            if (depth == 1.0f) {
                QCOMPARE(face, -1); // background
                continue;
            }
            QVERIFY(face >= 0);
            ++checked;
            // The rasterised face is always among the visible hits, and usually the first one
            // (neighbours touching the pixel square may extrapolate nearer at the centre).
            QVERIFY2(std::find(hits.begin(), hits.end(), std::uint32_t(face)) != hits.end(),
                     qPrintable(QStringLiteral("pixel %1 %2 face %3").arg(x).arg(y).arg(face)));
            agreed += hits.front() == std::uint32_t(face);
            // Nothing returned lies behind the surface by more than the tolerance.
            for (const FaceHit& h : pickFacesUnderPixel(m, x, y, proj, modelView, Viewport, depth))
                QVERIFY(h.depth <= depth + PickDepthTolerance);
        }
        QVERIFY(checked > 100);
        QVERIFY2(agreed > checked * 8 / 10, qPrintable(QStringLiteral("%1 of %2").arg(agreed).arg(checked)));
        releaseFragmentBuffers(f.get());
    }
};

int main(int argc, char** argv) {
    setProgramGlDefaults();
    QGuiApplication app(argc, argv);
    TestFacePicking test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_face_picking.moc"
