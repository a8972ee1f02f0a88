// Textures through the mesh readers, on files the tests write themselves (meshes, material
// libraries, PNG and JPEG images): the corner coordinates and materials each file gives, the same
// texture from every format, seams, and images that are missing, outside the mesh's folder or
// larger than Ostrakit reads, which leave the mesh read and say why.

#include "frag_mesh.h"
#include "mesh_readers.h"
#include "mesh_texture.h"
#include "obj_reader.h"
#include "written_file.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPointF>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

namespace {

// The corner coordinates of every face (three per face) and the material of every face.
struct TextureFacts {
    QList<QPointF> corners;
    QList<int> faceMaterials;
    QStringList materialNames;
};

TextureFacts factsOf(const MeshTexture& t, std::size_t faces) {
    TextureFacts facts;
    for (std::size_t f = 0; f < faces; ++f) {
        for (int c = 0; c < 3; ++c) {
            const Eigen::Vector2f uv = t.cornerCoord(f, c);
            facts.corners << QPointF(uv.x(), uv.y());
        }
        facts.faceMaterials << t.materialOf(f);
    }
    for (const TextureMaterial& m : t.materials)
        facts.materialNames << m.name;
    return facts;
}

// The standard CRC-32 of PNG chunks, so that a test can write a header claiming any size.
quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray out(4, 0);
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray typed = QByteArray(type, 4) + data;
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(crc32(typed), crc.data());
    return out + typed + crc;
}

// A PNG file whose header says width x height pixels (8-bit RGB), with one tiny data chunk.
QByteArray pngClaiming(quint32 width, quint32 height) {
    QByteArray header(13, 0);
    qToBigEndian<quint32>(width, header.data());
    qToBigEndian<quint32>(height, header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + pngChunk("IEND", {});
}

// ---------------------------------------------------------------------------------------------
// A textured grid: n x n cells, quads where (x + y) % 3 == 0 and two triangles elsewhere, the
// texture coordinate of a vertex its place in the grid, the material of a cell its row's parity.

struct Grid {
    int n = 0;
    QList<Point3d> positions;
    QList<QPointF> uv;        // per vertex
    QList<QList<int>> faces;  // polygons
    QList<int> faceMaterials; // per polygon
};

Grid makeGrid(int n) {
    Grid g;
    g.n = n;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            g.positions << Point3d(x * 0.5, y * 0.25, (x * 7 + y * 3) % 5 * 0.125);
            g.uv << QPointF(float(x) / float(n), float(y) / float(n)); // as the files hold them
        }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
            if ((x + y) % 3 == 0)
                g.faces << QList<int>{a, b, c, d};
            else
                g.faces << QList<int>{a, b, c} << QList<int>{a, c, d};
            g.faceMaterials << y % 2;
            if ((x + y) % 3 != 0)
                g.faceMaterials << y % 2;
        }
    return g;
}

// What reading the grid must give: the polygons fanned (v0, vi, vi+1) with their corners'
// coordinates and materials.
TextureFacts gridFacts(const Grid& g) {
    TextureFacts facts;
    for (qsizetype f = 0; f < g.faces.size(); ++f) {
        const QList<int>& p = g.faces[f];
        for (qsizetype j = 2; j < p.size(); ++j) {
            facts.corners << g.uv[p[0]] << g.uv[p[j - 1]] << g.uv[p[j]];
            facts.faceMaterials << g.faceMaterials[f];
        }
    }
    return facts;
}

QByteArray number(double v) {
    return QByteArray::number(v, 'g', 17);
}

// The grid as OBJ: one vt per vertex, or one per corner (every corner its own vt line, reached by a
// negative index), with the materials of grid.mtl.
QByteArray gridObj(const Grid& g, bool vtPerCorner) {
    QByteArray obj = "mtllib grid.mtl\n";
    for (const Point3d& p : g.positions)
        obj += "v " + number(p.x()) + " " + number(p.y()) + " " + number(p.z()) + "\n";
    if (!vtPerCorner)
        for (const QPointF& uv : g.uv)
            obj += "vt " + number(uv.x()) + " " + number(uv.y()) + "\n";
    int current = -1;
    for (qsizetype f = 0; f < g.faces.size(); ++f) {
        if (g.faceMaterials[f] != current) {
            current = g.faceMaterials[f];
            obj += current == 0 ? "usemtl even\n" : "usemtl odd\n";
        }
        const QList<int>& p = g.faces[f];
        if (vtPerCorner)
            for (int v : p)
                obj += "vt " + number(g.uv[v].x()) + " " + number(g.uv[v].y()) + " 0\n";
        obj += "f";
        for (qsizetype j = 0; j < p.size(); ++j) {
            const QByteArray vt =
                vtPerCorner ? QByteArray::number(j - p.size()) : QByteArray::number(p[j] + 1);
            obj += " " + QByteArray::number(p[j] + 1) + "/" + vt + (j % 2 ? "/1" : "");
        }
        obj += "\n";
    }
    return obj;
}

