// The scene renderer in a real OpenGL context: rendered pixels of fragments (colours, marks,
// highlight, refresh after colour and placement changes), the upload bookkeeping, exact pick
// colours, rubber bands, side spheres and the constraint markers with their labels.

#include "../scene/scene_fixtures.h"
#include "gl_test_support.h"
#include "mesh_texture.h"
#include "scene_renderer.h"

#include <QOpenGLPaintDevice>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <functional>
#include <set>

class TestSceneRenderer : public QObject {
    Q_OBJECT

    GlCanvas canvas;
    QTemporaryDir dir;

    std::uint64_t uploadsDuring(const std::function<void()>& draw) {
        const std::uint64_t before = sceneRenderCounters().uploads;
        draw();
        return sceneRenderCounters().uploads - before;
    }

    int countPixels(const std::function<bool(Color4b)>& test) {
        int n = 0;
        for (Color4b c : canvas.pixels())
            n += test(c);
        return n;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        installSceneRenderer();
        QVERIFY2(canvas.create(), "no OpenGL 2.1 context with a framebuffer object");
    }

    void fragmentShowsItsColour() {
        const Color4b colour{100, 150, 200, 1};
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 1, colour);
        canvas.begin();
        f->draw(false);
        QVERIFY2(sameRgb(canvas.at(0.0, 0.0), litFront(colour)), describe(canvas.at(0, 0)));
        QVERIFY(sameRgb(canvas.at(0.45, -0.45), litFront(colour)));
        QVERIFY(sameRgb(canvas.at(-0.8, 0.0), {0, 0, 0, 0})); // outside: background
        QVERIFY(sameRgb(canvas.at(0.0, 0.8), {0, 0, 0, 0}));
        // The renderer left the caller's state alone.
        GLint bound = -1;
        canvas.gl->glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
        QCOMPARE(bound, 0);
        QVERIFY(canvas.gl->glIsEnabled(GL_LIGHTING));
        QVERIFY(!canvas.gl->glIsEnabled(GL_VERTEX_ARRAY));
        releaseFragmentBuffers(f.get());
    }

    void farFromTheOriginKeepsItsShape() {
        // A georeferenced piece: one unit square a million units away, drawn back with a translation.
        auto f = gridFragment(1e6 - 0.5, 2e6 - 0.5, 1e6 + 0.5, 2e6 + 0.5, 4, {200, 200, 200, 1});
        canvas.begin();
        canvas.gl->glTranslated(-1e6, -2e6, 0);
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(0.48, 0.48), litFront({200, 200, 200, 1})));
        QVERIFY(sameRgb(canvas.at(-0.48, -0.48), litFront({200, 200, 200, 1})));
        QVERIFY(sameRgb(canvas.at(0.53, 0.0), {0, 0, 0, 0}));
        releaseFragmentBuffers(f.get());
    }

    void markedFacesAreRedOnlyWhenShown() {
        const Color4b colour{60, 120, 180, 1};
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 1, colour);
        f->mesh().marked[0] = 1; // the lower right triangle
        f->mesh().changes |= FragMesh::Marks;
        const Color4b red{255, 0, 0, 0};
        canvas.begin();
        f->draw(true);
        QVERIFY2(sameRgb(canvas.at(0.3, -0.3), red), describe(canvas.at(0.3, -0.3)));
        QVERIFY(sameRgb(canvas.at(-0.3, 0.3), litFront(colour)));
        canvas.begin();
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(0.3, -0.3), litFront(colour)));
        QCOMPARE(countPixels([](Color4b c) { return c.r > 200 && c.g < 50; }), 0);
        // The marks change: the other triangle is marked now, the first one not.
        f->mesh().marked[0] = 0;
        f->mesh().marked[1] = 1;
        f->mesh().changes |= FragMesh::Marks;
        canvas.begin();
        f->draw(true);
        QVERIFY(sameRgb(canvas.at(0.3, -0.3), litFront(colour)));
        QVERIFY(sameRgb(canvas.at(-0.3, 0.3), red));
        releaseFragmentBuffers(f.get());
    }

    void focusedFragmentShowsItsHighlight() {
        const Color4b colour{60, 120, 180, 1};
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 2, colour);
        f->mesh().marked[0] = 1;
        f->mesh().changes |= FragMesh::Marks;
        f->setFocused(true);
        canvas.begin();
        f->draw(true);
        const Color4b focus = f->getFocusColor();
        QVERIFY2(sameRgb(canvas.at(0.2, 0.2), litFront(focus)), describe(canvas.at(0.2, 0.2)));
        // Its marked face stays red.
        QVERIFY(sameRgb(canvas.at(-0.1, -0.4), {255, 0, 0, 0}));
        f->setFocused(false);
        canvas.begin();
        const std::uint64_t uploads = uploadsDuring([&] { f->draw(true); });
        QVERIFY(sameRgb(canvas.at(0.2, 0.2), litFront(colour)));
        QCOMPARE(uploads, std::uint64_t(0)); // both colour sets are on the GPU already
        releaseFragmentBuffers(f.get());
    }

    void newColourShowsAfterSetColor() {
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 3, {200, 40, 40, 1});
        canvas.begin();
        f->draw(false);
        f->setColor({30, 90, 210, 1});
        const RenderCounters before = sceneRenderCounters();
        canvas.begin();
        f->draw(false);
        const RenderCounters after = sceneRenderCounters();
        QVERIFY(sameRgb(canvas.at(0.0, 0.0), litFront({30, 90, 210, 1})));
        // Only the two colour arrays went up.
        QCOMPARE(after.uploadedBytes - before.uploadedBytes, std::uint64_t(2 * 16 * sizeof(Color4b)));
        QCOMPARE(after.bufferSets, before.bufferSets);
        QCOMPARE(f->mesh().changes, std::uint32_t(0));
        releaseFragmentBuffers(f.get());
    }

    void pictureMovesAfterApplyTransform() {
        const Color4b colour{90, 200, 90, 1};
        auto f = gridFragment(-0.5, -0.5, 0.0, 0.5, 2, colour);
        canvas.begin();
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(-0.3, 0.0), litFront(colour)));
        QVERIFY(sameRgb(canvas.at(0.3, 0.0), {0, 0, 0, 0}));
        const Matrix44d m = translation(0.6, 0, 0);
        f->applyTransform(&m);
        const RenderCounters before = sceneRenderCounters();
        canvas.begin();
        f->draw(false);
        const RenderCounters after = sceneRenderCounters();
        QVERIFY(sameRgb(canvas.at(-0.3, 0.0), {0, 0, 0, 0}));
        QVERIFY(sameRgb(canvas.at(0.3, 0.0), litFront(colour)));
        // Positions and normals, nothing else.
        QCOMPARE(after.uploadedBytes - before.uploadedBytes, std::uint64_t(2 * 9 * 3 * sizeof(float)));
        // A quarter turn about z: normals stay +z, the picture turns.
        const Matrix44d r = rotationZ(M_PI / 2);
        f->applyTransform(&r); // now covers x in [-0.5, 0.5], y in [0.1, 0.6]
        canvas.begin();
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(0.0, 0.4), litFront(colour)));
        QVERIFY(sameRgb(canvas.at(0.3, -0.2), {0, 0, 0, 0}));
        releaseFragmentBuffers(f.get());
    }

    void nothingIsUploadedWhenNothingChanged() {
        auto a = gridFragment(-0.9, -0.9, 0.0, 0.0, 20, {150, 150, 150, 1});
        auto b = gridFragment(0.0, 0.0, 0.9, 0.9, 20, {150, 90, 150, 1});
        canvas.begin();
        const RenderCounters first = sceneRenderCounters();
        a->draw(true);
        b->draw(true);
        QCOMPARE(sceneRenderCounters().bufferSets - first.bufferSets, std::uint64_t(2));
        for (int frame = 0; frame < 5; ++frame) {
            canvas.begin();
            const std::uint64_t uploads = uploadsDuring([&] {
                a->draw(true);
                b->draw(false);
                a->setFocused(frame % 2 == 0);
            });
            QCOMPARE(uploads, std::uint64_t(0));
        }
        QCOMPARE(sceneRenderCounters().bufferSets - first.bufferSets, std::uint64_t(2));
        // A released fragment is uploaded again when drawn again.
        const std::size_t entries = FragmentBufferCache::instance().entryCount();
        releaseFragmentBuffers(a.get());
        QCOMPARE(FragmentBufferCache::instance().entryCount(), entries - 1);
        a->setFocused(false);
        canvas.begin();
        QVERIFY(uploadsDuring([&] { a->draw(false); }) > 0);
        QVERIFY(sameRgb(canvas.at(-0.5, -0.5), litFront({150, 150, 150, 1})));
        releaseFragmentBuffers(a.get());
        releaseFragmentBuffers(b.get());
    }

    void aNewMeshAtTheSameAddressIsUploadedAgain() {
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, 1, {250, 250, 250, 1});
        canvas.begin();
        f->draw(false);
        // The mesh is replaced by one of the same size elsewhere (as a reload does).
        FragMesh& m = f->mesh();
        m.clear();
        auto g = gridFragment(-0.9, -0.9, -0.6, -0.6, 1, {250, 250, 250, 1});
        m = g->mesh();
        m.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
        canvas.begin();
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(0.0, 0.0), {0, 0, 0, 0}));
        QVERIFY(sameRgb(canvas.at(-0.75, -0.75), litFront({250, 250, 250, 1})));
        releaseFragmentBuffers(f.get());
    }

    void pickColoursReadBackExactly() {
        // Two fragments with base codes handed out one after the other, as a fragment group does.
        auto a = gridFragment(-1.0, -1.0, 0.0, 1.0, 8, {200, 200, 200, 1});
        auto b = gridFragment(0.0, -1.0, 1.0, 1.0, 8, {200, 200, 200, 1});
        const int faces = int(a->mesh().faceCount());
        a->setBasePickCode(70000); // codes above 65535 use the blue byte
        a->assignPickColors();
        b->setBasePickCode(70000 + faces);
        b->assignPickColors();
        canvas.begin(); // lighting on: the pick drawing must not be lit
        a->drawPickColors();
        b->drawPickColors();
        const std::vector<Color4b> px = canvas.pixels();
        std::set<int> seenA, seenB;
        for (int y = 0; y < GlCanvas::Size; ++y)
            for (int x = 0; x < GlCanvas::Size; ++x) {
                const Color4b c = px[std::size_t(y * GlCanvas::Size + x)];
                GeometrObj* owner = nullptr;
                int face = a->faceFromPickColor(c.r, c.g, c.b, &owner);
                if (face < 0)
                    face = b->faceFromPickColor(c.r, c.g, c.b, &owner);
                // Every pixel is the exact code of one face of one fragment.
                QVERIFY2(face >= 0, describe(c));
                QVERIFY(owner == (x < GlCanvas::Size / 2 ? a.get() : b.get()));
                (owner == a.get() ? seenA : seenB).insert(face);
            }
        QCOMPARE(int(seenA.size()), faces);
        QCOMPARE(int(seenB.size()), faces);
        // Sample a known face: the lower-left square's lower-right half of b is its face 0.
        const Color4b c0 = canvas.at(0.1, -0.97);
        QCOMPARE(c0.r, b->mesh().pickColors[0].r);
        QCOMPARE(c0.g, b->mesh().pickColors[0].g);
        QCOMPARE(c0.b, b->mesh().pickColors[0].b);
        // Drawing the normal picture afterwards still works and is lit.
        canvas.begin();
        a->draw(false);
        QVERIFY(sameRgb(canvas.at(-0.5, 0.0), litFront({200, 200, 200, 1})));
        // New codes: the pick buffers are rebuilt.
        a->setBasePickCode(1);
        a->assignPickColors();
        canvas.begin();
        a->drawPickColors();
        GeometrObj* owner = nullptr;
        const Color4b c = canvas.at(-0.99, -0.99);
        QCOMPARE(a->faceFromPickColor(c.r, c.g, c.b, &owner), 0);
        releaseFragmentBuffers(a.get());
        releaseFragmentBuffers(b.get());
    }

    // A 64 x 64 image of four quadrants: red at the top left, green top right, blue bottom left,
    // grey bottom right (rows run downwards, v upwards).
    static std::shared_ptr<const QImage> quadrantImage() {
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(QColor(40, 40, 40));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool top = y < 32, left = x < 32;
                image.setPixelColor(x, y,
                                    top ? (left ? QColor(200, 0, 0) : QColor(0, 200, 0))
                                        : (left ? QColor(0, 0, 200) : QColor(100, 100, 100)));
            }
        return std::make_shared<const QImage>(std::move(image));
    }

    // The square [-0.5, 0.5]^2 in n x n cells, textured with coordinates u = x + 0.5, v = y + 0.5
    // and material 0 (faceMaterial picks another per face; material 1 has no image).
    static std::unique_ptr<Fragment>
    texturedSquare(int n, Color4b colour,
                   const std::function<std::uint16_t(std::size_t)>& faceMaterial = {}) {
        auto f = gridFragment(-0.5, -0.5, 0.5, 0.5, n, colour);
        FragMesh& m = f->mesh();
        std::vector<Eigen::Vector2f> corners;
        std::vector<std::uint16_t> materials;
        for (std::size_t k = 0; k < m.faceCount(); ++k) {
            for (std::uint32_t v : m.faces[k])
                corners.emplace_back(float(m.vertices[v].x() + 0.5), float(m.vertices[v].y() + 0.5));
            if (faceMaterial)
                materials.push_back(faceMaterial(k));
        }
        auto texture = std::make_shared<MeshTexture>(weldTextureCorners(m, corners, materials));
        texture->materials = {{"painted", "quadrants.png", "", quadrantImage(), ""},
                              {"bare", "missing.png", "", nullptr, "missing.png: no such image"}};
        m.texture = texture;
        return f;
    }

    // A texel lit on a face turned to the light is the texel: the white it modulates saturates.
    void textureShowsLitWhereItsCoordinatesPoint() {
        const std::size_t liveBefore = FragmentBufferCache::instance().liveBufferCount();
        const Color4b colour{60, 120, 180, 1};
        auto f = texturedSquare(4, colour);
        canvas.begin();
        f->draw(true);
        const std::pair<QPointF, Color4b> expected[] = {{{-0.25, 0.25}, {200, 0, 0, 0}},
                                                        {{0.25, 0.25}, {0, 200, 0, 0}},
                                                        {{-0.25, -0.25}, {0, 0, 200, 0}},
                                                        {{0.25, -0.25}, {100, 100, 100, 0}}};
        for (const auto& [at, c] : expected)
            QVERIFY2(sameRgb(canvas.at(at.x(), at.y()), c, 3), describe(canvas.at(at.x(), at.y())));
        // One more buffer (the coordinates) and one texture than an untextured fragment.
        QCOMPARE(FragmentBufferCache::instance().liveBufferCount(), liveBefore + 7);

        // A marked face is red over the texture; the marks hidden, it shows the texture again.
        f->mesh().marked[0] = 1; // lower right half of the lower left cell
        f->mesh().changes |= FragMesh::Marks;
        canvas.begin();
        f->draw(true);
        QVERIFY(sameRgb(canvas.at(-0.32, -0.45), {255, 0, 0, 0}));
        QVERIFY(sameRgb(canvas.at(-0.25, 0.25), Color4b{200, 0, 0, 0}, 3));
        canvas.begin();
        f->draw(false);
        QVERIFY(sameRgb(canvas.at(-0.32, -0.45), Color4b{0, 0, 200, 0}, 3));

        // The view option: the fragment's colour instead of its texture, without uploading anything.
        setTexturesShown(false);
        canvas.begin();
        const std::uint64_t uploads = uploadsDuring([&] { f->draw(true); });
        setTexturesShown(true);
        QCOMPARE(uploads, std::uint64_t(0));
        QVERIFY(sameRgb(canvas.at(0.25, 0.25), litFront(colour)));
        // Focused, the highlight tints the texture: no longer the plain image.
        f->setFocused(true);
        canvas.begin();
        f->draw(true);
        const Color4b tinted = canvas.at(-0.25, -0.25); // the blue quadrant, tinted yellow
        QVERIFY2(tinted.b > 80 && tinted.b < 150 && tinted.r < 10, describe(tinted));
        releaseFragmentBuffers(f.get());
        QCOMPARE(FragmentBufferCache::instance().liveBufferCount(), liveBefore);
    }

    void seamsAndMaterialsWithoutImage() {
        // The lower left cell has the material without image, the other cells the image.
        const Color4b colour{60, 120, 180, 1};
        auto f = texturedSquare(2, colour,
                                [](std::size_t k) { return std::uint16_t(k % 4 < 2 && k < 4 ? 1 : 0); });
        const MeshTexture& t = *f->mesh().texture;
        QCOMPARE(t.drawnVertexCount(), f->mesh().vertexCount()); // one coordinate per vertex: no seam
        canvas.begin();
        f->draw(true);
        QVERIFY(sameRgb(canvas.at(-0.25, -0.25), litFront(colour))); // no image: its colour
        QVERIFY2(sameRgb(canvas.at(0.25, -0.25), Color4b{100, 100, 100, 0}, 3),
                 describe(canvas.at(0.25, -0.25)));
        QVERIFY(sameRgb(canvas.at(-0.25, 0.25), Color4b{200, 0, 0, 0}, 3));

        // Shift the coordinates of face 3 (upper left half of the lower right cell) to the top right
        // quadrant: its three vertices need copies, the neighbours keep theirs.
        FragMesh& m = f->mesh();
        std::vector<Eigen::Vector2f> corners;
        for (std::size_t k = 0; k < m.faceCount(); ++k)
            for (int c = 0; c < 3; ++c) {
                Eigen::Vector2f uv = t.cornerCoord(k, c);
                if (k == 3)
                    uv += Eigen::Vector2f(0.0f, 0.5f);
                corners.push_back(uv);
            }
        auto seamed = std::make_shared<MeshTexture>(weldTextureCorners(m, corners, {}));
        QCOMPARE(seamed->seamCopies.size(), std::size_t(3));
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(seamed->meshVertexOf(seamed->faces[3][c]), m.faces[3][c]);
            QVERIFY(seamed->faces[3][c] >= m.vertexCount());
            QVERIFY((seamed->cornerCoord(3, c) - corners[9 + std::size_t(c)]).norm() == 0.0f);
        }
        seamed->materials = t.materials;
        m.texture = seamed;
        canvas.begin();
        f->draw(true);
        QVERIFY2(sameRgb(canvas.at(0.15, -0.1), Color4b{0, 200, 0, 0}, 3), describe(canvas.at(0.15, -0.1)));
        QVERIFY(sameRgb(canvas.at(0.4, -0.4), Color4b{100, 100, 100, 0}, 3)); // face 2: as before
        releaseFragmentBuffers(f.get());
    }

    void rubberBandIsALineOfItsColour() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "band_a.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "band_b.ply", {3, 0, 0}));
        RBand* c = addBand(graph, a, b, {-0.6, 0.1, 0}, {0.6, 0.1, 0});
        c->setColor({10, 220, 30, 255});
        canvas.begin();
        c->draw();
        int lit = 0;
        for (int i = -11; i < 11; ++i)
            lit += sameRgb(canvas.at(0.05 * i + 0.025, 0.1), {10, 220, 30, 0}, 1);
        QCOMPARE(lit, 22);
        QVERIFY(sameRgb(canvas.at(0.0, 0.2), {0, 0, 0, 0}));
        QVERIFY(sameRgb(canvas.at(0.8, 0.1), {0, 0, 0, 0}));
        // About three pixels wide.
        const int width = countPixels([](Color4b p) { return p.g > 100; }) / (int(1.2 * GlCanvas::Size / 2));
        QVERIFY2(width >= 2 && width <= 4, QByteArray::number(width));
        c->setFocused(true);
        canvas.begin();
        c->draw();
        QVERIFY(sameRgb(canvas.at(0.0, 0.1), c->getFocusColor(), 1));
        QVERIFY(canvas.gl->glIsEnabled(GL_LIGHTING));
    }

    void sideSphereHasTheBandRadius() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "sphere_a.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "sphere_b.ply", {3, 0, 0}));
        RBand* c = addBand(graph, a, b, {0, 0, 0}, {5, 0, 0});
        c->setRadius(0, 0.25f);
        c->setRadius(1, 0.1f);
        auto discPixels = [&](const ObjId* side, float scale, int mode) {
            canvas.begin();
            c->drawSide(side, scale, mode);
            return countPixels([](Color4b p) { return p.r > 200; });
        };
        // 100 pixels per unit: radius 25 pixels, area pi 25^2.
        const double area = M_PI * 25.0 * 25.0;
        QVERIFY(std::abs(discPixels(&a->objId(), 1.0f, 1) - area) < 0.04 * area);
        QVERIFY(std::abs(discPixels(&a->objId(), 2.0f, 1) - 4 * area) < 0.04 * 4 * area);
        QVERIFY(std::abs(discPixels(&a->objId(), -1.0f, 1) - area) < 0.04 * area); // |radius * scale|
        QCOMPARE(discPixels(&a->objId(), 0.0f, 1), 0);
        QCOMPARE(discPixels(&b->objId(), 1.0f, 1), 0); // side 1 lies outside the view
        // Mode 1 draws at the recorded point, mode 0 at the current one.
        c->transformSamples(&a->objId(), translation(0.5, 0.5, 0));
        canvas.begin();
        c->drawSide(&a->objId(), 1.0f, 0);
        QVERIFY(canvas.at(0.5, 0.5).r > 200);
        QVERIFY(canvas.at(0.0, 0.0).r == 0);
        canvas.begin();
        c->drawSide(&a->objId(), 1.0f, 1);
        QVERIFY(canvas.at(0.0, 0.0).r > 200);
        QVERIFY(canvas.at(0.5, 0.5).r == 0);
        // The sphere is a solid: it hides what lies behind it, not what lies in front.
        canvas.begin();
        auto behind = gridFragment(-0.5, -0.5, 0.5, 0.5, 1, {0, 0, 255, 1}, -1.0);
        auto front = gridFragment(0.1, -0.1, 0.3, 0.1, 1, {0, 255, 0, 1}, 1.0);
        behind->draw(false);
        front->draw(false);
        c->drawSide(&a->objId(), 1.0f, 1);
        QVERIFY(canvas.at(-0.1, 0.0).r > 200);
        QVERIFY(canvas.at(0.2, 0.0).g > 200);
        QVERIFY(canvas.at(-0.4, 0.4).b > 200);
        releaseFragmentBuffers(behind.get());
        releaseFragmentBuffers(front.get());
    }

    void constraintMarkersFollowTheObjectKind() {
        // Top-level wrappers a, b; a user group g (top level) holding wrappers c, d; constraints:
        // ab (top-level wrappers), cd (inside g: nested wrappers), and gb (g at top level).
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "m_a.ply", {5, 5, 5}));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "m_b.ply", {6, 5, 5}));
        FragGroup* c = addFragment(graph, writeTetrahedron(dir, "m_c.ply", {7, 5, 5}));
        FragGroup* d = addFragment(graph, writeTetrahedron(dir, "m_d.ply", {8, 5, 5}));
        FragGroup* g = addGroup(graph);
        g->addChild(c);
        g->addChild(d);
        RBand* ab = addBand(graph, a, b, {-0.7, 0.7, 0}, {0.9, 0.9, 0});
        RBand* cd = addBand(graph, c, d, {-0.7, -0.2, 0}, {0.7, -0.2, 0});
        RBand* gb = addBand(graph, g, b, {-0.5, -0.7, 0}, {0.9, 0.9, 0});
        for (RBand* r : {ab, cd, gb}) {
            r->setRadius(0, 0.08f);
            r->setRadius(1, 0.08f);
        }
        // ab's current point on a moved away from the recorded one.
        ab->transformSamples(&a->objId(), translation(0.0, -0.3, 0));

        // Top-level wrapper: the sphere at the recorded point only.
        canvas.begin();
        a->drawConstraints(nullptr);
        QVERIFY(canvas.at(-0.7, 0.7).r > 200);
        QVERIFY(canvas.at(-0.7, 0.4).r == 0);
        QCOMPARE(countPixels([](Color4b p) { return p.r > 200; }),
                 countPixels([](Color4b p) { return p.r > 0; }));

        // The wrapper does not pass the call on to its fragment, which holds no constraints of its
        // own here; one attached to the fragment itself shows the sphere of the recorded point.
        canvas.begin();
        a->wrappedFragment()->drawConstraints(nullptr);
        QCOMPARE(countPixels([](Color4b p) { return p.r > 0; }), 0);
        Fragment* fa = a->wrappedFragment();
        Fragment* fb = b->wrappedFragment();
        auto* ff = new RBand(graph.nextConstraintId(), &fa->objId(), &fb->objId());
        ff->addPoint(&fa->objId(), {0.3, 0.3, 0});
        ff->addPoint(&fb->objId(), {0.9, 0.9, 0});
        ff->setRadius(0, 0.08f);
        ff->transformSamples(&fa->objId(), translation(0.2, 0, 0));
        graph.addConstraint(ff);
        fa->attachConstraint(ff);
        canvas.begin();
        fa->drawConstraints(nullptr);
        QVERIFY(canvas.at(0.3, 0.3).r > 200);
        QVERIFY(canvas.at(0.5, 0.3).r == 0);
        fa->detachConstraint(ff->id());

        // Top-level user group: no sphere for its own constraint gb, but its members' constraint cd
        // (attached to nested wrappers) is drawn as a whole band.
        canvas.begin();
        g->drawConstraints(nullptr);
        QVERIFY(canvas.at(-0.5, -0.7).r == 0);
        for (double x : {-0.6, 0.0, 0.6})
            QVERIFY(canvas.at(x, -0.2).r > 200);

        // With a painter the ids are written in white next to their points.
        canvas.begin();
        QOpenGLPaintDevice device(GlCanvas::Size, GlCanvas::Size);
        {
            QPainter painter(&device);
            painter.beginNativePainting();
            canvas.gl->glMatrixMode(GL_PROJECTION);
            canvas.gl->glLoadIdentity();
            canvas.gl->glOrtho(-1, 1, -1, 1, -10, 10);
            canvas.gl->glMatrixMode(GL_MODELVIEW);
            canvas.gl->glLoadIdentity();
            canvas.gl->glEnable(GL_DEPTH_TEST);
            Eigen::Matrix4d modelView;
            canvas.gl->glGetDoublev(GL_MODELVIEW_MATRIX, modelView.data());
            g->drawConstraints(&painter);
            // Back in native painting with the scene's matrices and depth test: a fragment drawn
            // now lands where it should.
            Eigen::Matrix4d after;
            canvas.gl->glGetDoublev(GL_MODELVIEW_MATRIX, after.data());
            QVERIFY(after == modelView);
            QVERIFY(canvas.gl->glIsEnabled(GL_DEPTH_TEST));
            auto square = gridFragment(0.6, 0.6, 0.9, 0.9, 1, {0, 0, 200, 1});
            square->draw(false);
            releaseFragmentBuffers(square.get());
            painter.endNativePainting();
        }
        canvas.fbo->bind();
        auto whiteNear = [&](double x, double y) {
            const int cx = int((x + 1.0) * GlCanvas::Size / 2), cy = int((y + 1.0) * GlCanvas::Size / 2);
            int n = 0;
            for (int py = cy - 12; py <= cy + 12; ++py)
                for (int px = cx - 4; px <= cx + 24; ++px) {
                    const Color4b p = canvas.pixel(px, py);
                    n += p.r > 150 && p.g > 150 && p.b > 150;
                }
            return n;
        };
        QVERIFY(whiteNear(-0.5, -0.7) > 5);     // gb's label at g's current point
        QVERIFY(whiteNear(-0.7, -0.2) > 5);     // cd's label, seen from c
        QVERIFY(whiteNear(0.7, -0.2) > 5);      // and from d
        QVERIFY(whiteNear(0.0, 0.5) == 0);      // nowhere else
        QVERIFY(canvas.at(0.75, 0.75).b > 200); // drawn after the labels
        QVERIFY(canvas.at(0.0, -0.2).r > 200);

        // A nested group: its own constraint is drawn as the whole band.
        FragGroup* outer = addGroup(graph);
        outer->addChild(g);
        canvas.begin();
        g->drawConstraints(nullptr);
        for (double x : {-0.3, 0.3, 0.7})
            QVERIFY(canvas.at(x, -0.7 + (x + 0.5) / 1.4 * 1.6).r > 200);
    }
};

int main(int argc, char** argv) {
    setProgramGlDefaults();
    QGuiApplication app(argc, argv);
    TestSceneRenderer test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_scene_renderer.moc"
