// Writes a small placement case into a folder: three fragment meshes (binary PLY), moved by
// rotations and translations (one of them inside a group, one georeferenced), the project's ALN
// file "placed.aln", and "expected.txt" with every placed vertex as Ostrakit holds it, one
// "x y z" line per vertex in ALN order. check.sh lets another program read the ALN and compares.

#include "frag_group.h"
#include "fragment.h"
#include "mesh_readers.h"
#include "placement_export.h"
#include "total_graph.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
// A bumpy disc, so that placements are easy to tell apart.
bool writeDisc(const QString& path, double radius) {
    std::vector<float> xyz;
    std::vector<int> tris;
    const int rings = 6, slices = 24;
    xyz.insert(xyz.end(), {0.f, 0.f, 0.f});
    for (int r = 1; r <= rings; ++r)
        for (int s = 0; s < slices; ++s) {
            const double a = 2 * M_PI * s / slices, d = radius * r / rings;
            xyz.insert(xyz.end(),
                       {float(d * std::cos(a)), float(d * std::sin(a)), float(0.1 * std::sin(3 * a) * r)});
        }
    auto at = [&](int r, int s) { return r == 0 ? 0 : 1 + (r - 1) * slices + (s % slices); };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < slices; ++s) {
            if (r == 0) {
                tris.insert(tris.end(), {0, at(1, s), at(1, s + 1)});
            } else {
                tris.insert(tris.end(), {at(r, s), at(r + 1, s), at(r + 1, s + 1)});
                tris.insert(tris.end(), {at(r, s), at(r + 1, s + 1), at(r, s + 1)});
            }
        }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray header =
        QStringLiteral("ply\nformat binary_little_endian 1.0\nelement vertex %1\n"
                       "property float x\nproperty float y\nproperty float z\n"
                       "element face %2\nproperty list uchar int vertex_indices\nend_header\n")
            .arg(xyz.size() / 3)
            .arg(tris.size() / 3)
            .toLatin1();
    f.write(header);
    f.write(reinterpret_cast<const char*>(xyz.data()), qint64(xyz.size() * sizeof(float)));
    for (std::size_t i = 0; i < tris.size(); i += 3) {
        const char three = 3;
        f.write(&three, 1);
        f.write(reinterpret_cast<const char*>(&tris[i]), 3 * sizeof(int));
    }
    return true;
}

Matrix44d placement(double angle, double x, double y, double z) {
    Matrix44d m = Matrix44d::Identity();
    m(0, 0) = std::cos(angle);
    m(0, 2) = std::sin(angle);
    m(2, 0) = -std::sin(angle);
    m(2, 2) = std::cos(angle);
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    return m;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: aln_interop_case FOLDER\n");
        return 2;
    }
    installMeshReaders();
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    TotalGraph graph;
    std::vector<FragGroup*> wrappers;
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("piece%1.ply").arg(i));
        if (!writeDisc(path, 1.0 + i))
            return 1;
        FragGroup* w = FragGroup::wrapFragment(&graph, path);
        if (!w->wrappedFragment()->hasMesh()) {
            std::fprintf(stderr, "%s\n", qPrintable(w->wrappedFragment()->loadError()));
            return 1;
        }
        graph.addObject(w);
        wrappers.push_back(w);
    }
    const Matrix44d m1 = placement(0.7, 10, -3, 2), m2 = placement(-1.1, 0.25, 0, 512345.678);
    wrappers[1]->applyTransform(&m1);
    auto* group = new FragGroup(&graph);
    group->objId().id = graph.nextFreeId();
    graph.addObject(group);
    group->addChild(wrappers[2]);
    group->applyTransform(&m2);
    group->applyTransform(&m1);

    QString error;
    if (!exportAlnFile(dir.filePath(QStringLiteral("placed.aln")), graph, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QFile expected(dir.filePath(QStringLiteral("expected.txt")));
    if (!expected.open(QIODevice::WriteOnly))
        return 1;
    QTextStream out(&expected);
    out.setRealNumberPrecision(17);
    for (FragGroup* w : {wrappers[0], wrappers[1]})
        for (const Point3d& p : w->wrappedFragment()->mesh().vertices)
            out << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    for (const Point3d& p : wrappers[2]->wrappedFragment()->mesh().vertices)
        out << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    return 0;
}
