// The interpenetration view under a real X server and OpenGL: closed shapes pushed into each other
// (the faces inside the other shape computed exactly), far from the origin, touching, at rising
// tolerances, twice in a row; the smoothing of marks on hand-built meshes; repeated faces; the
// depth-peeling shader file and its fallbacks; the bound on passes; refusals.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "closed_shapes.h"
#include "diagnostic_log.h"
#include "error_marks.h"
#include "error_view.h"
#include "gl_test_support.h"
#include "peeling_shader.h"
#include "scene_renderer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <cmath>
#include <functional>

namespace {

constexpr float Tolerance = 1e-5f;

// How a fragment's marks agree with the faces that lie inside the other shape. Faces whose
// vertices lie on both sides of the other shape's surface count neither way.
struct Agreement {
    std::size_t inside = 0, markedInside = 0, markedOutside = 0;
    double precision() const {
        const std::size_t marked = markedInside + markedOutside;
        return marked ? double(markedInside) / double(marked) : 1.0;
    }
    double recall() const { return inside ? double(markedInside) / double(inside) : 1.0; }
    QByteArray text() const {
        return QByteArray("inside ") + QByteArray::number(qulonglong(inside)) + ", marked inside " +
               QByteArray::number(qulonglong(markedInside)) + ", marked outside " +
               QByteArray::number(qulonglong(markedOutside));
    }
};

Agreement agreement(const FragMesh& m, const std::function<bool(const Point3d&)>& insideOther,
                    std::size_t firstFace = 0, std::size_t endFace = ~std::size_t(0)) {
    Agreement a;
    endFace = std::min(endFace, m.faceCount());
    for (std::size_t k = firstFace; k < endFace; ++k) {
        int in = 0;
        for (std::uint32_t v : m.faces[k])
            in += insideOther(m.vertices[v]);
        if (in == 3) {
            ++a.inside;
            a.markedInside += m.marked[k] != 0;
        } else if (in == 0) {
            a.markedOutside += m.marked[k] != 0;
        }
    }
    return a;
}

std::function<bool(const Point3d&)> insideSphere(const Point3d& c, double r) {
    return [c, r](const Point3d& p) { return (p - c).norm() < r; };
}

std::function<bool(const Point3d&)> insideBox(const Point3d& lo, const Point3d& hi) {
    return [lo, hi](const Point3d& p) {
        return (p.array() > lo.array()).all() && (p.array() < hi.array()).all();
    };
}

Fragment& fragmentOf(FragGroup* wrapper) {
    return *wrapper->wrappedFragment();
}

std::vector<int> idsOf(std::initializer_list<FragGroup*> objects) {
    std::vector<int> ids;
    for (FragGroup* o : objects)
        ids.push_back(o->id());
    return ids;
}

QByteArray logText() {
    QFile f(QStringLiteral("LogError.txt"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The window depth of a world distance along a view axis: the error camera's depth range is
// 2 f - f / 100 with f = 2 D (D the diagonal of the box of everything computed).
double depthOfDistance(double distance, const Box3d& box) {
    const double f = 2.0 * box.diag();
    return distance / (2.0 * f - f / 100.0);
}

// A fragment of n x n grid squares (two triangles each) with face-face adjacency; no graph.
std::unique_ptr<Fragment> markedGrid(int n) {
    auto f = gridFragment(0, 0, 1, 1, n, {200, 200, 200, 255});
    f->mesh().updateFaceFaceAdjacency();
    return f;
}

// Face of the grid with two border edges: the lower right half of the square in the bottom
// right corner.
std::size_t cornerFace(int n) {
    return std::size_t(2 * (n - 1));
}

} // namespace

class TestErrorView : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    ErrorView view;

    // Two spheres of radius 1 whose centres lie about 1.0 apart, near origin o.
    struct Spheres {
        TotalGraph graph;
        Point3d ca, cb;
        FragGroup* a = nullptr;
        FragGroup* b = nullptr;
    };
    void makeSpheres(Spheres& s, const Point3d& o) {
        s.ca = o + Point3d(-0.5, -0.1, 0.2);
        s.cb = o + Point3d(0.45, 0.25, -0.1);
        s.a = addSphere(s.graph, s.ca, 1.0, 72, 36, "a.ply");
        s.b = addSphere(s.graph, s.cb, 1.0, 72, 36, "b.ply");
    }

    // What the log gained since `from` bytes.
    static QByteArray logSince(qsizetype from) { return logText().mid(from); }

    // Marks of both spheres with the shader file (if any) of the working directory.
    std::vector<std::uint8_t> sphereMarks(Spheres& s, ErrorReport& report) {
        report = view.update(&s.graph, idsOf({s.a, s.b}), Tolerance);
        std::vector<std::uint8_t> marks = fragmentOf(s.a).mesh().marked;
        const std::vector<std::uint8_t>& inB = fragmentOf(s.b).mesh().marked;
        marks.insert(marks.end(), inB.begin(), inB.end());
        return marks;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QDir::setCurrent(dir.path());
        installSceneRenderer();
        QVERIFY2(view.ensureContext(), qPrintable(view.contextProblem()));
    }

    void overlappingSpheresMarkTheFacesInsideEachOther_data() {
        QTest::addColumn<Point3d>("origin");
        QTest::newRow("near the origin") << Point3d(0, 0, 0);
        QTest::newRow("georeferenced") << Point3d(123456.0, 98765.0, 101010.0);
    }
    void overlappingSpheresMarkTheFacesInsideEachOther() {
        QFETCH(Point3d, origin);
        Spheres s;
        makeSpheres(s, origin);
        const ErrorReport r = view.update(&s.graph, idsOf({s.a, s.b}), Tolerance);
        QVERIFY2(r.computed, qPrintable(r.refusal));
        QVERIFY(r.refusal.isEmpty());
        for (const DirectionReport& d : r.directions) {
            // Four surfaces along the lines through both, then the pass that finds nothing.
            QVERIFY2(d.passes >= 4 && d.passes <= 6, QByteArray::number(d.passes));
            QVERIFY(!d.stoppedByBound);
        }
        const Agreement inA = agreement(fragmentOf(s.a).mesh(), insideSphere(s.cb, 1.0));
        const Agreement inB = agreement(fragmentOf(s.b).mesh(), insideSphere(s.ca, 1.0));
        for (const Agreement& g : {inA, inB}) {
            QVERIFY2(g.inside > 500, g.text());
            QVERIFY2(g.precision() >= 0.95 && g.recall() >= 0.95, g.text());
        }
        QCOMPARE(r.fragments.size(), std::size_t(2));
        QCOMPARE(r.fragments[0].fragment, &fragmentOf(s.a));
        QCOMPARE(r.fragments[0].faces, fragmentOf(s.a).mesh().faceCount());
        QCOMPARE(r.fragments[0].markedFaces, markedFaceCount(fragmentOf(s.a).mesh()));
        QCOMPARE(r.totalMarkedFaces(), r.fragments[0].markedFaces + r.fragments[1].markedFaces);
        // The views redraw the red faces.
        QVERIFY(fragmentOf(s.a).mesh().changes & FragMesh::Marks);
        QVERIFY(s.graph.validate().isEmpty());
    }

    void facesSeenOnlyAlongTheUpAxisAreMarked() {
        // A box pushed down into another: its bottom and the other's top lie inside each other,
        // and only the view along y sees those horizontal faces other than edge-on.
        TotalGraph g;
        FragMesh lower, upper;
        const Point3d lo(0, 0, 0), hi(1, 1, 1), upLo(0.2, 0.9, 0.15), upHi(0.8, 1.6, 0.85);
        appendBox(lower, lo, hi, 20);
        appendBox(upper, upLo, upHi, 20);
        FragGroup* a = addMeshFragment(g, std::move(lower), "lower.ply");
        FragGroup* b = addMeshFragment(g, std::move(upper), "upper.ply");
        const ErrorReport r = view.update(&g, idsOf({a, b}), Tolerance);
        QVERIFY(r.computed);
        QVERIFY2(r.directions[1].passes >= 4, QByteArray::number(r.directions[1].passes));
        const FragMesh& top = fragmentOf(b).mesh();
        const Agreement inLower = agreement(fragmentOf(a).mesh(), insideBox(upLo, upHi));
        const Agreement inUpper = agreement(top, insideBox(lo, hi));
        for (const Agreement& m : {inLower, inUpper})
            QVERIFY2(m.precision() >= 0.95 && m.recall() >= 0.95, m.text());
        // Every face of the upper box's bottom is marked.
        std::size_t bottom = 0, bottomMarked = 0;
        for (std::size_t k = 0; k < top.faceCount(); ++k)
            if (top.faceNormals[k].y() < -0.99) {
                ++bottom;
                bottomMarked += top.marked[k];
            }
        QCOMPARE(bottom, std::size_t(800));
        QCOMPARE(bottomMarked, bottom);
    }

    void shapesThatOnlyTouchStayUnmarked_data() {
        QTest::addColumn<double>("gap");
        QTest::newRow("sharing a plane") << 0.0;
        QTest::newRow("a hair apart") << 1e-4;
        QTest::newRow("apart") << 0.01;
    }
    void shapesThatOnlyTouchStayUnmarked() {
        QFETCH(double, gap);
        TotalGraph g;
        FragMesh left, right;
        appendBox(left, {0, 0, 0}, {1, 1, 1}, 20);
        appendBox(right, {1 + gap, 0.1, 0.15}, {2, 0.9, 0.85}, 20);
        FragGroup* a = addMeshFragment(g, std::move(left), "left.ply");
        FragGroup* b = addMeshFragment(g, std::move(right), "right.ply");
        for (float t : {Tolerance, 1e-3f}) {
            const ErrorReport r = view.update(&g, idsOf({a, b}), t);
            QVERIFY(r.computed);
            QCOMPARE(r.totalMarkedFaces(), std::size_t(0));
        }
    }

    void contactNoiseClearsOnceTheToleranceExceedsItsDepth() {
        // Two boxes whose contact faces lie 0.002 inside each other along x: marked at a small
        // tolerance, clear once the tolerance exceeds that depth (and never elsewhere).
        TotalGraph g;
        FragMesh left, right;
        const double depth = 0.002;
        appendBox(left, {0, 0, 0}, {1, 1, 1}, 20);
        appendBox(right, {1 - depth, 0.1, 0.15}, {2, 0.9, 0.85}, 20);
        FragGroup* a = addMeshFragment(g, std::move(left), "left.ply");
        FragGroup* b = addMeshFragment(g, std::move(right), "right.ply");
        Box3d both = a->getMeshBBox();
        both.add(b->getMeshBBox());
        const float contact = float(depthOfDistance(depth, both));

        ErrorReport r = view.update(&g, idsOf({a, b}), contact / 4);
        // The contact faces of the right box lie inside the left one.
        QVERIFY2(r.fragments[1].markedFaces >= 700,
                 QByteArray::number(qulonglong(r.fragments[1].markedFaces)));
        const FragMesh& l = fragmentOf(a).mesh();
        for (std::size_t k = 0; k < l.faceCount(); ++k)
            if (l.marked[k])
                QVERIFY2(l.faceNormals[k].x() > 0.99, "only the left box's contact side is marked");
        r = view.update(&g, idsOf({a, b}), contact * 2);
        QCOMPARE(r.totalMarkedFaces(), std::size_t(0));
    }

    void marksAndPassesShrinkAsTheToleranceRises() {
        Spheres s;
        makeSpheres(s, {0, 0, 0});
        std::size_t lastMarks = ~std::size_t(0);
        int lastPasses = INT_MAX;
        std::vector<std::size_t> marks;
        std::vector<int> passes;
        for (float t : {1e-5f, 1e-4f, 1e-3f, 1e-2f, 3e-2f, 0.2f}) {
            const ErrorReport r = view.update(&s.graph, idsOf({s.a, s.b}), t);
            marks.push_back(r.totalMarkedFaces());
            passes.push_back(r.totalPasses());
            QVERIFY2(marks.back() <= lastMarks && passes.back() <= lastPasses,
                     QByteArray::number(t) + ": " + QByteArray::number(qulonglong(marks.back())) +
                         " marks, " + QByteArray::number(passes.back()) + " passes");
            lastMarks = marks.back();
            lastPasses = passes.back();
        }
        QVERIFY(marks.front() > 1000);
        // Beyond the deepest overlap along any axis nothing is inside by more than the tolerance.
        QCOMPARE(marks.back(), std::size_t(0));
        QVERIFY(passes.back() < passes.front());
    }

    void marksDependOnlyOnPlacementAndTolerance() {
        Spheres s;
        makeSpheres(s, {0, 0, 0});
        ErrorReport r;
        const std::vector<std::uint8_t> first = sphereMarks(s, r);
        QCOMPARE(sphereMarks(s, r), first);
        // Neither a computation at another tolerance nor one without smoothing leaves anything
        // behind (hit counts start at 0 every time).
        view.update(&s.graph, idsOf({s.a, s.b}), 3e-2f);
        view.update(&s.graph, idsOf({s.a, s.b}), Tolerance, Smoothing::Off);
        QCOMPARE(sphereMarks(s, r), first);
        // Leaving a sphere out clears its marks; computing it alone marks nothing.
        r = view.update(&s.graph, idsOf({s.a}), Tolerance);
        QCOMPARE(r.totalMarkedFaces(), std::size_t(0));
        QCOMPARE(markedFaceCount(fragmentOf(s.a).mesh()), std::size_t(0));
    }

    void aFragmentInFrontOfTheOverlapChangesNoMark() {
        // A third sphere in front of the overlap along every axis, touching neither sphere: it
        // lies on the lines of sight through the overlap and partly outside them, and it
        // overlaps nothing: the two are marked where they lie inside each other, it nowhere.
        Spheres s;
        makeSpheres(s, {0, 0, 0});
        FragGroup* c = addSphere(s.graph, {2.6, 2.7, 2.6}, 1.2, 72, 36, "c.ply");
        ErrorReport r = view.update(&s.graph, idsOf({s.a, s.b, c}), Tolerance);
        QVERIFY(r.computed);
        const Agreement inA = agreement(fragmentOf(s.a).mesh(), insideSphere(s.cb, 1.0));
        const Agreement inB = agreement(fragmentOf(s.b).mesh(), insideSphere(s.ca, 1.0));
        for (const Agreement& g : {inA, inB})
            QVERIFY2(g.precision() >= 0.95 && g.recall() >= 0.95, g.text());
        QCOMPARE(markedFaceCount(fragmentOf(c).mesh()), std::size_t(0));
        // Pushed into both, it is marked where it lies inside them, and they where they lie in it.
        Matrix44d in = Matrix44d::Identity();
        in.block<3, 1>(0, 3) = Point3d(-2.1, -2.3, -2.3);
        c->applyTransform(&in);
        r = view.update(&s.graph, idsOf({s.a, s.b, c}), Tolerance);
        const Point3d cc = Point3d(2.6 - 2.1, 2.7 - 2.3, 2.6 - 2.3);
        const Agreement inC = agreement(fragmentOf(c).mesh(), [&](const Point3d& p) {
            return insideSphere(s.ca, 1.0)(p) || insideSphere(s.cb, 1.0)(p);
        });
        QVERIFY2(inC.inside > 500, inC.text());
        QVERIFY2(inC.precision() >= 0.95 && inC.recall() >= 0.95, inC.text());
        const Agreement aInC = agreement(fragmentOf(s.a).mesh(), [&](const Point3d& p) {
            return insideSphere(s.cb, 1.0)(p) || insideSphere(cc, 1.2)(p);
        });
        QVERIFY2(aInC.precision() >= 0.95 && aInC.recall() >= 0.95, aInC.text());
    }

    void smoothingFillsHolesAndErodesSpecks() {
        const int n = 8;
        const std::size_t middle = std::size_t(2 * (4 * n + 4));
        // A lone marked face disappears.
        auto speck = markedGrid(n);
        FragMesh& m1 = speck->mesh();
        m1.marked[middle] = 1;
        smoothMarks(m1);
        QCOMPARE(markedFaceCount(m1), std::size_t(0));
        // A lone unmarked face among marked ones becomes marked, and nothing else changes.
        auto hole = markedGrid(n);
        FragMesh& m2 = hole->mesh();
        m2.marked.assign(m2.faceCount(), 1);
        m2.marked[middle] = 0;
        m2.hitCounts[middle] = 1;
        smoothMarks(m2);
        QCOMPARE(markedFaceCount(m2), m2.faceCount());
        QCOMPARE(m2.hitCounts[middle], 0);
        // A mesh without marks is left alone.
        auto clean = markedGrid(n);
        clean->mesh().hitCounts[3] = 1;
        smoothMarks(clean->mesh());
        QCOMPARE(clean->mesh().hitCounts[3], 1);
    }

    void smoothingCountsABorderEdgeAsTheFaceItself() {
        const int n = 8;
        const std::size_t corner = cornerFace(n);
        auto check = markedGrid(n);
        // The corner face has two border edges and one neighbour.
        int border = 0;
        for (std::uint32_t neighbour : check->mesh().adjacency[corner].face)
            border += neighbour == corner;
        QCOMPARE(border, 2);
        // Marked alone it keeps its mark: its border edges count as marked, so only one
        // neighbour is unmarked.
        auto kept = markedGrid(n);
        kept->mesh().marked[corner] = 1;
        smoothMarks(kept->mesh());
        QCOMPARE(int(kept->mesh().marked[corner]), 1);
        QCOMPARE(markedFaceCount(kept->mesh()), std::size_t(1));
        // Unmarked among marked faces it stays unmarked: its border edges count as unmarked.
        auto open = markedGrid(n);
        open->mesh().marked.assign(open->mesh().faceCount(), 1);
        open->mesh().marked[corner] = 0;
        smoothMarks(open->mesh());
        QCOMPARE(int(open->mesh().marked[corner]), 0);
        QCOMPARE(markedFaceCount(open->mesh()), open->mesh().faceCount() - 1);
    }

    void repeatedFacesAreLeftOutOfThePickPasses() {
        // Faces 2 and 4 have the same vertices in another order.
        FragMesh m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
        m.faces = {{0, 1, 2}, {0, 1, 3}, {1, 2, 3}, {0, 2, 3}, {3, 2, 1}, {1, 2, 4}};
        using Runs = std::vector<std::pair<std::size_t, std::size_t>>;
        QCOMPARE(pickFaceRuns(m), (Runs{{0, 2}, {3, 1}, {5, 1}}));
        m.faces = {{0, 1, 2}, {0, 1, 3}};
        QCOMPARE(pickFaceRuns(m), (Runs{{0, 2}}));
    }

    void aMembraneInsideAClosedShapeMarksNothingBehindIt() {
        // Sphere a holds a disc across its equator listed twice (once each way), as fracture
        // data sometimes does; sphere b overlaps it. The membrane stays in the mesh, is not
        // marked, and does not make everything behind it look inside.
        TotalGraph g;
        const Point3d ca(0, 0, 0), cb(1.0, 0.3, 0.2);
        FragMesh withMembrane;
        appendSphere(withMembrane, ca, 1.0, 72, 36);
        const std::size_t sphereFaces = withMembrane.faces.size();
        appendEquatorMembrane(withMembrane, 0, ca, 72, 36);
        FragGroup* a = addMeshFragment(g, std::move(withMembrane), "membrane.ply");
        FragGroup* b = addSphere(g, cb, 1.0, 72, 36, "b.ply");
        const ErrorReport r = view.update(&g, idsOf({a, b}), Tolerance);
        QVERIFY(r.computed);
        const FragMesh& m = fragmentOf(a).mesh();
        QCOMPARE(m.faceCount(), sphereFaces + 2 * 72);
        const Agreement shell = agreement(m, insideSphere(cb, 1.0), 0, sphereFaces);
        QVERIFY2(shell.precision() >= 0.95 && shell.recall() >= 0.95, shell.text());
        for (std::size_t k = sphereFaces; k < m.faceCount(); ++k)
            QCOMPARE(int(m.marked[k]), 0);
        const Agreement other = agreement(fragmentOf(b).mesh(), insideSphere(ca, 1.0));
        QVERIFY2(other.precision() >= 0.95 && other.recall() >= 0.95, other.text());
    }

    void theShaderFileOfTheWorkingDirectoryIsUsed() {
        Spheres s;
        makeSpheres(s, {0, 0, 0});
        ErrorReport r;
        QFile::remove(PeelingShader::FileName);
        qsizetype from = logText().size();
        const std::vector<std::uint8_t> builtIn = sphereMarks(s, r);
        QVERIFY(logSince(from).contains("using the built-in shader"));
        QVERIFY(logSince(from).contains("Init try no. 0 successful!"));
        QVERIFY(logSince(from).contains("useAsDest: frameID = "));

        // The built-in text as a file: read, compiled, same marks.
        writeFile(PeelingShader::FileName, PeelingShader::builtInSource());
        from = logText().size();
        QCOMPARE(sphereMarks(s, r), builtIn);
        QVERIFY(logSince(from).contains("Compiled ok..."));
        QVERIFY(!logSince(from).contains("built-in"));

        // A shader that does not peel: every direction ends at the bound, logged.
        writeFile(PeelingShader::FileName,
                  "#version 120\nvoid main() { gl_FragColor = vec4(gl_Color.rgb, 1.0); }\n");
        from = logText().size();
        sphereMarks(s, r);
        QVERIFY(r.computed);
        for (const DirectionReport& d : r.directions) {
            QCOMPARE(d.passes, MaxPassesPerDirection);
            QVERIFY(d.stoppedByBound);
        }
        QCOMPARE(logSince(from).count("Depth peeling stopped after 64 passes"), 3);
        QFile::remove(PeelingShader::FileName);
    }

    void aBrokenShaderFileFallsBackToTheBuiltInOne_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("does not compile") << QByteArray("#version 120\nvoid main() { gl_FragColor = ; }\n")
                                          << QByteArray("Error Compiling shader!!");
        QTest::newRow("does not link")
            << QByteArray("#version 120\nvoid helper() {}\n") << QByteArray("Error Linking shader!!");
        QTest::newRow("too long") << QByteArray(int(MaxTextFileBytes) + 1, ' ')
                                  << QByteArray("absent, unreadable or longer than 65536 bytes");
    }
    void aBrokenShaderFileFallsBackToTheBuiltInOne() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, logged);
        Spheres s;
        makeSpheres(s, {0, 0, 0});
        ErrorReport r;
        QFile::remove(PeelingShader::FileName);
        const std::vector<std::uint8_t> builtIn = sphereMarks(s, r);
        writeFile(PeelingShader::FileName, source);
        const qsizetype from = logText().size();
        QCOMPARE(sphereMarks(s, r), builtIn);
        QVERIFY2(logSince(from).contains(logged), logSince(from).left(400));
        QVERIFY(logSince(from).contains("built-in shader"));
        for (const DirectionReport& d : r.directions)
            QVERIFY(!d.stoppedByBound);
        QFile::remove(PeelingShader::FileName);
    }

    void moreFacesThanPickCodesIsRefused() {
        // 2^24 faces in all: one more than the codes below white can name.
        TotalGraph g;
        Spheres s;
        FragGroup* small = addSphere(g, {0, 0, 0}, 1.0, 12, 6, "small.ply");
        fragmentOf(small).mesh().marked[0] = 1;
        auto* wrapper = new FragGroup(&g);
        wrapper->setHidden(true);
        wrapper->objId().id = g.nextFreeId();
        auto* big = new Fragment(&g);
        big->objId().id = wrapper->id();
        big->mesh().vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        big->mesh().faces.assign(std::size_t(1) << 24, FragMesh::Face{0, 1, 2});
        big->mesh().faces.resize(big->mesh().faces.size() - fragmentOf(small).mesh().faceCount());
        wrapper->addChild(big);
        g.addObject(wrapper);
        const qsizetype from = logText().size();
        const ErrorReport r = view.update(&g, idsOf({small, wrapper}), Tolerance);
        QVERIFY(!r.computed);
        QVERIFY2(r.refusal.contains("16777216 faces") && r.refusal.contains("16777215"),
                 qPrintable(r.refusal));
        QVERIFY(logSince(from).contains("more than the pick codes can name"));
        QCOMPARE(int(fragmentOf(small).mesh().marked[0]), 1);
        QCOMPARE(markedFaceCount(fragmentOf(small).mesh()), std::size_t(1));
    }

    void theFragmentGroupLendsItsFragmentsWithoutTakingThem() {
        TotalGraph g;
        FragGroup* a = addSphere(g, {0, 0, 0}, 1.0, 12, 6, "a.ply");
        FragGroup* b = addSphere(g, {3, 0, 0}, 1.0, 16, 8, "b.ply");
        FragGroup* c = addSphere(g, {6, 0, 0}, 1.0, 10, 5, "c.ply");
        FragGroup* user = addGroup(g);
        user->addChild(b);
        user->addChild(c);
        g.removeObject(b->id()), g.removeObject(c->id());
        g.adoptObject(b), g.adoptObject(c);
        fragmentOf(c).mesh().marked[2] = 1;
        fragmentOf(c).mesh().changes = 0;
        const Color4b colour = fragmentOf(b).getColor();
        const QStringList before = g.validate();
        {
            const std::unique_ptr<FragGroup> group = makeFragmentGroup(&g, {a->id(), user->id(), b->id()});
            // Every fragment once, codes consecutive in the order of the objects, depth first.
            QCOMPARE(group->childCount(), 3);
            const std::size_t na = fragmentOf(a).mesh().faceCount(), nb = fragmentOf(b).mesh().faceCount();
            QCOMPARE(fragmentOf(a).getBasePickCode(), 0);
            QCOMPARE(fragmentOf(b).getBasePickCode(), int(na));
            QCOMPARE(fragmentOf(c).getBasePickCode(), int(na + nb));
            GeometrObj* owner = nullptr;
            const Color4b last = fragmentOf(c).mesh().pickColors.back();
            QCOMPARE(group->faceFromPickColor(last.r, last.g, last.b, &owner),
                     int(fragmentOf(c).mesh().faceCount() - 1));
            QCOMPARE(owner, static_cast<GeometrObj*>(&fragmentOf(c)));
            // Marks cleared (and the views told), parents and colours untouched.
            QCOMPARE(markedFaceCount(fragmentOf(c).mesh()), std::size_t(0));
            QVERIFY(fragmentOf(c).mesh().changes & FragMesh::Marks);
            QCOMPARE(fragmentOf(b).parentId(), b->id());
            QCOMPARE(b->parentId(), user->id());
            QCOMPARE(fragmentOf(b).getColor(), colour);
            QCOMPARE(group->getMeshBBox().max.x(), fragmentOf(c).getMeshBBox().max.x());
        }
        // Dropping the group leaves every fragment where it was.
        QCOMPARE(g.validate(), before);
        QCOMPARE(fragmentOf(c).mesh().faceCount(), std::size_t(2 * 10 * 4));
        QCOMPARE(user->childCount(), 2);
    }

    void theCallersContextAndStateAreLeftAsTheyWere() {
        GlCanvas canvas;
        QVERIFY(canvas.create());
        canvas.begin();
        QOpenGLFunctions_2_1& gl = *canvas.gl;
        gl.glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
        gl.glViewport(10, 20, 30, 40);
        gl.glDepthFunc(GL_LEQUAL);
        gl.glMatrixMode(GL_PROJECTION);
        const GLdouble projection[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1};
        gl.glLoadMatrixd(projection);
        gl.glMatrixMode(GL_MODELVIEW);

        Spheres s;
        makeSpheres(s, {0, 0, 0});
        // In the caller's context, then through the view's own.
        const std::unique_ptr<FragGroup> group = makeFragmentGroup(&s.graph, idsOf({s.a, s.b}));
        QVERIFY(computeErrors(*group, Tolerance).totalMarkedFaces() > 0);
        QVERIFY(view.update(&s.graph, idsOf({s.a, s.b}), Tolerance).computed);
        QCOMPARE(QOpenGLContext::currentContext(), &canvas.context);

        GLfloat clear[4];
        gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        QCOMPARE(clear[2], 0.75f);
        GLint viewport[4], depthFunc = 0, framebuffer = 0, program = -1, matrixMode = 0;
        gl.glGetIntegerv(GL_VIEWPORT, viewport);
        QCOMPARE(viewport[2], 30);
        gl.glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
        QCOMPARE(depthFunc, GLint(GL_LEQUAL));
        gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        QCOMPARE(GLuint(framebuffer), canvas.fbo->handle());
        gl.glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        QCOMPARE(program, 0);
        gl.glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        QCOMPARE(matrixMode, GLint(GL_MODELVIEW));
        QVERIFY(gl.glIsEnabled(GL_LIGHTING));
        QVERIFY(!gl.glIsEnabled(GL_CULL_FACE));
        GLdouble p[16];
        gl.glGetDoublev(GL_PROJECTION_MATRIX, p);
        QCOMPARE(p[5], 3.0);
        QCOMPARE(gl.glGetError(), GLenum(GL_NO_ERROR));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestErrorView)
#include "test_error_view.moc"
