// The interpenetration view under a real X server and OpenGL: closed shapes pushed into each other
// (the faces inside the other shape computed exactly), far from the origin, touching, at rising
// tolerances, twice in a row; the smoothing of marks on hand-built meshes; repeated faces; the
// depth-peeling shader file and its fallbacks; the bound on passes; refusals.

#include "../gl_test_main.h"
#include "closed_shapes.h"
#include "diagnostic_log.h"
#include "error_marks.h"
#include "error_view.h"
#include "gl_test_support.h"
#include "scene_renderer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
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

} // namespace

class TestErrorView : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    ErrorView view;

    // Two spheres of radius 1 whose centres lie 1.1 apart, near origin o.
    struct Spheres {
        TotalGraph graph;
        Point3d ca, cb;
        FragGroup* a = nullptr;
        FragGroup* b = nullptr;
    };
    void makeSpheres(Spheres& s, const Point3d& o, int slices = 72, int stacks = 36) {
        s.ca = o + Point3d(-0.5, -0.1, 0.2);
        s.cb = o + Point3d(0.45, 0.25, -0.1);
        s.a = addSphere(s.graph, s.ca, 1.0, slices, stacks, "a.ply");
        s.b = addSphere(s.graph, s.cb, 1.0, slices, stacks, "b.ply");
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
        for (const DirectionReport& d : r.directions) {
            QVERIFY2(d.passes >= 4, QByteArray::number(d.passes));
            QVERIFY(!d.stoppedByBound);
        }
        const Agreement inA = agreement(fragmentOf(s.a).mesh(), insideSphere(s.cb, 1.0));
        const Agreement inB = agreement(fragmentOf(s.b).mesh(), insideSphere(s.ca, 1.0));
        qInfo("%s / %s passes %d %d %d", inA.text().constData(), inB.text().constData(), r.directions[0].passes, r.directions[1].passes, r.directions[2].passes);
        for (const Agreement& g : {inA, inB}) {
            QVERIFY2(g.inside > 500, g.text());
            QVERIFY2(g.precision() >= 0.95 && g.recall() >= 0.95, g.text());
        }
        QCOMPARE(r.fragments.size(), std::size_t(2));
        QCOMPARE(r.fragments[0].markedFaces, markedFaceCount(fragmentOf(s.a).mesh()));
        QVERIFY(fragmentOf(s.a).mesh().changes & FragMesh::Marks);
    }
    void explore() {
        for (double pen : {0.002, -0.002}) {
            TotalGraph g;
            FragMesh ma, mb;
            appendBox(ma, {0, 0, 0}, {1, 1, 1}, 20);
            appendBox(mb, {1 - pen, 0.1, 0.15}, {2, 0.9, 0.85}, 20);
            FragGroup* a = addMeshFragment(g, std::move(ma), "a");
            FragGroup* b = addMeshFragment(g, std::move(mb), "b");
            for (float t : {1e-5f, 1e-4f, 1e-3f, 1e-2f}) {
                const ErrorReport r = view.update(&g, idsOf({a, b}), t);
                qInfo("pen %g t %g: marks a %zu b %zu passes %d %d %d", pen, t, r.fragments[0].markedFaces, r.fragments[1].markedFaces, r.directions[0].passes, r.directions[1].passes, r.directions[2].passes);
            }
        }
    }
};

OSTRAKIT_GL_TEST_MAIN(TestErrorView)
#include "test_error_view.moc"