// How a PLY file holds the grid's texture coordinates.
enum class PlyUv { TexcoordList, PerVertex };

void appendValue(QByteArray& out, double v, bool isFloat, bool bigEndian) {
    char bytes[4];
    if (isFloat) {
        const float f = float(v);
        std::memcpy(bytes, &f, 4);
    } else {
        const qint32 i = qint32(v);
        std::memcpy(bytes, &i, 4);
    }
    if (bigEndian != (QSysInfo::ByteOrder == QSysInfo::BigEndian))
        std::reverse(bytes, bytes + 4);
    out.append(bytes, 4);
}

// The grid as PLY in the given format, its two images named by TextureFile comments and chosen by
// texnumber. Per-vertex coordinates take the property names uName and vName.
QByteArray gridPly(const Grid& g, const QByteArray& format, PlyUv uvs, const QByteArray& uName = "s",
                   const QByteArray& vName = "t") {
    const bool ascii = format == "ascii";
    const bool big = format == "binary_big_endian";
    const bool perVertex = uvs == PlyUv::PerVertex;
    QByteArray out = "ply\nformat " + format +
                     " 1.0\ncomment TextureFile even tex.png\ncomment TextureFile odd.jpg\nelement vertex " +
                     QByteArray::number(g.positions.size()) +
                     "\nproperty float x\nproperty float y\nproperty float z\n";
    if (perVertex)
        out += "property float " + uName + "\nproperty float " + vName + "\n";
    out += "element face " + QByteArray::number(g.faces.size()) + "\nproperty list int int vertex_indices\n";
    if (!perVertex)
        out += "property list int float texcoord\n";
    out += "property int texnumber\nend_header\n";
    // One record: values, each an int or a float, written as the format says.
    auto record = [&](const QList<QPair<double, bool>>& values) {
        QByteArrayList words;
        for (const auto& [v, isFloat] : values) {
            if (ascii)
                words << (isFloat ? number(float(v)) : QByteArray::number(qint64(v)));
            else
                appendValue(out, v, isFloat, big);
        }
        if (ascii)
            out += words.join(' ') + "\n";
    };
    for (qsizetype i = 0; i < g.positions.size(); ++i) {
        QList<QPair<double, bool>> values = {
            {g.positions[i].x(), true}, {g.positions[i].y(), true}, {g.positions[i].z(), true}};
        if (perVertex)
            values << qMakePair(g.uv[i].x(), true) << qMakePair(g.uv[i].y(), true);
        record(values);
    }
    for (qsizetype f = 0; f < g.faces.size(); ++f) {
        const QList<int>& p = g.faces[f];
        QList<QPair<double, bool>> values = {{double(p.size()), false}};
        for (int v : p)
            values << qMakePair(double(v), false);
        if (!perVertex) {
            values << qMakePair(double(2 * p.size()), false);
            for (int v : p)
                values << qMakePair(g.uv[v].x(), true) << qMakePair(g.uv[v].y(), true);
        }
        values << qMakePair(double(g.faceMaterials[f]), false);
        record(values);
    }
    return out;
}

// An image of w x h pixels with a pattern, so that its pixels are not all alike.
QImage patternImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 37 % 256, y * 53 % 256, (x ^ y) * 11 % 256));
    return image;
}

// The pattern image as the bytes of a PNG file.
QByteArray pngFile(int w, int h) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    patternImage(w, h).save(&buffer, "PNG");
    return bytes;
}

// What a test expects of one material after reading.
struct MaterialExpected {
    QString name;
    QSize imageSize; // invalid: no image
    QString problem; // a phrase the problem contains; empty: no problem
};

using FileSet = QList<QPair<QString, QByteArray>>; // files to write, relative to the test's folder

} // namespace

Q_DECLARE_METATYPE(TextureFacts)
Q_DECLARE_METATYPE(QList<MaterialExpected>)
Q_DECLARE_METATYPE(FileSet)

