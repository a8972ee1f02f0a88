// FragMesh attribute allocation and update steps: normals, bounding box, face-face adjacency and
// transformation, checked against hand-computed answers.

#include "frag_mesh.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <set>

namespace {

FragMesh makeMesh(std::vector<Point3d> vertices, std::vector<FragMesh::Face> faces) {
    FragMesh m;
    m.vertices = std::move(vertices);
    m.faces = std::move(faces);
    m.allocateAttributes();
    return m;
}

// The tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1) with outward faces.
FragMesh tetrahedron() {
    return makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                    {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
}

bool near(const Point3d& a, const Point3d& b, double eps = 1e-12) {
    return (a - b).norm() <= eps;
}

QByteArray show(const Point3d& p) {
    return QByteArray("(") + QByteArray::number(p.x()) + ", " + QByteArray::number(p.y()) + ", " +
           QByteArray::number(p.z()) + ")";
}

#define CHECK_POINT(actual, expected)                                                                        \
    QVERIFY2(near((actual), (expected)), show(actual) + " != " + show(expected))

void prepare(FragMesh& m) {
    m.allocateAttributes();
    m.updateBoundingBox();
    m.updateNormals();
    m.updateFaceFaceAdjacency();
}

// The (face, edge) slots around the edge of slot (f, e): its cycle of links.
std::set<std::pair<std::uint32_t, int>> cycleOf(const FragMesh& m, std::uint32_t f, int e) {
    std::set<std::pair<std::uint32_t, int>> around;
    while (around.insert({f, e}).second) {
        const std::uint32_t g = m.adjacency[f].face[e];
        e = m.adjacency[f].edge[e];
        f = g;
    }
    return around;
}

// Every adjacency link must lead to a face that has the same edge (same two vertices).
void checkLinksShareEdges(const FragMesh& m) {
    for (std::size_t f = 0; f < m.faceCount(); ++f)
        for (int e = 0; e < 3; ++e) {
            const std::uint32_t g = m.adjacency[f].face[e];
            const int ge = m.adjacency[f].edge[e];
            QVERIFY(g < m.faceCount());
            QVERIFY(ge >= 0 && ge < 3);
            const auto& a = m.faces[f];
            const auto& b = m.faces[g];
            const auto ea = std::minmax(a[e], a[(e + 1) % 3]);
            const auto eb = std::minmax(b[ge], b[(ge + 1) % 3]);
            QVERIFY(ea == eb);
        }
}

} // namespace

class TestFragMesh : public QObject {
    Q_OBJECT

private slots:
    void allocateAttributesGivesDefaults() {
        FragMesh m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.faces = {{0, 1, 2}, {2, 1, 0}};
        m.allocateAttributes();
        const Color4b white{255, 255, 255, 255};
        QCOMPARE(m.fileColors.size(), std::size_t{3});
        QCOMPARE(m.displayColors.size(), std::size_t{3});
        QCOMPARE(m.highlightColors.size(), std::size_t{3});
        QCOMPARE(m.vertexNormals.size(), std::size_t{3});
        QCOMPARE(m.faceNormals.size(), std::size_t{2});
        QCOMPARE(m.adjacency.size(), std::size_t{2});
        QCOMPARE(m.marked.size(), std::size_t{2});
        QCOMPARE(m.hitCounts.size(), std::size_t{2});
        QCOMPARE(m.pickColors.size(), std::size_t{2});
        for (std::size_t v = 0; v < 3; ++v) {
            QVERIFY(m.fileColors[v] == white);
            QVERIFY(m.displayColors[v] == white);
            QVERIFY(m.highlightColors[v] == white);
        }
        QVERIFY(!m.hasVertexColors);
        for (std::uint32_t f = 0; f < 2; ++f) {
            QCOMPARE(m.marked[f], std::uint8_t{0});
            QCOMPARE(m.hitCounts[f], 0);
            QVERIFY((m.pickColors[f] == Color4b{0, 0, 0, 255}));
            for (int e = 0; e < 3; ++e) {
                QCOMPARE(m.adjacency[f].face[e], f);
                QCOMPARE(int(m.adjacency[f].edge[e]), e);
            }
        }
        // Arrays are sized exactly: nothing beyond the elements themselves.
        const std::size_t expected = 3 * (sizeof(Point3d) * 2 + 3 * sizeof(Color4b)) +
                                     2 * (sizeof(FragMesh::Face) + sizeof(Point3d) + sizeof(FaceAdjacency) +
                                          sizeof(std::uint8_t) + sizeof(int) + sizeof(Color4b));
        QCOMPARE(m.memoryBytes(), expected);
    }

    void allocateAttributesKeepsFileColours() {
        FragMesh m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.faces = {{0, 1, 2}};
        m.fileColors = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
        m.hasVertexColors = true;
        m.allocateAttributes();
        QVERIFY(m.hasVertexColors);
        QVERIFY((m.fileColors[1] == Color4b{5, 6, 7, 8}));
        QVERIFY((m.displayColors[1] == Color4b{255, 255, 255, 255}));

        // A second call after the mesh changed size resizes everything again.
        m.vertices.push_back({1, 1, 1});
        m.faces.push_back({1, 3, 2});
        m.allocateAttributes();
        QCOMPARE(m.fileColors.size(), std::size_t{4});
        QCOMPARE(m.adjacency.size(), std::size_t{2});
        QCOMPARE(m.adjacency[1].face[2], 1u);
    }

    void clearEmptiesEverything() {
        FragMesh m = tetrahedron();
        m.hasVertexColors = true;
        m.updateBoundingBox();
        m.changes = 0;
        m.clear();
        QVERIFY(m.isEmpty());
        QVERIFY(m.bbox.isNull());
        QVERIFY(!m.hasVertexColors);
        QCOMPARE(m.memoryBytes(), std::size_t{0});
        QVERIFY(m.changes & FragMesh::Topology);
    }

    void boundingBox() {
        FragMesh m = makeMesh({{1, -2, 3}, {-4, 5, 0.5}, {2, 2, -6}}, {{0, 1, 2}});
        m.updateBoundingBox();
        QCOMPARE(m.bbox.min, Point3d(-4, -2, -6));
        QCOMPARE(m.bbox.max, Point3d(2, 5, 3));
        FragMesh empty;
        empty.updateBoundingBox();
        QVERIFY(empty.bbox.isNull());
    }

    void tetrahedronNormals() {
        FragMesh m = tetrahedron();
        m.updateNormals();
        const double s = 1.0 / std::sqrt(3.0);
        CHECK_POINT(m.faceNormals[0], Point3d(0, 0, -1));
        CHECK_POINT(m.faceNormals[1], Point3d(0, -1, 0));
        CHECK_POINT(m.faceNormals[2], Point3d(-1, 0, 0));
        CHECK_POINT(m.faceNormals[3], Point3d(s, s, s));
        // Area weighted: at the origin three unit-weight axis normals; at (1,0,0) the slanted face
        // weighs sqrt(3) times its unit normal and cancels the y and z parts of the other two.
        CHECK_POINT(m.vertexNormals[0], Point3d(-s, -s, -s));
        CHECK_POINT(m.vertexNormals[1], Point3d(1, 0, 0));
        CHECK_POINT(m.vertexNormals[2], Point3d(0, 1, 0));
        CHECK_POINT(m.vertexNormals[3], Point3d(0, 0, 1));
    }