class TestTextureIo : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Writes content into the file name, relative to the test's folder.
    QString write(const QString& name, const QByteArray& content) { return writeFileIn(dir_, name, content); }

    void writeImage(const QString& name, int w, int h) {
        const QString path = dir_.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY2(patternImage(w, h).save(path), qPrintable(path));
    }

    static void compareFacts(const TextureFacts& got, const TextureFacts& expected, const QByteArray& what) {
        QCOMPARE(got.corners.size(), expected.corners.size());
        for (qsizetype i = 0; i < got.corners.size(); ++i)
            QVERIFY2(got.corners[i].x() == expected.corners[i].x() &&
                         got.corners[i].y() == expected.corners[i].y(),
                     qPrintable(QStringLiteral("%1: corner %2 of face %3: (%4, %5), expected (%6, %7)")
                                    .arg(QString::fromUtf8(what))
                                    .arg(i % 3)
                                    .arg(i / 3)
                                    .arg(got.corners[i].x())
                                    .arg(got.corners[i].y())
                                    .arg(expected.corners[i].x())
                                    .arg(expected.corners[i].y())));
        QVERIFY2(got.faceMaterials == expected.faceMaterials, what.constData());
        if (!expected.materialNames.isEmpty())
            QCOMPARE(got.materialNames, expected.materialNames);
    }

    static void compareMaterials(const MeshTexture& t, const QList<MaterialExpected>& expected) {
        QCOMPARE(qsizetype(t.materials.size()), expected.size());
        for (qsizetype m = 0; m < expected.size(); ++m) {
            const TextureMaterial& got = t.materials[std::size_t(m)];
            const MaterialExpected& e = expected[m];
            QCOMPARE(got.name, e.name);
            QCOMPARE(got.image ? got.image->size() : QSize(), e.imageSize);
            if (e.problem.isEmpty())
                QVERIFY2(got.problem.isEmpty(), qPrintable(got.problem));
            else
                QVERIFY2(got.problem.contains(e.problem) && t.problems().contains(got.problem),
                         qPrintable(got.problem));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        installMeshReaders();
        writeImage(QStringLiteral("stone texture.png"), 16, 8);
        writeImage(QStringLiteral("paint.jpg"), 12, 20);
        write(QStringLiteral("two.mtl"), "# two materials\r\nnewmtl stone\r\nKd 0.8 0.8 0.8\r\n"
                                         "map_Kd -s 1 1 1 -o 0 0 0 -bm 0.5 -clamp on stone texture.png\r\n"
                                         "newmtl paint\r\n  MAP_KD -blendu off -mm 0 1 paint.jpg  \r\n"
                                         "newmtl plain\r\nKd 1 0 0\r\n");
    }

    // The corner coordinates and materials an OBJ file gives, however its faces name them, and
    // however the file is cut into parts.
    void objCornersAndMaterials_data() {
        QTest::addColumn<QByteArray>("obj");
        QTest::addColumn<TextureFacts>("expected");
        const QByteArray vertices = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\n";
        const QByteArray texCoords = "vt 0 0\nvt 0.5 0\nvt 0.5 0.5\nvt 0 0.5\nvt 1 0.25 0\nvt 0.75\n";
        const QPointF t1(0, 0), t2(0.5, 0), t3(0.5, 0.5), t4(0, 0.5), t5(1, 0.25), t6(0.75, 0), none(0, 0);
        TextureFacts all;
        all.corners = {none, none, none, t1, t2, t3, t1, t3, t4, t2, t5, t3, t1, t2, t6};
        all.faceMaterials = {0, 1, 1, 2, 1};
        all.materialNames = {"", "stone", "paint"};
        QTest::newRow("positive-indices")
            << vertices + texCoords +
                   "mtllib two.mtl\nf 1 2 3\nusemtl stone\nf 1/1 2/2 3/3 4/4\nusemtl paint\n"
                   "f 2/2/1 5/5/1 3/3/1\nusemtl stone\nf 2/1 3/2 5/6\n"
            << all;
        QTest::newRow("negative-indices")
            << vertices + texCoords +
                   "mtllib two.mtl\nf -5 -4 -3\nusemtl stone\nf -5/-6 -4/-5 -3/-4 -2/-3\n"
                   "usemtl paint\nf -4/-5/1 -1/-2/1 -3/-4/1\nusemtl stone\nf -4/-6 -3/-5 -1/-1\n"
            << all;
        // Negative indices count back from the latest vt line before the face, not from the end.
        QTest::newRow("negative-indices-between-vt-lines")
            << vertices + "vt 0 0\nvt 0.5 0\nvt 0.5 0.5\nvt 0 0.5\nmtllib two.mtl\nf 1 2 3\nusemtl stone\n"
                          "f 1/-4 2/-3 3/-2 4/-1\nvt 1 0.25\nusemtl paint\nf 2/-4/1 5/-1/1 3/-3/1\nvt 0.75\n"
                          "usemtl stone\nf -4/1 -3/2 -1/-1\n"
            << all;
        QTest::newRow("crlf-and-continued-lines")
            << QByteArray(vertices + texCoords +
                          "mtllib two.mtl\nf 1 2 3\nusemtl \\\n stone\nf 1/1 2/2 \\\n3/3 4/4\nusemtl paint\n"
                          "f 2/2/1 5/5/1 3/3/1\nusemtl stone\nf 2/1 3/2 5/6\n")
                   .replace("\n", "\r\n")
            << all;
        TextureFacts named = all;
        named.corners = named.corners.mid(3);
        named.faceMaterials = {0, 0, 1, 0};
        named.materialNames = {"stone", "paint"};
        QTest::newRow("no-face-before-usemtl")
            << vertices + texCoords +
                   "mtllib two.mtl\nusemtl stone\nf 1/1 2/2 3/3 4/4\nusemtl paint\n"
                   "f 2/2/1 5/5/1 3/3/1\nusemtl stone\nf 2/1 3/2 5/6\n"
            << named;
        TextureFacts one = named;
        one.faceMaterials = {0, 0, 0, 0};
        one.materialNames = {"stone"};
        QTest::newRow("one-material")
            << vertices + texCoords +
                   "mtllib two.mtl\nusemtl stone\nf 1/1 2/2 3/3 4/4\nf 2/2/1 5/5/1 3/3/1\n"
                   "f 2/1 3/2 5/6\n"
            << one;
    }

    void objCornersAndMaterials() {
        QFETCH(QByteArray, obj);
        QFETCH(TextureFacts, expected);
        const QString path = write(QStringLiteral("materials.obj"), obj);
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(path, mesh, error), qPrintable(error));
        QVERIFY(mesh.texture);
        compareFacts(factsOf(*mesh.texture, mesh.faceCount()), expected, "whole");
        for (const TextureMaterial& m : mesh.texture->materials) {
            const QSize size = m.name == QLatin1String("stone")   ? QSize(16, 8)
                               : m.name == QLatin1String("paint") ? QSize(12, 20)
                                                                  : QSize();
            QCOMPARE(m.image ? m.image->size() : QSize(), size);
            QVERIFY2(m.problem.isEmpty(), qPrintable(m.problem));
        }
        for (unsigned parts = 2; parts <= 24; ++parts) {
            FragMesh cut;
            QVERIFY2(readObj(path, cut, error, ObjReadOptions{1, parts}), qPrintable(error));
            QVERIFY(cut.texture);
            compareFacts(factsOf(*cut.texture, cut.faceCount()), expected,
                         QByteArray::number(parts) + " parts");
            QCOMPARE(cut.faces, mesh.faces);
            QCOMPARE(cut.texture->faces, mesh.texture->faces);
        }
    }

    // A file whose faces name no texture coordinate has no texture, whatever else it says.
    void noTextureWithoutCornerCoordinates_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        const QByteArray triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        QTest::newRow("obj-materials-only")
            << "plain.obj" << triangle + "mtllib two.mtl\nusemtl stone\nf 1 2 3\n";
        QTest::newRow("obj-vt-unused") << "unused.obj" << triangle + "vt 0.5 0.5\nf 1//1 2//1 3//1\n";
        // Without vt lines, the vt a corner names is not looked at (as before textures were read).
        QTest::newRow("obj-corners-without-vt-lines") << "novt.obj" << triangle + "f 1/1 2/7 3/-9\n";
        QTest::newRow("ply-texture-file-only")
            << "plain.ply"
            << QByteArray("ply\nformat ascii 1.0\ncomment TextureFile paint.jpg\nelement vertex 3\n"
                          "property float x\nproperty float y\nproperty float z\nelement face 1\n"
                          "property list uchar int vertex_indices\nproperty uchar texnumber\nend_header\n"
                          "0 0 0\n1 0 0\n0 1 0\n3 0 1 2 7\n");
    }

    void noTextureWithoutCornerCoordinates() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(write(name, content), mesh, error), qPrintable(error));
        QCOMPARE(mesh.faceCount(), std::size_t(1));
        QVERIFY(!mesh.texture);
    }

    // The same textured grid written as OBJ and as PLY in every layout reads to the same mesh and
    // texture.
    void formatsGiveTheSameTexture_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        const Grid g = makeGrid(9);
        QTest::newRow("obj") << "grid.obj" << gridObj(g, false);
        QTest::newRow("obj-vt-per-corner") << "grid.obj" << gridObj(g, true);
        for (const QByteArray format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
            QTest::newRow(("ply-texcoord-" + format).constData())
                << "grid.ply" << gridPly(g, format, PlyUv::TexcoordList);
            QTest::newRow(("ply-st-" + format).constData())
                << "grid.ply" << gridPly(g, format, PlyUv::PerVertex);
        }
        QTest::newRow("ply-uv") << "grid.ply"
                                << gridPly(g, "binary_little_endian", PlyUv::PerVertex, "u", "v");
        QTest::newRow("ply-texture_u")
            << "grid.ply" << gridPly(g, "ascii", PlyUv::PerVertex, "texture_u", "texture_v");
    }

    void formatsGiveTheSameTexture() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        writeImage(QStringLiteral("even tex.png"), 32, 16);
        writeImage(QStringLiteral("odd.jpg"), 8, 24);
        write(QStringLiteral("grid.mtl"), "newmtl even\nmap_Kd even tex.png\nnewmtl odd\nmap_Kd odd.jpg\n");
        const Grid g = makeGrid(9);
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(write(name, content), mesh, error), qPrintable(error));
        QCOMPARE(mesh.vertexCount(), std::size_t(g.positions.size()));
        for (qsizetype i = 0; i < g.positions.size(); ++i)
            QCOMPARE(mesh.vertices[std::size_t(i)], g.positions[i]);
        const TextureFacts expected = gridFacts(g);
        QCOMPARE(qsizetype(mesh.faceCount()), expected.faceMaterials.size());
        std::size_t f = 0;
        for (const QList<int>& p : g.faces)
            for (qsizetype j = 2; j < p.size(); ++j, ++f)
                QCOMPARE(mesh.faces[f],
                         (FragMesh::Face{std::uint32_t(p[0]), std::uint32_t(p[j - 1]), std::uint32_t(p[j])}));
        QVERIFY(mesh.texture);
        compareFacts(factsOf(*mesh.texture, mesh.faceCount()), expected, name.toUtf8());
        QCOMPARE(mesh.texture->seamCopies.size(), std::size_t(0));
        QCOMPARE(mesh.texture->materials.size(), std::size_t(2));
        QCOMPARE(mesh.texture->materials[0].image->size(), QSize(32, 16));
        QCOMPARE(mesh.texture->materials[1].image->size(), QSize(8, 24));
    }

    // A vertex with several coordinates is drawn once per coordinate, in the order the corners meet
    // them, and each face points at the copy with its coordinate.
    void seamsGetCopies_data() {
        QTest::addColumn<QByteArray>("obj");
        QTest::addColumn<QList<std::uint32_t>>("copies");       // mesh vertex of each copy
        QTest::addColumn<QList<std::uint32_t>>("drawnCorners"); // drawn vertex of each corner
        const QByteArray square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
        QTest::newRow("no-seam") << square + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n"
                                 << QList<std::uint32_t>{} << QList<std::uint32_t>{0, 1, 2, 0, 2, 3};
        // The diagonal 1-3 is a seam: both of its vertices get one copy.
        QTest::newRow("seam-on-an-edge")
            << square + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0.5\nvt 0.25 0.75\n"
                        "f 1/1 2/2 3/3\nf 1/5 3/6 4/4\n"
            << QList<std::uint32_t>{0, 2} << QList<std::uint32_t>{0, 1, 2, 4, 5, 3};
        // Vertex 1 meets three coordinates over four faces: two copies, the fourth face back on the
        // first copy.
        QTest::newRow("three-coordinates-at-one-vertex")
            << square + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0\n"
                        "f 1/1 2/2 3/3\nf 1/5 3/3 4/4\nf 1/4 2/2 4/4\nf 1/5 2/2 3/3\n"
            << QList<std::uint32_t>{0, 0} << QList<std::uint32_t>{0, 1, 2, 4, 2, 3, 5, 1, 3, 4, 1, 2};
        // -0 and 0 are one coordinate.
        QTest::newRow("negative-zero")
            << square + "vt 0 0\nvt -0 -0\nvt 1 0\nvt 1 1\nf 1/1 2/3 3/4\nf 1/2 3/4 4/1\n"
            << QList<std::uint32_t>{} << QList<std::uint32_t>{0, 1, 2, 0, 2, 3};
    }

    void seamsGetCopies() {
        QFETCH(QByteArray, obj);
        QFETCH(QList<std::uint32_t>, copies);
        QFETCH(QList<std::uint32_t>, drawnCorners);
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(write(QStringLiteral("seam.obj"), obj), mesh, error), qPrintable(error));
        QVERIFY(mesh.texture);
        const MeshTexture& t = *mesh.texture;
        QCOMPARE(QList<std::uint32_t>(t.seamCopies.begin(), t.seamCopies.end()), copies);
        QCOMPARE(t.drawnVertexCount(), mesh.vertexCount() + std::size_t(copies.size()));
        QList<std::uint32_t> drawn;
        for (std::size_t f = 0; f < mesh.faceCount(); ++f)
            for (int c = 0; c < 3; ++c) {
                drawn << t.faces[f][c];
                // A drawn vertex stands where its mesh vertex stands, with the corner's coordinate.
                QCOMPARE(t.meshVertexOf(t.faces[f][c]), mesh.faces[f][c]);
            }
        QCOMPARE(drawn, drawnCorners);
    }

    // A mesh large enough to be welded on several threads, its faces in random order and most
    // vertices on a seam: the OBJ reader and weldTextureCorners give what one pass over the faces
    // in order gives (the first coordinate met keeps the vertex, the others get copies in the
    // order they are met).
    void weldMatchesOneOrderedPass() {
        const std::uint32_t nv = 40000;
        const std::size_t nf = 150000;
        std::mt19937 rng(3);
        FragMesh mesh;
        for (std::uint32_t v = 0; v < nv; ++v)
            mesh.vertices.emplace_back(v, v % 7, 0);
        // Up to three coordinates a vertex; vt 3 v + k holds coordinate k of vertex v.
        auto coordOf = [](std::uint32_t v, std::uint32_t k) {
            return Eigen::Vector2f(float(v % 101) / 100.0f + float(k), k == 2 ? -0.0f : float(v % 13));
        };
        QByteArray obj;
        for (std::uint32_t v = 0; v < nv; ++v) {
            obj += "v " + QByteArray::number(v) + " " + QByteArray::number(v % 7) + " 0\n";
            for (std::uint32_t k = 0; k < 3; ++k)
                obj += "vt " + number(coordOf(v, k).x()) + " " + number(coordOf(v, k).y()) + "\n";
        }
        std::vector<Eigen::Vector2f> corners;
        for (std::size_t f = 0; f < nf; ++f) {
            FragMesh::Face face;
            obj += "f";
            for (std::uint32_t& v : face) {
                v = rng() % nv;
                const std::uint32_t k = rng() % 3 == 0 ? rng() % 3 : 0;
                corners.push_back(coordOf(v, k));
                obj += " " + QByteArray::number(v + 1) + "/" + QByteArray::number(3 * v + k + 1);
            }
            obj += "\n";
            mesh.faces.push_back(face);
        }
        // The pass in order.
        std::vector<Eigen::Vector2f> coords(nv, Eigen::Vector2f::Zero());
        std::vector<bool> seen(nv, false);
        std::vector<std::uint32_t> copies, drawn;
        std::map<std::tuple<std::uint32_t, float, float>, std::uint32_t> copyOf;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const std::uint32_t v = mesh.faces[i / 3][i % 3];
            const Eigen::Vector2f uv(corners[i].x() + 0.0f, corners[i].y() + 0.0f);
            if (!seen[v]) {
                seen[v] = true;
                coords[v] = uv;
                drawn.push_back(v);
                continue;
            }
            if (coords[v] == uv) {
                drawn.push_back(v);
                continue;
            }
            const auto [copy, added] =
                copyOf.try_emplace(std::make_tuple(v, uv.x(), uv.y()), std::uint32_t(coords.size()));
            if (added) {
                copies.push_back(v);
                coords.push_back(uv);
            }
            drawn.push_back(copy->second);
        }
        QVERIFY(copies.size() > nv / 2);

        FragMesh read;
        QString error;
        QVERIFY2(readMeshFile(write(QStringLiteral("many-seams.obj"), obj), read, error), qPrintable(error));
        QCOMPARE(read.faces, mesh.faces);
        const MeshTexture welded = weldTextureCorners(mesh, corners, {});
        for (const MeshTexture* t : {read.texture.get(), &welded}) {
            QVERIFY(t);
            QVERIFY(t->seamCopies == copies);
            QVERIFY(t->coords == coords);
            std::vector<std::uint32_t> got;
            for (const MeshTexture::Face& face : t->faces)
                got.insert(got.end(), face.begin(), face.end());
            QVERIFY(got == drawn);
        }
    }

    // One vertex met by many faces with a different coordinate each: one copy per coordinate, in
    // the order met (the copies of one vertex are found by a hash, not by a walk through the others).
    void manyCopiesOfOneVertex() {
        const int faces = 60000;
        QByteArray obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n";
        for (int i = 0; i < faces; ++i)
            obj += "vt " + QByteArray::number(i + 1) + " 0.5\nf 1/-1 2/1 3/1\n";
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(write(QStringLiteral("fan.obj"), obj), mesh, error), qPrintable(error));
        const MeshTexture& t = *mesh.texture;
        QCOMPARE(t.seamCopies.size(), std::size_t(faces - 1));
        QCOMPARE(t.cornerCoord(faces - 1, 0), Eigen::Vector2f(float(faces), 0.5f));
        QCOMPARE(t.faces[faces - 1][0], std::uint32_t(3 + faces - 2));
    }

    // Images and material libraries that cannot be had: the mesh is read all the same, the
    // material has no image and says why, naming the file.
    void missingAndRefusedImages_data() {
        QTest::addColumn<FileSet>("files");
        QTest::addColumn<QString>("mesh");
        QTest::addColumn<QList<MaterialExpected>>("materials");
        const QByteArray obj = "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                               "usemtl a\nf 1/1 2/2 3/3\n";
        auto objWithImage = [&](const QByteArray& image) {
            return FileSet{{"m/n/lib.mtl", "newmtl a\nmap_Kd " + image + "\n"}, {"m/n/mesh.obj", obj}};
        };
        auto plyWithImage = [](const QByteArray& image) {
            return FileSet{{"m/n/mesh.ply", "ply\nformat ascii 1.0\ncomment TextureFile " + image +
                                                "\nelement vertex 3\nproperty float x\nproperty float y\n"
                                                "property float z\nproperty float s\nproperty float t\n"
                                                "element face 1\nproperty list uchar int vertex_indices\n"
                                                "end_header\n0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 2\n"}};
        };
        // Real images where the escaping names lead: only the rule keeps them unread.
        const FileSet secrets = {{"secret.png", pngFile(2, 2)}, {"m/secret.png", pngFile(2, 2)}};
        const QString objPath = QStringLiteral("m/n/mesh.obj"), plyPath = QStringLiteral("m/n/mesh.ply");

        QTest::newRow("missing-image")
            << objWithImage("absent.png") << objPath
            << QList<MaterialExpected>{{"a", {}, "mesh.obj: absent.png: no such image"}};
        QTest::newRow("ply-missing-image")
            << plyWithImage("absent.jpg") << plyPath
            << QList<MaterialExpected>{{"", {}, "mesh.ply: absent.jpg: no such image"}};
        QTest::newRow("missing-library")
            << FileSet{{"m/n/mesh.obj", obj}} << objPath
            << QList<MaterialExpected>{{"a", {}, "mesh.obj: lib.mtl: no such material library"}};
        QTest::newRow("material-not-in-library")
            << FileSet{{"m/n/lib.mtl", "newmtl b\nmap_Kd b.png\n"}, {"m/n/mesh.obj", obj}} << objPath
            << QList<MaterialExpected>{{"a", {}, "mesh.obj: the material a is not in lib.mtl"}};
        QTest::newRow("material-without-map")
            << FileSet{{"m/n/lib.mtl", "newmtl a\nKd 1 1 1\n"}, {"m/n/mesh.obj", obj}} << objPath
            << QList<MaterialExpected>{{"a", {}, {}}};
        QTest::newRow("image-escaping-upward")
            << secrets + objWithImage("../../secret.png") << objPath
            << QList<MaterialExpected>{
                   {"a", {}, "mesh.obj: the image ../../secret.png lies outside the mesh's folder"}};
        QTest::newRow("image-escaping-through-a-subfolder")
            << secrets + objWithImage("sub/../../secret.png") << objPath
            << QList<MaterialExpected>{{"a", {}, "sub/../../secret.png lies outside the mesh's folder"}};
        QTest::newRow("image-escaping-with-backslashes")
            << secrets + objWithImage("..\\secret.png") << objPath
            << QList<MaterialExpected>{{"a", {}, "lies outside the mesh's folder"}};
        QTest::newRow("ply-image-escaping-upward")
            << secrets + plyWithImage("../secret.png") << plyPath
            << QList<MaterialExpected>{{"", {}, "mesh.ply: the image ../secret.png lies outside"}};
        QTest::newRow("library-escaping-upward")
            << FileSet{{"m/lib.mtl", "newmtl a\nmap_Kd ok.png\n"},
                       {"m/n/ok.png", pngFile(2, 2)},
                       {"m/n/mesh.obj", QByteArray(obj).replace("mtllib lib.mtl", "mtllib ../lib.mtl")}}
            << objPath
            << QList<MaterialExpected>{{"a", {}, "mesh.obj: the material library ../lib.mtl lies outside"}};
        // A library name with blanks, when a file of that name is there; else several names.
        QTest::newRow("library-name-with-blanks")
            << FileSet{{"m/n/my lib.mtl", "newmtl a\nmap_Kd ok.png\n"},
                       {"m/n/ok.png", pngFile(2, 3)},
                       {"m/n/mesh.obj", QByteArray(obj).replace("mtllib lib.mtl", "mtllib my lib.mtl  ")}}
            << objPath << QList<MaterialExpected>{{"a", QSize(2, 3), {}}};
        QTest::newRow("two-libraries-on-one-line")
            << FileSet{{"m/n/first.mtl", "newmtl b\nmap_Kd no.png\n"},
                       {"m/n/second.mtl", "newmtl a\nmap_Kd ok.png\n"},
                       {"m/n/ok.png", pngFile(3, 2)},
                       {"m/n/mesh.obj",
                        QByteArray(obj).replace("mtllib lib.mtl", "mtllib first.mtl\tsecond.mtl")}}
            << objPath << QList<MaterialExpected>{{"a", QSize(3, 2), {}}};
        // Climbing and coming back down stays inside: the image is read.
        QTest::newRow("inside-after-climbing-back")
            << FileSet{{"m/n/sub/inner.png", pngFile(3, 5)}} + objWithImage("sub/../sub/inner.png") << objPath
            << QList<MaterialExpected>{{"a", QSize(3, 5), {}}};
        // Written on another machine: looked for by its file name beside the mesh.
        QTest::newRow("absolute-windows-name")
            << FileSet{{"m/n/far.png", pngFile(4, 6)}} + objWithImage("C:\\scans\\far.png") << objPath
            << QList<MaterialExpected>{{"a", QSize(4, 6), {}}};
        for (const auto& [w, h] : QList<QPair<quint32, quint32>>{{1u << 31, 1u << 31},
                                                                 {(1u << 31) - 1, (1u << 31) - 1},
                                                                 {16385, 1},
                                                                 {1, 16385},
                                                                 {16384, 16385}}) {
            const QString size = QStringLiteral("%1 × %2 pixels").arg(w).arg(h);
            QTest::newRow(qPrintable("huge-png-" + size))
                << FileSet{{"m/n/huge.png", pngClaiming(w, h)}} + objWithImage("huge.png") << objPath
                << QList<MaterialExpected>{{"a", {}, "mesh.obj: huge.png: the image is " + size}};
        }
        QTest::newRow("damaged-image")
            << FileSet{{"m/n/bad.png", QByteArray("\x89PNG\r\n\x1a\n not really", 19)}} +
                   objWithImage("bad.png")
            << objPath << QList<MaterialExpected>{{"a", {}, "mesh.obj: bad.png: the image cannot be read"}};
    }

    void missingAndRefusedImages() {
        QFETCH(FileSet, files);
        QFETCH(QString, mesh);
        QFETCH(QList<MaterialExpected>, materials);
        QTemporaryDir folder(dir_.filePath(QStringLiteral("case-XXXXXX")));
        for (const auto& [name, content] : files)
            write(QDir(dir_.path()).relativeFilePath(folder.filePath(name)), content);
        FragMesh m;
        QString error;
        QVERIFY2(readMeshFile(folder.filePath(mesh), m, error), qPrintable(error));
        QCOMPARE(m.faceCount(), std::size_t(1));
        QVERIFY(m.texture);
        compareMaterials(*m.texture, materials);
    }

    // Several materials naming one image share it: the file is read once.
    void oneImageForSeveralMaterials() {
        write(
            QStringLiteral("shared.mtl"),
            "newmtl a\nmap_Kd paint.jpg\nnewmtl b\nmap_Kd ./paint.jpg\nnewmtl c\nmap_Kd stone texture.png\n");
        const QString path =
            write(QStringLiteral("shared.obj"), "mtllib shared.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n"
                                                "usemtl a\nf 1/1 2/1 3/1\nusemtl b\nf 1/1 2/1 3/1\nusemtl c\n"
                                                "f 1/1 2/1 3/1\n");
        FragMesh mesh;
        QString error;
        QVERIFY2(readMeshFile(path, mesh, error), qPrintable(error));
        const std::vector<TextureMaterial>& m = mesh.texture->materials;
        QCOMPARE(m.size(), std::size_t(3));
        QVERIFY(m[0].image && m[0].image == m[1].image);
        QCOMPARE(m[0].image->size(), QSize(12, 20));
        QCOMPARE(m[2].image->size(), QSize(16, 8));
        QVERIFY(mesh.texture->problems().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextureIo)
#include "test_texture_io.moc"