    void vertexNormalsAreAreaWeighted() {
        // Vertex 0 is shared by a triangle of area 2 facing +z and one of area 0.5 facing +x.
        FragMesh m =
            makeMesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {0, 3, 4}});
        m.updateNormals();
        CHECK_POINT(m.vertexNormals[0], Point3d(1, 0, 4) / std::sqrt(17.0));
        CHECK_POINT(m.vertexNormals[1], Point3d(0, 0, 1));
        CHECK_POINT(m.vertexNormals[4], Point3d(1, 0, 0));
    }

    void flatSquareAndDegenerateFaces() {
        // A unit square in z = 0, an unreferenced vertex and a degenerate face.
        FragMesh m = makeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {5, 5, 5}},
                              {{0, 1, 2}, {0, 2, 3}, {0, 0, 1}, {0, 1, 1}});
        m.updateNormals();
        for (int v = 0; v < 4; ++v)
            CHECK_POINT(m.vertexNormals[v], Point3d(0, 0, 1));
        CHECK_POINT(m.vertexNormals[4], Point3d(0, 0, 0));
        CHECK_POINT(m.faceNormals[0], Point3d(0, 0, 1));
        CHECK_POINT(m.faceNormals[1], Point3d(0, 0, 1));
        CHECK_POINT(m.faceNormals[2], Point3d(0, 0, 0));
        CHECK_POINT(m.faceNormals[3], Point3d(0, 0, 0));

        // Collinear corners: distinct indices but no area.
        FragMesh line = makeMesh({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {{0, 1, 2}});
        line.updateNormals();
        CHECK_POINT(line.faceNormals[0], Point3d(0, 0, 0));
        CHECK_POINT(line.vertexNormals[1], Point3d(0, 0, 0));
    }

    void adjacencyOfTwoTriangles() {
        // f0 = (0,1,2), f1 = (2,1,3): f0's edge 1 (1-2) is f1's edge 0 (2-1); the rest are borders.
        FragMesh m = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {2, 1, 3}});
        m.updateFaceFaceAdjacency();
        QCOMPARE(m.adjacency[0].face, (std::array<std::uint32_t, 3>{0, 1, 0}));
        QCOMPARE(m.adjacency[0].edge, (std::array<std::uint8_t, 3>{0, 0, 2}));
        QCOMPARE(m.adjacency[1].face, (std::array<std::uint32_t, 3>{0, 1, 1}));
        QCOMPARE(m.adjacency[1].edge, (std::array<std::uint8_t, 3>{1, 1, 2}));
    }

    void adjacencyOfClosedTetrahedron() {
        FragMesh m = tetrahedron();
        m.updateFaceFaceAdjacency();
        checkLinksShareEdges(m);
        for (std::uint32_t f = 0; f < 4; ++f)
            for (int e = 0; e < 3; ++e) {
                const std::uint32_t g = m.adjacency[f].face[e];
                QVERIFY(g != f);
                // Manifold edges link both ways.
                QCOMPARE(m.adjacency[g].face[m.adjacency[f].edge[e]], f);
                QCOMPARE(int(m.adjacency[g].edge[m.adjacency[f].edge[e]]), e);
            }
    }

    void nonManifoldEdgeFormsCycle() {
        // Three faces on the edge 0-1, plus a fourth face elsewhere.
        FragMesh m = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {5, 5, 5}},
                              {{0, 1, 2}, {1, 0, 3}, {4, 0, 1}, {2, 3, 5}});
        m.updateFaceFaceAdjacency();
        checkLinksShareEdges(m);
        // Walk the cycle from face 0, edge 0.
        std::set<std::uint32_t> seen;
        std::uint32_t f = 0;
        int e = 0;
        for (int step = 0; step < 3; ++step) {
            QVERIFY(seen.insert(f).second);
            const std::uint32_t nf = m.adjacency[f].face[e];
            e = m.adjacency[f].edge[e];
            f = nf;
        }
        QCOMPARE(f, 0u);
        QCOMPARE(e, 0);
        QCOMPARE(seen, (std::set<std::uint32_t>{0, 1, 2}));
        // Face 3 shares no edge with anyone.
        for (int k = 0; k < 3; ++k)
            QCOMPARE(m.adjacency[3].face[k], 3u);
    }

    void degenerateFacesStayIsolated() {
        // f1 and f2 repeat a vertex; f3 is a single point; f0 is a proper face on the same edge 0-1.
        FragMesh m =
            makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 0, 1}, {1, 0, 0}, {2, 2, 2}});
        m.updateFaceFaceAdjacency();
        for (std::uint32_t f = 0; f < 4; ++f)
            for (int e = 0; e < 3; ++e) {
                QCOMPARE(m.adjacency[f].face[e], f);
                QCOMPARE(int(m.adjacency[f].edge[e]), e);
            }
    }

    void adjacencyOfGrid() {
        // An n x n grid of quads, each split in two: interior edges link both ways, and exactly
        // the 4 n edges of the outline are borders. Large enough for the work to be shared out.
        constexpr int n = 450;
        std::vector<Point3d> vertices;
        std::vector<FragMesh::Face> faces;
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x)
                vertices.emplace_back(x, y, 0.01 * ((x * 7 + y * 3) % 5));
        auto id = [](int x, int y) { return static_cast<std::uint32_t>(y * (n + 1) + x); };
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                faces.push_back({id(x, y), id(x + 1, y), id(x + 1, y + 1)});
                faces.push_back({id(x, y), id(x + 1, y + 1), id(x, y + 1)});
            }
        FragMesh m = makeMesh(std::move(vertices), std::move(faces));
        m.updateFaceFaceAdjacency();
        checkLinksShareEdges(m);
        int borders = 0;
        for (std::uint32_t f = 0; f < m.faceCount(); ++f)
            for (int e = 0; e < 3; ++e) {
                const std::uint32_t g = m.adjacency[f].face[e];
                if (g == f) {
                    QCOMPARE(int(m.adjacency[f].edge[e]), e);
                    ++borders;
                    continue;
                }
                QCOMPARE(m.adjacency[g].face[m.adjacency[f].edge[e]], f);
            }
        QCOMPARE(borders, 4 * n);
        m.updateNormals();
        for (const Point3d& nrm : m.vertexNormals)
            QVERIFY(std::abs(nrm.norm() - 1.0) < 1e-12 && nrm.z() > 0.9);
    }

    void transformWithHomogeneousMatrix() {
        FragMesh m = makeMesh({{1, 2, 3}, {0, 0, 0}}, {{0, 1, 1}});
        m.changes = 0;
        Matrix44d t;
        // Swap x and y, translate by (10, 20, 30), then divide everything by 2.
        t << 0, 1, 0, 10, //
            1, 0, 0, 20,  //
            0, 0, 1, 30,  //
            0, 0, 0, 2;
        m.transform(t);
        CHECK_POINT(m.vertices[0], Point3d(6, 10.5, 16.5));
        CHECK_POINT(m.vertices[1], Point3d(5, 10, 15));
        QVERIFY(m.changes & FragMesh::Positions);

        Matrix44d shift = Matrix44d::Identity();
        shift(0, 3) = -5;
        m.transform(shift);
        CHECK_POINT(m.vertices[1], Point3d(0, 10, 15));
    }

    // Large enough to be split across threads and rounds: a grid with fins on some of its edges
    // (non-manifold edges of three and four faces) and faces with a repeated corner, prepared as
    // written and with its vertices and faces shuffled.
    void preparationDoesNotDependOnOrder() {
        const int n = 720;
        std::vector<Point3d> vertices;
        std::vector<FragMesh::Face> faces;
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x)
                vertices.emplace_back(x, y, 0.01 * ((x * 7 + y * 13) % 17));
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const auto a = std::uint32_t(y * (n + 1) + x), b = a + 1, c = a + n + 2, d = a + n + 1;
                faces.push_back({a, b, c});
                faces.push_back({a, c, d});
            }
        for (std::uint32_t k = 0; k < 3000; ++k) {
            const std::uint32_t a = k * 97 % std::uint32_t(n * n), apex = std::uint32_t(vertices.size());
            vertices.emplace_back(vertices[a].x(), vertices[a].y(), 1.0 + k % 3);
            faces.push_back({a, a + 1, apex});
            if (k % 5 == 0)
                faces.push_back({a + 1, a, apex}); // a fourth face on that edge
            if (k % 7 == 0)
                faces.push_back({a, a, apex});
        }
        FragMesh plain = makeMesh(vertices, faces);
        prepare(plain);
        QVERIFY(plain.faceCount() > 1000000);

        std::mt19937 rng(11);
        std::vector<std::uint32_t> vertexAt(vertices.size()), faceAt(faces.size());
        std::iota(vertexAt.begin(), vertexAt.end(), 0u);
        std::iota(faceAt.begin(), faceAt.end(), 0u);
        std::shuffle(vertexAt.begin(), vertexAt.end(), rng); // new index of each vertex
        std::shuffle(faceAt.begin(), faceAt.end(), rng);     // new index of each face
        std::vector<Point3d> sv(vertices.size());
        std::vector<FragMesh::Face> sf(faces.size());
        for (std::size_t v = 0; v < vertices.size(); ++v)
            sv[vertexAt[v]] = vertices[v];
        for (std::size_t f = 0; f < faces.size(); ++f)
            for (int k = 0; k < 3; ++k)
                sf[faceAt[f]][k] = vertexAt[faces[f][k]];
        FragMesh shuffled = makeMesh(sv, sf);
        prepare(shuffled);

        QCOMPARE(shuffled.bbox.min, plain.bbox.min);
        QCOMPARE(shuffled.bbox.max, plain.bbox.max);
        for (std::size_t v = 0; v < vertices.size(); ++v)
            QVERIFY2(near(shuffled.vertexNormals[vertexAt[v]], plain.vertexNormals[v], 1e-12),
                     qPrintable(QString::number(v) + " " +
                                QString::number(
                                    (shuffled.vertexNormals[vertexAt[v]] - plain.vertexNormals[v]).norm())));
        int nonManifold = 0;
        for (std::size_t f = 0; f < faces.size(); ++f) {
            QCOMPARE(shuffled.faceNormals[faceAt[f]], plain.faceNormals[f]); // same corners, same order
            for (int e = 0; e < 3; ++e) {
                std::set<std::pair<std::uint32_t, int>> expected;
                for (const auto& [g, ge] : cycleOf(plain, std::uint32_t(f), e))
                    expected.insert({faceAt[g], ge});
                nonManifold += expected.size() > 2;
                if (cycleOf(shuffled, faceAt[f], e) != expected)
                    QFAIL(qPrintable(QStringLiteral("face %1 edge %2").arg(f).arg(e)));
            }
        }
        QVERIFY(nonManifold > 1000);
        checkLinksShareEdges(shuffled);
    }
};

QTEST_GUILESS_MAIN(TestFragMesh)
#include "test_frag_mesh.moc"
