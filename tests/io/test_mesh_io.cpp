// The PLY, OBJ, STL and OFF readers, through the installed mesh formats, on files the tests write
// themselves: every supported variant with exact expected contents, and malformed files with the
// expected refusal.

#include "frag_mesh.h"
#include "mesh_readers.h"
#include "obj_reader.h"
#include "ply_reader.h"
#include "ply_writer.h"
#include "stl_reader.h"
#include "written_file.h"

#include <Eigen/Geometry>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>
#include <unordered_map>

namespace {

// ---------------------------------------------------------------------------------------------
// A small PLY writer for the tests: elements with typed properties and rows of values.

struct PlyProp {
    QByteArray type;
    QByteArray name;
    QByteArray countType; // empty for a scalar property
};

struct PlyElem {
    QByteArray name;
    QList<PlyProp> props;
    QList<QList<QList<double>>> rows; // row -> property -> values (one for a scalar)
};

bool isIntegerType(const QByteArray& t) {
    return t != "float" && t != "float32" && t != "double" && t != "float64";
}

void appendBinary(QByteArray& out, double v, const QByteArray& type, bool bigEndian) {
    char buf[8];
    std::size_t n = 0;
    auto put = [&](auto x) {
        n = sizeof(x);
        std::memcpy(buf, &x, n);
    };
    if (type == "char" || type == "int8")
        put(static_cast<std::int8_t>(v));
    else if (type == "uchar" || type == "uint8")
        put(static_cast<std::uint8_t>(v));
    else if (type == "short" || type == "int16")
        put(static_cast<std::int16_t>(v));
    else if (type == "ushort" || type == "uint16")
        put(static_cast<std::uint16_t>(v));
    else if (type == "int" || type == "int32")
        put(static_cast<std::int32_t>(v));
    else if (type == "uint" || type == "uint32")
        put(static_cast<std::uint32_t>(v));
    else if (type == "float" || type == "float32")
        put(static_cast<float>(v));
    else
        put(v);
    if (bigEndian != (QSysInfo::ByteOrder == QSysInfo::BigEndian))
        std::reverse(buf, buf + n);
    out.append(buf, static_cast<qsizetype>(n));
}

QByteArray asciiNumber(double v, const QByteArray& type) {
    return isIntegerType(type) ? QByteArray::number(static_cast<qint64>(v)) : QByteArray::number(v, 'g', 17);
}

QByteArray writePly(const QByteArray& format, const QList<PlyElem>& elems, bool crlf = false,
                    const QByteArray& extraHeader = {}) {
    const QByteArray nl = crlf ? "\r\n" : "\n";
    QByteArray out =
        "ply" + nl + "format " + format + " 1.0" + nl + "comment written by the test" + nl + extraHeader;
    for (const PlyElem& e : elems) {
        out += "element " + e.name + " " + QByteArray::number(e.rows.size()) + nl;
        for (const PlyProp& p : e.props) {
            if (p.countType.isEmpty())
                out += "property " + p.type + " " + p.name + nl;
            else
                out += "property list " + p.countType + " " + p.type + " " + p.name + nl;
        }
    }
    out += "obj_info a line to skip" + nl + "end_header" + nl;
    for (const PlyElem& e : elems)
        for (const auto& row : e.rows) {
            QByteArrayList tokens;
            for (qsizetype j = 0; j < e.props.size(); ++j) {
                const PlyProp& p = e.props[j];
                const QList<double>& values = row[j];
                if (format == "ascii") {
                    if (!p.countType.isEmpty())
                        tokens << QByteArray::number(values.size());
                    for (double v : values)
                        tokens << asciiNumber(v, p.type);
                } else {
                    const bool be = format == "binary_big_endian";
                    if (!p.countType.isEmpty())
                        appendBinary(out, static_cast<double>(values.size()), p.countType, be);
                    for (double v : values)
                        appendBinary(out, v, p.type, be);
                }
            }
            if (format == "ascii")
                out += tokens.join(' ') + nl;
        }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The base mesh: five vertices (the last one unreferenced) with colours, and a few faces.

const Point3d basePositions[5] = {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {0, 2, 1}, {7, 8, 9}};
// All below 128, so that every integer type (also char) holds them.
const int baseColors[5][3] = {{10, 20, 30}, {127, 0, 5}, {0, 100, 0}, {0, 0, 120}, {1, 2, 3}};

struct MeshSpec {
    QByteArray format = "binary_little_endian";
    QByteArray posType = "float";
    QByteArray colorType = "uchar"; // empty: no colours
    QByteArray colorPrefix;         // e.g. "diffuse_"
    bool alpha = false;
    QByteArray countType = "uchar";
    QByteArray indexType = "int";
    QByteArray listName = "vertex_indices";
    int extras = 0; // 1: extra scalar properties, 2: also extra lists and extra elements
    bool crlf = false;
    bool facesFirst = false;
    QList<QList<int>> faces = {{0, 1, 2}, {3, 2, 1}};
};

QByteArray writeMesh(const MeshSpec& s) {
    PlyElem v{"vertex", {}, {}};
    if (s.extras >= 1)
        v.props << PlyProp{"float", "quality", {}};
    v.props << PlyProp{s.posType, "x", {}} << PlyProp{s.posType, "y", {}} << PlyProp{s.posType, "z", {}};
    if (s.extras >= 1)
        v.props << PlyProp{"float", "nx", {}} << PlyProp{"float", "ny", {}} << PlyProp{"float", "nz", {}};
    if (s.extras >= 2)
        v.props << PlyProp{"float", "texcoord", "uchar"};
    const bool colors = !s.colorType.isEmpty();
    if (colors) {
        v.props << PlyProp{s.colorType, s.colorPrefix + "red", {}}
                << PlyProp{s.colorType, s.colorPrefix + "green", {}}
                << PlyProp{s.colorType, s.colorPrefix + "blue", {}};
        if (s.alpha)
            v.props << PlyProp{s.colorType, s.colorPrefix + "alpha", {}};
    }
    if (s.extras >= 1)
        v.props << PlyProp{"ushort", "flags", {}};
    const double colorScale = isIntegerType(s.colorType) ? 1.0 : 1.0 / 255.0;
    for (int i = 0; i < 5; ++i) {
        QList<QList<double>> row;
        if (s.extras >= 1)
            row << QList<double>{0.5 * i};
        row << QList<double>{basePositions[i].x()} << QList<double>{basePositions[i].y()}
            << QList<double>{basePositions[i].z()};
        if (s.extras >= 1)
            row << QList<double>{0.0} << QList<double>{-1.0} << QList<double>{0.25};
        if (s.extras >= 2)
            row << QList<double>(i % 3, 0.75); // 0, 1 or 2 texture coordinates
        if (colors) {
            for (int c = 0; c < 3; ++c)
                row << QList<double>{baseColors[i][c] * colorScale};
            if (s.alpha)
                row << QList<double>{(100 + i) * colorScale};
        }
        if (s.extras >= 1)
            row << QList<double>{65535.0 - i};
        v.rows << row;
    }

    PlyElem f{"face", {}, {}};
    if (s.extras >= 1)
        f.props << PlyProp{"uchar", "flags", {}};
    f.props << PlyProp{s.indexType, s.listName, s.countType};
    if (s.extras >= 2)
        f.props << PlyProp{"float", "texcoord", "int"};
    for (const QList<int>& face : s.faces) {
        QList<QList<double>> row;
        if (s.extras >= 1)
            row << QList<double>{7.0};
        QList<double> indices;
        for (int i : face)
            indices << i;
        row << indices;
        if (s.extras >= 2)
            row << QList<double>(2 * face.size(), 0.125);
        f.rows << row;
    }

    QList<PlyElem> elems;
    if (s.facesFirst)
        elems << f << v;
    else
        elems << v;
    if (s.extras >= 2) {
        PlyElem material{
            "material", {{"float", "ambient", {}}, {"int", "ids", "ushort"}, {"double", "shine", {}}}, {}};
        material.rows << QList<QList<double>>{{0.1}, {1, 2, 3}, {4.5}}
                      << QList<QList<double>>{{0.2}, {}, {-1e10}};
        elems << material;
    }
    if (!s.facesFirst)
        elems << f;
    if (s.extras >= 2) {
        PlyElem edge{"edge", {{"int", "vertex1", {}}, {"int", "vertex2", {}}, {"uchar", "crease", {}}}, {}};
        edge.rows << QList<QList<double>>{{0}, {1}, {1}};
        elems << edge;
    }
    return writePly(s.format, elems, s.crlf);
}

QList<FragMesh::Face> fans(const QList<QList<int>>& faces) {
    QList<FragMesh::Face> out;
    for (const QList<int>& f : faces)
        for (qsizetype j = 2; j < f.size(); ++j)
            out << FragMesh::Face{std::uint32_t(f[0]), std::uint32_t(f[j - 1]), std::uint32_t(f[j])};
    return out;
}

// ---------------------------------------------------------------------------------------------
// Expected contents of a successfully read file.

struct Expected {
    int vertices = 5;
    QList<FragMesh::Face> faces; // all faces, in order
    bool colors = true;
    QList<QPair<int, Point3d>> positions;
    QList<QPair<int, Color4b>> colorsAt;
};

Expected baseExpected(const MeshSpec& s) {
    Expected e;
    e.faces = fans(s.faces);
    e.colors = !s.colorType.isEmpty();
    for (int i : {1, 3, 4})
        e.positions << qMakePair(i, basePositions[i]);
    if (e.colors)
        for (int i : {0, 1, 4})
            e.colorsAt << qMakePair(i, Color4b{std::uint8_t(baseColors[i][0]), std::uint8_t(baseColors[i][1]),
                                               std::uint8_t(baseColors[i][2]),
                                               std::uint8_t(s.alpha ? 100 + i : 255)});
    return e;
}

const QList<QByteArray> allTypes = {"char",   "int8",    "uchar",  "uint8",  "short", "int16",
                                    "ushort", "uint16",  "int",    "int32",  "uint",  "uint32",
                                    "float",  "float32", "double", "float64"};
const QList<QByteArray> allFormats = {"ascii", "binary_little_endian", "binary_big_endian"};

QByteArray shortFormat(const QByteArray& f) {
    return f == "ascii" ? "ascii" : f == "binary_little_endian" ? "le" : "be";
}

// A larger mesh (grid with quads and triangles, colours) for comparing the formats.
struct GridMesh {
    QList<Point3d> positions;
    QList<Color4b> colors;
    QList<QList<int>> faces;
};

GridMesh makeGrid(int n) {
    GridMesh g;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            g.positions << Point3d(x * 0.5, y * 0.25, float(0.001 * ((x * 37 + y * 11) % 101)));
            g.colors << Color4b{std::uint8_t(x * 5 % 256), std::uint8_t(y * 3 % 256),
                                std::uint8_t((x + y) % 256), 255};
        }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
            if ((x + y) % 3 == 0)
                g.faces << QList<int>{a, b, c, d};
            else
                g.faces << QList<int>{a, b, c} << QList<int>{a, c, d};
        }
    return g;
}

// ---------------------------------------------------------------------------------------------
// Triangle meshes for the STL and OFF readers, and their files as the tests write them.

// Vertices numbered in the order the faces first use them, every vertex used: the numbering the
// STL reader gives, so that one mesh can be compared in every format.
struct TriMesh {
    QList<Point3d> positions; // float values
    QList<Color4b> colors;
    QList<FragMesh::Face> faces;
};

TriMesh inFirstUseOrder(const QList<Point3d>& positions, const QList<Color4b>& colors,
                        const QList<FragMesh::Face>& faces) {
    TriMesh m;
    QList<int> number(positions.size(), -1);
    for (const FragMesh::Face& f : faces) {
        FragMesh::Face renumbered{};
        for (int j = 0; j < 3; ++j) {
            int& n = number[qsizetype(f[std::size_t(j)])];
            if (n < 0) {
                n = int(m.positions.size());
                m.positions << positions[qsizetype(f[std::size_t(j)])];
                m.colors << colors[qsizetype(f[std::size_t(j)])];
            }
            renumbered[std::size_t(j)] = std::uint32_t(n);
        }
        m.faces << renumbered;
    }
    return m;
}

// The coloured grid of makeGrid, its quads split into triangles.
TriMesh triangleGrid(int n) {
    const GridMesh g = makeGrid(n);
    return inFirstUseOrder(g.positions, g.colors, fans(g.faces));
}

FragMesh fragMeshOf(const TriMesh& m) {
    FragMesh f;
    f.vertices.assign(m.positions.begin(), m.positions.end());
    f.fileColors.assign(m.colors.begin(), m.colors.end());
    f.hasVertexColors = true;
    f.faces.assign(m.faces.begin(), m.faces.end());
    return f;
}

void appendFloat(QByteArray& out, double v) {
    const auto f = float(v);
    out.append(reinterpret_cast<const char*>(&f), 4); // STL is little endian, like this machine
}

// Binary STL: the header padded to 80 bytes, the count, then per facet a normal, the corners and
// two attribute bytes (here not zero, as some writers put colours there).
QByteArray binaryStl(const QList<std::array<Point3d, 3>>& facets, const QByteArray& header) {
    QByteArray out = header.left(80).leftJustified(80, ' ');
    const auto n = std::uint32_t(facets.size());
    out.append(reinterpret_cast<const char*>(&n), 4);
    for (const auto& facet : facets) {
        const Point3d normal = (facet[1] - facet[0]).cross(facet[2] - facet[0]).normalized();
        for (const Point3d& p : {normal, facet[0], facet[1], facet[2]})
            for (int k = 0; k < 3; ++k)
                appendFloat(out, p[k]);
        out.append("\x1f\x7c", 2);
    }
    return out;
}

QList<std::array<Point3d, 3>> facetsOf(const TriMesh& m) {
    QList<std::array<Point3d, 3>> facets;
    for (const FragMesh::Face& f : m.faces)
        facets << std::array<Point3d, 3>{m.positions[qsizetype(f[0])], m.positions[qsizetype(f[1])],
                                         m.positions[qsizetype(f[2])]};
    return facets;
}

QByteArray stlNumber(double v) {
    if (v == 0 && std::signbit(v))
        return "-0";
    return QByteArray::number(float(v), 'g', 9); // enough digits for a float to read back exactly
}

// ASCII STL with the keywords as given (e.g. upper case), the line ending nl, and the facets split
// into `solids` solids.
QByteArray asciiStl(const QList<std::array<Point3d, 3>>& facets, int solids = 1, bool upper = false,
                    const QByteArray& nl = "\n") {
    auto word = [upper](const char* w) { return upper ? QByteArray(w).toUpper() : QByteArray(w); };
    QByteArray out;
    for (int s = 0; s < solids; ++s) {
        out += word("solid") + " part " + QByteArray::number(s) + nl;
        for (qsizetype i = facets.size() * s / solids; i < facets.size() * (s + 1) / solids; ++i) {
            out += "  " + word("facet") + " " + word("normal") + " 0 0 1" + nl + "    " + word("outer") +
                   " " + word("loop") + nl;
            for (const Point3d& p : facets[i])
                out += "\t" + word("vertex") + " " + stlNumber(p.x()) + " " + stlNumber(p.y()) + " " +
                       stlNumber(p.z()) + nl;
            out += "    " + word("endloop") + nl + "  " + word("endfacet") + nl;
        }
        out += word("endsolid") + " part " + QByteArray::number(s) + nl;
    }
    return out;
}

// How an OFF file writes its colours.
enum class OffColors { None, Bytes, BytesWithAlpha, Unit };

QByteArray offNumber(double v) {
    return QByteArray::number(v, 'g', 17);
}

// An OFF file of the mesh: keyword (empty for none), counts on the keyword's line or their own,
// normals and colours as asked, comments and blank lines between the lines.
QByteArray offFile(const TriMesh& m, const QByteArray& keyword, OffColors colors, bool normals = false,
                   bool countsOnKeywordLine = false) {
    QByteArray out = "# written by the test\n";
    const QByteArray counts =
        QByteArray::number(m.positions.size()) + " " + QByteArray::number(m.faces.size()) + " 0";
    if (keyword.isEmpty())
        out += counts + "\n";
    else if (countsOnKeywordLine)
        out += keyword + " " + counts + "\n";
    else
        out += keyword + "\n\n# counts\n" + counts + "\n";
    for (qsizetype i = 0; i < m.positions.size(); ++i) {
        const Point3d& p = m.positions[i];
        out += offNumber(p.x()) + " " + offNumber(p.y()) + "\t" + offNumber(p.z());
        if (normals)
            out += " 0 0 1";
        const Color4b c = m.colors[i];
        if (colors == OffColors::Bytes || colors == OffColors::BytesWithAlpha)
            out +=
                " " + QByteArray::number(c.r) + " " + QByteArray::number(c.g) + " " + QByteArray::number(c.b);
        if (colors == OffColors::BytesWithAlpha)
            out += " 255";
        if (colors == OffColors::Unit)
            out += " " + offNumber(c.r / 255.0) + " " + offNumber(c.g / 255.0) + " " + offNumber(c.b / 255.0);
        out += i % 7 == 0 ? " # a comment\n" : "\n";
        if (i % 11 == 0)
            out += "\n";
    }
    for (qsizetype i = 0; i < m.faces.size(); ++i) {
        const FragMesh::Face& f = m.faces[i];
        out +=
            "3 " + QByteArray::number(f[0]) + " " + QByteArray::number(f[1]) + " " + QByteArray::number(f[2]);
        out += i % 5 == 0 ? " 255 0 0\r\n" : "\n"; // a face colour, which is not read
    }
    return out;
}

// A unit cube of 12 facets whose corners are first used in the order 0..7.
const Point3d cubeCorners[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const QList<FragMesh::Face> cubeFaces = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                         {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};

QList<std::array<Point3d, 3>> cubeFacets() {
    QList<std::array<Point3d, 3>> facets;
    for (const FragMesh::Face& f : cubeFaces)
        facets << std::array<Point3d, 3>{cubeCorners[f[0]], cubeCorners[f[1]], cubeCorners[f[2]]};
    return facets;
}

Expected cubeExpected() {
    Expected e;
    e.vertices = 8;
    e.faces = cubeFaces;
    e.colors = false;
    for (int i = 0; i < 8; ++i)
        e.positions << qMakePair(i, cubeCorners[i]);
    return e;
}

} // namespace

Q_DECLARE_METATYPE(Expected)

class TestMeshIo : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Writes content into the file name, relative to the test's folder.
    QString write(const QString& name, const QByteArray& content) { return writeFileIn(dir_, name, content); }

    // Reads through the installed formats, choosing by suffix as the scene does.
    static bool read(const QString& path, FragMesh& mesh, QString& error) {
        return readMeshFile(path, mesh, error);
    }

    static bool isObj(const QString& path) {
        return path.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive);
    }

    // Reads the OBJ file at path cut into parts at many places and calls check(what, ok, mesh, error)
    // for each read: the file in 2 to 64 parts (at most one per byte), and, for a small file, in two
    // parts padded so that the one cut falls on each of its bytes in turn. Blanks before the first
    // line move the cut towards the start, a comment after the last line towards the end; neither
    // changes what the file says. The copies keep the file's name, which messages quote.
    template <typename Check> void readInParts(const QString& path, Check&& check) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        // False once a check has failed, so that one fault is reported once.
        auto readCut = [&](const QString& p, unsigned parts, const QByteArray& what) {
            FragMesh m;
            QString error;
            const bool ok = readObj(p, m, error, ObjReadOptions{1, parts});
            check(what, ok, m, error);
            return !QTest::currentTestFailed();
        };
        for (unsigned parts = 2; parts <= std::min<qsizetype>(text.size(), 64); ++parts)
            if (!readCut(path, parts, "read in " + QByteArray::number(parts) + " parts"))
                return;
        if (text.size() > 4096)
            return;
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("padded")));
        const QString padded = QStringLiteral("padded/") + QFileInfo(path).fileName();
        for (qsizetype pad = 0; pad <= text.size(); ++pad) {
            const QByteArray blanks(pad, ' ');
            if (!readCut(write(padded, blanks + text), 2,
                         "two parts after " + QByteArray::number(pad) + " blanks") ||
                !readCut(write(padded, text + "\n#" + blanks), 2,
                         "two parts before a comment of " + QByteArray::number(pad) + " blanks"))
                return;
        }
    }

    // However an OBJ file is cut into parts, it gives the mesh it gives in one part.
    void readsTheSameInParts(const QString& path, const FragMesh& whole) {
        readInParts(path, [&](const QByteArray& what, bool ok, const FragMesh& m, const QString& error) {
            QVERIFY2(ok, qPrintable(what + ": " + error));
            QVERIFY2(m.vertices == whole.vertices, what.constData());
            QVERIFY2(m.faces == whole.faces, what.constData());
            QVERIFY2(m.hasVertexColors == whole.hasVertexColors, what.constData());
            QVERIFY2(m.fileColors == whole.fileColors, what.constData());
        });
    }

    // However an OBJ file is cut into parts, it is refused with the message of one part.
    void refusedTheSameInParts(const QString& path, const QString& wholeError) {
        readInParts(path, [&](const QByteArray& what, bool ok, const FragMesh& m, const QString& error) {
            QVERIFY2(!ok, what.constData());
            QVERIFY2(error == wholeError, qPrintable(what + ": " + error));
            QVERIFY2(m.isEmpty(), what.constData());
        });
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        installMeshReaders();
        installMeshReaders(); // again: nothing is listed twice
        QCOMPARE(meshSuffixes(), QStringList({"ply", "obj", "stl", "off"}));
        QCOMPARE(meshFileDialogFilter(),
                 QStringLiteral("All meshes (*.ply *.obj *.stl *.off);;ply (*.ply);;obj "
                                "(*.obj);;stl (*.stl);;off (*.off)"));
    }

    void readsValidFiles_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Expected>("expected");

        auto addPly = [](const QByteArray& tag, const MeshSpec& s) {
            QTest::newRow(tag.constData())
                << QString::fromLatin1(tag + ".ply") << writeMesh(s) << baseExpected(s);
        };
        for (const QByteArray& format : allFormats) {
            const QByteArray f = shortFormat(format);
            MeshSpec s;
            s.format = format;
            addPly(f + "-default", s);
            for (const QByteArray& t : allTypes) {
                MeshSpec p = s;
                p.posType = t;
                addPly(f + "-position-" + t, p);
                MeshSpec c = s;
                c.colorType = t;
                c.alpha = true;
                addPly(f + "-color-" + t, c);
            }
            for (const char* ct : {"uchar", "char", "ushort", "short", "int", "uint", "uint8", "int32"}) {
                MeshSpec c = s;
                c.countType = ct;
                addPly(f + "-count-" + ct, c);
            }
            for (const char* it :
                 {"uchar", "char", "ushort", "short", "uint", "int32", "uint32", "float", "double"}) {
                MeshSpec c = s;
                c.indexType = it;
                addPly(f + "-index-" + it, c);
            }
            MeshSpec noColor = s;
            noColor.colorType.clear();
            addPly(f + "-no-colors", noColor);
            MeshSpec diffuse = s;
            diffuse.colorPrefix = "diffuse_";
            addPly(f + "-diffuse-colors", diffuse);
            MeshSpec single = s;
            single.listName = "vertex_index";
            addPly(f + "-vertex_index", single);
            MeshSpec polygons = s;
            polygons.faces = {{0, 1, 2, 3}, {4, 0, 1, 2, 3}, {1, 2, 3}};
            addPly(f + "-quad-pentagon-fans", polygons);
            MeshSpec degenerate = s;
            degenerate.faces = {{0, 0, 1}, {0, 1, 2}, {2, 2, 2}};
            addPly(f + "-degenerate-faces-kept", degenerate);
            MeshSpec extras1 = s;
            extras1.extras = 1;
            addPly(f + "-extra-properties", extras1);
            MeshSpec extras2 = s;
            extras2.extras = 2;
            extras2.faces = {{0, 1, 2, 3}, {3, 2, 1}};
            addPly(f + "-extra-lists-and-elements", extras2);
            MeshSpec crlf = extras2;
            crlf.crlf = true;
            addPly(f + "-crlf", crlf);
            MeshSpec first = s;
            first.facesFirst = true;
            addPly(f + "-faces-before-vertices", first);
        }

        // Colour conversion: reals scaled and clamped, other integers clamped.
        for (const QByteArray& format : allFormats) {
            QList<PlyElem> elems;
            PlyElem v{"vertex",
                      {{"float", "x", {}},
                       {"float", "y", {}},
                       {"float", "z", {}},
                       {"double", "red", {}},
                       {"short", "green", {}},
                       {"float", "blue", {}}},
                      {}};
            v.rows << QList<QList<double>>{{0}, {0}, {0}, {1.2}, {300}, {0.5}}
                   << QList<QList<double>>{{1}, {0}, {0}, {-0.1}, {-5}, {0.2}}
                   << QList<QList<double>>{{0}, {1}, {0}, {1.0}, {255}, {0.0}};
            PlyElem f{"face", {{"int", "vertex_indices", "uchar"}}, {}};
            f.rows << QList<QList<double>>{{0, 1, 2}};
            elems << v << f;
            Expected e;
            e.vertices = 3;
            e.faces = {{0, 1, 2}};
            e.colorsAt = {qMakePair(0, Color4b{255, 255, 128, 255}), qMakePair(1, Color4b{0, 0, 51, 255}),
                          qMakePair(2, Color4b{255, 255, 0, 255})};
            QTest::newRow(("color-conversion-" + shortFormat(format)).constData())
                << QStringLiteral("conversion.PLY") << writePly(format, elems) << e;
        }

        // ASCII details: tabs, extra blank lines, '+' signs, exponents, integers written as reals.
        {
            const QByteArray text =
                "ply\nformat ascii 1.0\nelement vertex 3\nproperty double x\nproperty double y\n"
                "property double z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
                "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                "1e1\t-2.5E-1 +3 255 0 1\n\n  0 0 0 1.0 2 3\n0 1 0 0 0 0\n3 0 1 2\n";
            Expected e;
            e.vertices = 3;
            e.faces = {{0, 1, 2}};
            e.positions = {qMakePair(0, Point3d(10, -0.25, 3))};
            e.colorsAt = {qMakePair(0, Color4b{255, 0, 1, 255}), qMakePair(1, Color4b{1, 2, 3, 255})};
            QTest::newRow("ascii-number-forms") << QStringLiteral("forms.ply") << text << e;
        }

        // OBJ.
        {
            Expected e;
            e.vertices = 5;
            e.faces = {{0, 1, 2}, {0, 2, 3}};
            e.colors = false;
            e.positions = {qMakePair(1, Point3d(1.5, 0, 0)), qMakePair(4, Point3d(9, 9, -9))};
            QTest::newRow("obj-plain")
                << QStringLiteral("plain.obj")
                << QByteArray("# a comment\nmtllib missing.mtl\nv 0 0 0\nv 1.5 0 0\nv 1 1 0\n"
                              "v 0 1 0\nv 9 9 -9\nusemtl none\nf 1 2 3\nf 1 3 4\n")
                << e;
            Expected c = e;
            c.colors = true;
            c.colorsAt = {qMakePair(0, Color4b{255, 0, 128, 255}), qMakePair(4, Color4b{0, 0, 0, 255})};
            QTest::newRow("obj-colors")
                << QStringLiteral("colors.obj")
                << QByteArray("v 0 0 0 1 0 0.5\nv 1.5 0 0 0.1 0.2 0.3\nv 1 1 0 1 1 1\n"
                              "v 0 1 0 0 0 0\nv 9 9 -9 0 0 0\nf 1 2 3\nf 1 3 4\n")
                << c;
            Expected q = e;
            q.faces = {{0, 1, 2}, {0, 2, 3}, {4, 0, 1}, {4, 1, 2}, {4, 2, 3}, {1, 2, 3}};
            QTest::newRow("obj-quads-and-groups")
                << QStringLiteral("quads.OBJ")
                << QByteArray("o first\nv 0 0 0\nv 1.5 0 0\nv 1 1 0\nv 0 1 0\nv 9 9 -9\nvt 0 0\nvn 0 0 1\n"
                              "f 1/1/1 2/1/1 3/1/1 4/1/1\r\no second\ng part\nf 5//1 1//1 2//1 3//1 4//1\n"
                              "g other\nf 2/1 3/1 4/1\n")
                << q;
            Expected r = e;
            r.faces = {{0, 1, 2}, {0, 2, 3}, {3, 4, 0}};
            QTest::newRow("obj-continuations-line-endings-and-skipped-lines")
                << QStringLiteral("continued.obj")
                << QByteArray("v 0 0 0\r\nv 1.5 \\\n0 0\rv 1 1 0\nv 0 1 0 # corner\nv 9 9 -9\ns 1\nusemtl m\n"
                              "vw 0 3e9 1\nvp 0.5\nl 1 2\nvt 0 0\nvn 0 0 1\nf 1//1 2//1 \\\r\n "
                              "3//1\nf\t1/1/1 3/1/1 4/1/1\n")
                << e;
            QTest::newRow("obj-relative-indices")
                << QStringLiteral("relative.obj")
                << QByteArray("v 0 0 0\nv 1.5 0 0\nv 1 1 0\nv 0 1 0\nf -4 -3 -2 -1\nv 9 9 -9\nf -2 -1 -5\n")
                << r;
            // Lines ending in a lone "\r", also where a backslash continues them, mixed with "\r\n"
            // and "\n\r" (an ending and an empty line).
            QTest::newRow("obj-lone-cr-endings")
                << QStringLiteral("cr.obj")
                << QByteArray("# lone CR\rv 0 0 0\rv 1.5 \\\r0 0\r\rv 1 1 0\r\nv 0 1 0\n\rv 9 9 -9\r"
                              "f -5 -4 \\\r\n-3\r\\\r\nf 1 3 4\r")
                << e;
            // A face long enough to be checked whole before its fan is built.
            Expected lf = e;
            QList<int> corners;
            QByteArray longFace = "f";
            for (int i = 0; i < 3000; ++i) {
                corners << (i * 3 + i / 5) % 5;
                longFace += " " + QByteArray::number(corners.back() + 1);
            }
            lf.faces = fans({corners});
            QTest::newRow("obj-long-face")
                << QStringLiteral("long.obj")
                << "v 0 0 0\nv 1.5 0 0\nv 1 1 0\nv 0 1 0\nv 9 9 -9\n" + longFace + "\n"
                << lf;
            // A backslash on the last line continues it with nothing, with or without a final line
            // ending, as it does before an empty line.
            const QByteArray lastLine = "v 0 0 0\nv 1.5 0 0\nv 1 1 0\nv 0 1 0\nv 9 9 -9\nf 1 2 3\nf 1 3 4 \\";
            for (const char* end : {"", "\n", "\r\n", "\r", "\n\n", "\n\\"})
                QTest::newRow(("obj-continued-last-line" + QByteArray(end).toPercentEncoding()).constData())
                    << QStringLiteral("last.obj") << lastLine + end << e;
        }

        // STL: corners at the same position are one vertex, numbered as first met.
        {
            const Expected cube = cubeExpected();
            QTest::newRow("stl-binary-cube")
                << QStringLiteral("cube.stl") << binaryStl(cubeFacets(), "cube") << cube;
            QTest::newRow("stl-binary-cube-solid-header")
                << QStringLiteral("solid.STL") << binaryStl(cubeFacets(), "solid cube, but binary") << cube;
            QTest::newRow("stl-ascii-cube") << QStringLiteral("cube.stl") << asciiStl(cubeFacets()) << cube;
            QTest::newRow("stl-ascii-cube-upper-case-crlf-three-solids")
                << QStringLiteral("cube.stl") << asciiStl(cubeFacets(), 3, true, "\r\n") << cube;
            // Normals are not read: missing, or not numbers at all.
            QTest::newRow("stl-ascii-odd-normals")
                << QStringLiteral("normals.stl")
                << QByteArray(asciiStl(cubeFacets()))
                       .replace("facet normal 0 0 1\n", "facet\n")
                       .replace("solid part 0\n  facet\n", "solid part 0\n  facet normal nan -nan 1.#IND\n")
                << cube;
            QTest::newRow("stl-ascii-name-less-solid-and-number-forms")
                << QStringLiteral("forms.stl")
                << QByteArray("solid\nfacet normal 0 0 0\nouter loop\nvertex +1e0 0.0 -0\nvertex 1E-46 1 .5\n"
                              "vertex 1 0 0\nendloop\nendfacet\nendsolid\n")
                << [] {
                       Expected e;
                       e.vertices = 3; // (1, 0, -0) and (1, 0, 0) are two; 1e-46 is 0 as strtof reads it
                       e.faces = {{0, 1, 2}};
                       e.colors = false;
                       e.positions = {qMakePair(0, Point3d(1, 0, 0)), qMakePair(1, Point3d(0, 1, 0.5)),
                                      qMakePair(2, Point3d(1, 0, 0))};
                       return e;
                   }();
            // Exact positions: -0 and 0 are different floats, a degenerate facet is kept.
            const QList<std::array<Point3d, 3>> signedZero = {
                {Point3d(0, 0, 0), Point3d(1, 0, 0), Point3d(0, 1, 0)},
                {Point3d(-0.0, 0, 0), Point3d(0, 1, 0), Point3d(1, 0, 0)},
                {Point3d(1, 0, 0), Point3d(1, 0, 0), Point3d(1, 0, 0)}};
            Expected z;
            z.vertices = 4;
            z.faces = {{0, 1, 2}, {3, 2, 1}, {1, 1, 1}};
            z.colors = false;
            QTest::newRow("stl-binary-signed-zero-and-degenerate")
                << QStringLiteral("zero.stl") << binaryStl(signedZero, "zeros") << z;
            QTest::newRow("stl-ascii-signed-zero-and-degenerate")
                << QStringLiteral("zero.stl") << asciiStl(signedZero) << z;
        }

        // OFF: polygons become fans, every vertex is kept, colours by the file's scale.
        {
            const QByteArray square = "0 0 0\n3 0 0\n3 2 0\n0 2 1\n7 8 9\n";
            Expected e;
            e.vertices = 5;
            e.faces = {{0, 1, 2}, {0, 2, 3}, {4, 0, 1}, {4, 1, 2}, {4, 2, 3}};
            e.colors = false;
            e.positions = {qMakePair(1, basePositions[1]), qMakePair(4, basePositions[4])};
            const QByteArray faces = "4 0 1 2 3\n5 4 0 1 2 3 0.5 0.5 0.5 1\n";
            QTest::newRow("off-polygons")
                << QStringLiteral("poly.off") << "OFF\n5 2 7\n" + square + faces << e;
            QTest::newRow("off-no-edge-count-trailing-lines")
                << QStringLiteral("poly.off") << "OFF 5 2\n" + square + faces + "\n# the end\n2 0 1\n"
                << e;
            // Colours: integers unless written as reals or all at most 1; alpha when given.
            const auto colored = [&](const QByteArray& keyword, const QByteArray& colors, Color4b first,
                                     Color4b last) {
                QByteArray text = keyword + "\n5 2 0\n";
                const QList<QByteArray> rows = square.split('\n');
                const QList<QByteArray> colorRows = colors.split('\n');
                for (int i = 0; i < 5; ++i)
                    text += rows[i] + " " + colorRows[i] + "\n";
                Expected c = e;
                c.colors = true;
                c.colorsAt = {qMakePair(0, first), qMakePair(4, last)};
                return std::make_pair(text + faces, c);
            };
            const QList<std::tuple<const char*, QByteArray, QByteArray, Color4b, Color4b>> colorRows = {
                {"coff-bytes",
                 "COFF",
                 "255 0 128\n1 2 3\n4 5 6\n7 8 9\n0 300 -4",
                 {255, 0, 128, 255},
                 {0, 255, 0, 255}},
                {"coff-bytes-alpha",
                 "COFF",
                 "255 0 128 20\n1 2 3 4\n4 5 6 7\n7 8 9 10\n0 0 0 255",
                 {255, 0, 128, 20},
                 {0, 0, 0, 255}},
                {"coff-unit",
                 "COFF",
                 "1 0 0.5\n0.1 0.2 0.3\n1 1 1\n0 0 0\n0.2 1e-1 2",
                 {255, 0, 128, 255},
                 {51, 26, 255, 255}},
                {"coff-ones-and-zeros-are-unit",
                 "COFF",
                 "1 0 1\n0 0 0\n1 1 1\n0 1 0\n1 1 0 0",
                 {255, 0, 255, 255},
                 {255, 255, 0, 0}},
                {"cnoff",
                 "CNOFF",
                 "0 0 1 255 0 128\n0 0 1 1 2 3\n0 0 1 4 5 6\n0 0 1 7 8 9\n0 0 1 1 2 3",
                 {255, 0, 128, 255},
                 {1, 2, 3, 255}},
                {"off-colours-without-c",
                 "OFF",
                 "255 0 128\n1 2 3\n4 5 6\n7 8 9\n10 11 12",
                 {255, 0, 128, 255},
                 {10, 11, 12, 255}},
            };
            for (const auto& [tag, keyword, colors, first, last] : colorRows) {
                const auto [text, c] = colored(keyword, colors, first, last);
                QTest::newRow(tag) << QStringLiteral("colors.off") << text << c;
            }
            // Extra numbers on only some vertices of a plain file are not colours.
            QTest::newRow("off-some-extra-numbers")
                << QStringLiteral("extra.off")
                << "OFF\n5 2 0\n0 0 0 1 2 3\n3 0 0\n3 2 0 4 5 6\n0 2 1\n7 8 9\n" + faces << e;
        }
    }

    void readsValidFiles() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(Expected, expected);
        const QString path = write(fileName, content);
        FragMesh mesh;
        QString error;
        QVERIFY2(read(path, mesh, error), qPrintable(error));
        QCOMPARE(int(mesh.vertexCount()), expected.vertices);
        QCOMPARE(int(mesh.faceCount()), int(expected.faces.size()));
        for (qsizetype i = 0; i < expected.faces.size(); ++i)
            QCOMPARE(mesh.faces[i], expected.faces[i]);
        for (const auto& [i, p] : expected.positions)
            QCOMPARE(mesh.vertices[i], p);
        QCOMPARE(mesh.hasVertexColors, expected.colors);
        QCOMPARE(mesh.fileColors.size(), expected.colors ? mesh.vertexCount() : std::size_t{0});
        for (const auto& [i, c] : expected.colorsAt) {
            const Color4b got = mesh.fileColors[i];
            QVERIFY2(got == c, qPrintable(QStringLiteral("vertex %1: colour %2 %3 %4 %5")
                                              .arg(i)
                                              .arg(got.r)
                                              .arg(got.g)
                                              .arg(got.b)
                                              .arg(got.a)));
        }
        // Read exactly: no slack in the arrays the reader filled.
        QCOMPARE(mesh.faces.capacity(), mesh.faces.size());
        QCOMPARE(mesh.vertices.capacity(), mesh.vertices.size());
        if (isObj(path))
            readsTheSameInParts(path, mesh);
    }

    void refusesMalformedFiles_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("phrase");

        MeshSpec base;
        const QByteArray le = writeMesh(base);
        MeshSpec asciiSpec;
        asciiSpec.format = "ascii";
        const QByteArray ascii = writeMesh(asciiSpec);
        const QByteArray header =
            "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
            "property float z\nelement face 1\nproperty list uchar int vertex_indices\n";
        const QByteArray body = "0 0 0\n1 0 0\n0 1 0\n";

        QTest::newRow("garbage") << "garbage.ply"
                                 << QByteArray("\x7f\x45LF\x02\x01\x01 random bytes\n\x00\x01", 22)
                                 << "not a PLY file";
        QTest::newRow("ply-prefix-only") << "prefix.ply" << QByteArray("plywood\n") << "not a PLY file";
        QTest::newRow("empty-file") << "empty.ply" << QByteArray() << "empty";
        QTest::newRow("truncated-header")
            << "cut.ply" << le.left(le.indexOf("end_header") - 5) << "end_header";
        QTest::newRow("no-end-header") << "noend.ply" << QByteArray(header + body) << "end_header";
        QTest::newRow("truncated-binary-faces") << "cutfaces.ply" << le.left(le.size() - 3) << "truncated";
        QTest::newRow("truncated-binary-vertices")
            << "cutvertices.ply" << le.left(le.indexOf("end_header\n") + 11 + 40)
            << "more than the remaining";
        QTest::newRow("truncated-ascii") << "cutascii.ply" << ascii.left(ascii.size() - 4) << "truncated";
        QTest::newRow("truncated-ascii-vertices")
            << "cutasciiv.ply" << QByteArray(header + "end_header\n0.0 0.0 0.0\n1.0 0.0 0.0\n0.0 1.0")
            << "truncated";
        QTest::newRow("huge-vertex-count-binary")
            << "huge.ply"
            << QByteArray(
                   "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nproperty float x\n"
                   "property float y\nproperty float z\nend_header\n0123456789abcdef")
            << "more than the remaining";
        QTest::newRow("huge-face-count-ascii")
            << "hugeface.ply"
            << QByteArray(header).replace("face 1", "face 900000000000") + "end_header\n" + body + "3 0 1 2\n"
            << "more than the remaining";
        QTest::newRow("huge-list-length")
            << "hugelist.ply"
            << QByteArray(
                   "ply\nformat binary_little_endian 1.0\nelement vertex 0\nproperty float x\nproperty float "
                   "y\n"
                   "property float z\nelement face 1\nproperty list uint int vertex_indices\nend_header\n"
                   "\xff\xff\xff\x7f\x00\x00\x00\x00")
            << "truncated";
        QTest::newRow("count-overflow")
            << "overflow.ply" << QByteArray(header).replace("vertex 3", "vertex 99999999999999999999999")
            << "invalid count";
        QTest::newRow("unknown-format")
            << "format.ply" << QByteArray(header).replace("ascii", "binary_middle_endian") + "end_header\n"
            << "unknown format";
        QTest::newRow("no-format") << "noformat.ply"
                                   << QByteArray(header).replace("format ascii 1.0\n", "") + "end_header\n"
                                   << "no format line";
        QTest::newRow("unknown-type")
            << "type.ply" << QByteArray(header).replace("float y", "float128 y") + "end_header\n" + body
            << "unknown property type";
        QTest::newRow("unknown-list-type")
            << "listtype.ply"
            << QByteArray(header).replace("list uchar int", "list uchar int64") + "end_header\n" + body +
                   "3 0 1 2\n"
            << "unknown property type";
        QTest::newRow("no-xyz") << "noxyz.ply"
                                << QByteArray(header).replace("float z", "float w") + "end_header\n" + body +
                                       "3 0 1 2\n"
                                << "no x, y, z";
        QTest::newRow("no-vertex-element") << "novertex.ply"
                                           << QByteArray("ply\nformat ascii 1.0\nelement face 0\nproperty "
                                                         "list uchar int vertex_indices\nend_header\n")
                                           << "no vertex element";
        QTest::newRow("no-index-list")
            << "nolist.ply"
            << QByteArray(header).replace("vertex_indices", "corners") + "end_header\n" + body + "3 0 1 2\n"
            << "no vertex_indices";
        QTest::newRow("property-before-element")
            << "order.ply" << QByteArray("ply\nformat ascii 1.0\nproperty float x\nend_header\n")
            << "before any element";
        QTest::newRow("unexpected-header-line")
            << "line.ply" << QByteArray(header).replace("element face", "elephant face") + "end_header\n"
            << "unexpected header line";

        QTest::newRow("ascii-index-out-of-range")
            << "range.ply" << QByteArray(header + "end_header\n" + body + "3 0 1 3\n") << "out of range";
        QTest::newRow("ascii-negative-index")
            << "negative.ply" << QByteArray(header + "end_header\n" + body + "3 0 -1 2\n")
            << "-1 is out of range";
        QTest::newRow("ascii-two-indices")
            << "two.ply" << QByteArray(header + "end_header\n" + body + "2 0 1\n") << "at least 3";
        QTest::newRow("ascii-junk-number")
            << "junk.ply" << QByteArray(header + "end_header\n0 0 0\n1 0x 0\n0 1 0\n3 0 1 2\n")
            << "invalid number";
        QTest::newRow("ascii-junk-word")
            << "word.ply" << QByteArray(header + "end_header\n" + body + "3 0 one 2\n") << "invalid number";
        QTest::newRow("ascii-junk-trailer")
            << "trailer.ply" << QByteArray(header + "end_header\n0 0 0\n1 0 0\n0 1 0abc\n3 0 1 2\n")
            << "invalid number";
        QTest::newRow("ascii-fractional-index")
            << "fraction.ply" << QByteArray(header + "end_header\n" + body + "3 0 1.5 2\n")
            << "invalid number";
        QTest::newRow("ascii-negative-list-length")
            << "negativelist.ply" << QByteArray(header + "end_header\n" + body + "-3 0 1 2\n")
            << "at least 3";
        {
            MeshSpec s;
            s.faces = {{0, 1, 5}};
            QTest::newRow("binary-fast-index-out-of-range")
                << "fast.ply" << writeMesh(s) << "5 is out of range";
            s.faces = {{0, -1, 2}};
            QTest::newRow("binary-fast-negative-index")
                << "fastneg.ply" << writeMesh(s) << "-1 is out of range";
            s.faces = {{0, 1}};
            QTest::newRow("binary-fast-two-indices") << "fasttwo.ply" << writeMesh(s) << "at least 3";
            s.format = "binary_big_endian";
            QTest::newRow("binary-generic-two-indices") << "generictwo.ply" << writeMesh(s) << "at least 3";
            s.faces = {{0, 1, 2}, {4, 1, 70000}};
            s.indexType = "uint";
            QTest::newRow("binary-generic-index-out-of-range")
                << "generic.ply" << writeMesh(s) << "70000 is out of range";
            s.indexType = "short";
            s.faces = {{0, 1, 2}, {4, 1, -2}};
            QTest::newRow("binary-generic-negative-index")
                << "genericneg.ply" << writeMesh(s) << "-2 is out of range";
        }

        QTest::newRow("missing-ply") << "does-not-exist.ply" << QByteArray() << "does not exist";
        QTest::newRow("missing-obj") << "does-not-exist.obj" << QByteArray() << "does not exist";
        QTest::newRow("missing-stl") << "does-not-exist.stl" << QByteArray() << "does not exist";
        QTest::newRow("missing-off") << "does-not-exist.off" << QByteArray() << "does not exist";
        // Refused by its name, though its content is a good OBJ file.
        QTest::newRow("unknown-suffix")
            << "mesh.xyz" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
            << "mesh.xyz: unknown mesh format; Ostrakit reads .ply, .obj, .stl and .off";
        // Indices out of range are quoted as the file writes them, on their line (the whole message).
        const QByteArray triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        const QString outOfRange =
            "%1: line %2: a face refers to vertex %3, which is out of range (the file has %4 vertices, "
            "counted from 1)";
        const QList<std::tuple<const char*, QByteArray, int, QString, int>> ranges = {
            {"obj-index-out-of-range", triangle + "f 1 2 3\nf 1 2 4\n", 5, "4", 3},
            {"obj-relative-before-start", triangle + "f -1 -2 -4\n", 4, "-4", 3},
            {"obj-relative-after-later-vertex", triangle + "f -1 -2 -3\nv 0 0 1\nf -1 -2 -5\n", 6, "-5", 4},
            {"obj-index-written-with-sign-and-zeros", triangle + "f 1 2 +0004/1/1\n", 4, "+0004", 3},
            {"obj-largest-index", triangle + "f 1 2 9223372036854775807\n", 4, "9223372036854775807", 3},
            {"obj-smallest-index", triangle + "f -9223372036854775808 1 2\n", 4, "-9223372036854775808", 3},
            {"obj-index-beyond-32-bits", triangle + "f 1 2 4294967297\n", 4, "4294967297", 3},
            {"obj-out-of-range-after-continuation", triangle + "f 1 \\\n2 \\\r\n3 \\\r-7\n", 4, "-7", 3},
            {"obj-out-of-range-before-unparsable", triangle + "f 1 2 4 x\n", 4, "4", 3},
            {"obj-out-of-range-ending-long-face",
             triangle + "f" + QByteArray(" 1 2 3").repeated(1000) + " -4\n", 4, "-4", 3},
        };
        for (const auto& [tag, content, line, index, vertices] : ranges)
            QTest::newRow(tag) << QStringLiteral("range.obj") << content
                               << outOfRange.arg("range.obj").arg(line).arg(index).arg(vertices);
        QTest::newRow("obj-zero-index")
            << "zero.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n") << "cannot be parsed";
        QTest::newRow("obj-no-faces")
            << "nofaces.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\n") << "no faces";
        QTest::newRow("obj-only-short-faces")
            << "short.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2\n")
            << "line 4: a face has 2 vertices";
        // Cut in the middle of the last face line: the faces before it do not make it a mesh.
        QTest::newRow("obj-cut-face-line")
            << "cut.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\r\nf 1 2 3\r\nf 2 4 3\nf 3 4")
            << "line 7: a face has 2 vertices (a face needs at least 3)";
        QTest::newRow("obj-empty-face-line")
            << "emptyface.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\n\tf 1 2 3\n  f \t\nf 1 2 3\n")
            << "line 5: a face has 0 vertices";
        QTest::newRow("obj-two-coordinates") << "flat.obj" << QByteArray("v 0 0 0\nv 1 0\nv 0 1 0\nf 1 2 3\n")
                                             << "cannot be parsed (line 2: a vertex needs three coordinates)";
        QTest::newRow("obj-bad-corner")
            << "corner.obj" << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3/x\n")
            << "cannot be parsed (line 4: \"3/x\" is not a face corner)";
        QTest::newRow("obj-short-face-after-continuation")
            << "contshort.obj" << QByteArray("v 0 0 0\nv 1 \\\n0 0\nv 0 1 0\nf 1 2 3\nf 1 2\n")
            << "line 6: a face has 2 vertices";
        // A file without vertices is refused before any face is read: a face line of a million
        // corners builds no triangles, and an unparsable face does not matter.
        const QString noVertices = "novertices.obj: the file contains no vertices (is it an OBJ file?)";
        QTest::newRow("obj-no-vertices-long-face") << "novertices.obj"
                                                   << "f" + QByteArray(" 1").repeated(1000000) + "\n"
                                                   << noVertices;
        QTest::newRow("obj-no-vertices-unparsable-face")
            << "novertices.obj" << QByteArray("f 1 2 3\nf 1 x 3\nvt 0 0\n") << noVertices;
        QTest::newRow("obj-garbage") << "garbage.obj"
                                     << QByteArray("\x89PNG\r\n\x1a\n\x00\x00 not a mesh at all\n", 30)
                                     << "no vertices";

        // Texture coordinates: an index out of range refuses the file as a vertex index does.
        const QString vtOutOfRange =
            "%1: line %2: a face refers to texture coordinate %3, which is out of range "
            "(the file has %4 texture coordinates, counted from 1)";
        const QByteArray twoVt = triangle + "vt 0 0\nvt 1 0\n";
        const QList<std::tuple<const char*, QByteArray, int, QString, int>> vtRanges = {
            {"obj-vt-index-out-of-range", twoVt + "f 1/1 2/2 3/3\n", 6, "3", 2},
            {"obj-vt-index-out-of-range-with-normal", twoVt + "vn 0 0 1\nf 1/1/1 2/2/1 3/+03/1\n", 7, "+03",
             2},
            {"obj-vt-relative-before-start", twoVt + "f 1/-1 2/-2 3/-3\n", 6, "-3", 2},
            {"obj-vt-relative-after-later-vt", twoVt + "f 1/-1 2/-2 3/-2\nvt 1 1\nf 1/-1 2/-3 3/-4\n", 8,
             "-4", 3},
            {"obj-vt-out-of-range-on-second-fan-corner", twoVt + "f 1/1 2/2 3/1 1/9\n", 6, "9", 2},
        };
        for (const auto& [tag, content, line, index, texCoords] : vtRanges)
            QTest::newRow(tag) << QStringLiteral("range.obj") << content
                               << vtOutOfRange.arg("range.obj").arg(line).arg(index).arg(texCoords);
        QTest::newRow("obj-vt-index-zero") << "vtzero.obj" << twoVt + "f 1/1 2/0 3/2\n"
                                           << "cannot be parsed (line 6: a face refers to texture coordinate "
                                              "0 (texture coordinates count from 1))";
        QTest::newRow("obj-vt-without-number")
            << "vtword.obj" << triangle + "vt u v\nf 1/1 2/1 3/1\n"
            << "cannot be parsed (line 4: a texture coordinate needs a number)";
        QTest::newRow("obj-bad-vt-corner") << "vtcorner.obj" << twoVt + "f 1/1 2/x 3/2\n"
                                           << "cannot be parsed (line 6: \"2/x\" is not a face corner)";

        QByteArray manyMaterials = twoVt;
        for (int m = 0; m <= 65535; ++m)
            manyMaterials += "usemtl m" + QByteArray::number(m) + "\nf 1/1 2/2 3/1\n";
        QTest::newRow("obj-too-many-materials")
            << "materials.obj" << manyMaterials << "materials.obj: the file names more than 65535 materials";

        // A texcoord list of other than two numbers a corner, a texnumber naming no texture file.
        const PlyElem plyVertices{"vertex",
                                  {{"float", "x", {}}, {"float", "y", {}}, {"float", "z", {}}},
                                  {{{0}, {0}, {0}}, {{1}, {0}, {0}}, {{0}, {1}, {0}}, {{1}, {1}, {0}}}};
        auto texturedPly = [&](const QByteArray& format, const QList<double>& texcoords, double texnumber) {
            PlyElem faces{"face",
                          {{"int", "vertex_indices", "uchar"},
                           {"float", "texcoord", "uchar"},
                           {"short", "texnumber", {}}},
                          {}};
            faces.rows << QList<QList<double>>{{0, 1, 2}, {0, 0, 1, 0, 0, 1}, {0}}
                       << QList<QList<double>>{{0, 2, 3, 1}, texcoords, {texnumber}};
            return writePly(format, {plyVertices, faces}, false, "comment TextureFile one image.png\n");
        };
        for (const QByteArray& format : allFormats) {
            const QByteArray f = shortFormat(format);
            QTest::newRow(("ply-texcoords-short-" + f).constData())
                << "texcoords.ply" << texturedPly(format, {0, 0, 1, 0, 0, 1}, 0)
                << "face 1 has 6 texture coordinate numbers for 4 corners (two a corner)";
            QTest::newRow(("ply-texcoords-long-" + f).constData())
                << "texcoords.ply" << texturedPly(format, QList<double>(10, 0.5), 0)
                << "face 1 has 10 texture coordinate numbers for 4 corners";
            QTest::newRow(("ply-texnumber-out-of-range-" + f).constData())
                << "texnumber.ply" << texturedPly(format, QList<double>(8, 0.5), 1)
                << "face 1 has texnumber 1, but the file names 1 texture files";
            QTest::newRow(("ply-too-many-texture-files-" + f).constData())
                << "texturefiles.ply"
                << texturedPly(format, QList<double>(8, 0.5), 0)
                       .replace("end_header",
                                QByteArray("comment TextureFile x.png\n").repeated(65536) + "end_header")
                << "the file names more than 65536 texture files";
            QTest::newRow(("ply-negative-texnumber-" + f).constData())
                << "texnumber.ply" << texturedPly(format, QList<double>(8, 0.5), -1)
                << "face 1 has texnumber -1";
        }

        // STL.
        {
            const QByteArray cube = binaryStl(cubeFacets(), "cube");
            const QByteArray ascii = asciiStl(cubeFacets());
            QByteArray countAll = cube;
            countAll.replace(80, 4, QByteArray("\xff\xff\xff\xff", 4));
            QByteArray nan = cube;
            const float notANumber = std::nanf("");
            nan.replace(84 + 2 * 50 + 12 + 2 * 12 + 4, 4, reinterpret_cast<const char*>(&notANumber), 4);
            QByteArray inf = cube;
            const float infinite = -HUGE_VALF;
            inf.replace(84 + 11 * 50 + 12 + 8, 4, reinterpret_cast<const char*>(&infinite), 4);
            const QList<std::tuple<const char*, QByteArray, QString>> stl = {
                {"empty", QByteArray(), "stl.stl: the file is empty"},
                {"short-binary", cube.left(60),
                 "stl.stl: not an STL file: 60 bytes are too few for binary STL (84 at least), and it is not "
                 "ASCII STL (it does not start with \"solid\")"},
                {"truncated-binary", cube.left(cube.size() - 1),
                 "stl.stl: not an STL file: as binary STL its header declares 12 facets, which take 684 "
                 "bytes, "
                 "but the file has 683 (is it cut short?), and it is not ASCII STL (it does not start with "
                 "\"solid\")"},
                {"truncated-binary-solid-header", binaryStl(cubeFacets(), "solid cube").left(500),
                 "stl.stl: not an STL file: as binary STL its header declares 12 facets, which take 684 "
                 "bytes, "
                 "but the file has 500 (is it cut short?), and it is not ASCII STL (it starts with \"solid\" "
                 "but holds bytes that are not text)"},
                {"binary-count-all-ones", countAll,
                 "stl.stl: not an STL file: as binary STL its header declares 4294967295 facets, which take "
                 "214748364834 bytes, but the file has 684 (is it cut short?), and it is not ASCII STL (it "
                 "does not start with \"solid\")"},
                {"binary-no-facets", binaryStl({}, "nothing"), "stl.stl: the file contains no facets"},
                {"binary-nan", nan,
                 "stl.stl: facet 3 (counted from 1) has a coordinate that is not a finite number"},
                {"binary-infinity-in-last-facet", inf,
                 "stl.stl: facet 12 (counted from 1) has a coordinate that is not a finite number"},
                {"ascii-nan", QByteArray(ascii).replace("vertex 1 1 0", "vertex 1 nan 0"),
                 "stl.stl: line 6: a coordinate of facet 1 is not a finite number"},
                {"ascii-beyond-float", QByteArray(ascii).replace("vertex 1 1 1", "vertex 1 1 3.5e38"),
                 "stl.stl: line 20: a coordinate of facet 3 is not a finite number"},
                {"ascii-two-vertices",
                 QByteArray(ascii).replace("\tvertex 0 1 0\n    endloop", "    endloop"),
                 "stl.stl: line 9: facet 2 has 2 vertices (a facet has 3)"},
                {"ascii-four-vertices",
                 QByteArray(ascii).replace("\tvertex 1 1 0\n    endloop",
                                           "\tvertex 1 1 0\n\tvertex 1 1 0\n    endloop"),
                 "stl.stl: line 2: facet 1 has 4 vertices (a facet has 3)"},
                {"ascii-not-a-number", QByteArray(ascii).replace("vertex 1 1 0", "vertex 1 one 0"),
                 "stl.stl: line 6: \"one\" is not a number"},
                {"ascii-missing-endloop",
                 QByteArray(ascii).replace("endloop\n  endfacet\n  facet", "endfacet\n  facet"),
                 "stl.stl: line 7: \"endfacet\" where \"vertex\" or \"endloop\" was expected"},
                {"ascii-unknown-keyword", QByteArray(ascii).replace("endsolid", "endsolidus"),
                 "\"endsolidus\" where \"facet\" or \"endsolid\" was expected"},
                {"ascii-cut-inside-facet", ascii.left(ascii.indexOf("endloop")),
                 "stl.stl: the file ends inside facet 1, where \"vertex\" or \"endloop\" was expected (is it "
                 "cut short?)"},
                {"ascii-no-endsolid", ascii.left(ascii.indexOf("endsolid")),
                 "stl.stl: the file ends without \"endsolid\" (is it cut short?)"},
                {"ascii-no-facets", QByteArray("solid empty\nendsolid empty\n"),
                 "stl.stl: the file contains no facets"},
                {"ascii-garbage-after-endsolid", ascii + "solid\x01", "line 87"},
                {"text-not-stl", QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"), "not an STL file"},
            };
            for (const auto& [tag, content, message] : stl)
                QTest::newRow(("stl-" + QByteArray(tag)).constData()) << "stl.stl" << content << message;
        }

        // OFF.
        {
            const QByteArray body = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
            const QList<std::tuple<const char*, QByteArray, QString>> off = {
                {"empty", QByteArray(), "off.off: the file is empty"},
                {"only-comments", QByteArray("# nothing\n\n  \n"),
                 "off.off: not an OFF file (it holds nothing but blanks and comments)"},
                {"not-off", QByteArray("ply\nformat ascii 1.0\n"),
                 "off.off: not an OFF file (it does not start with \"OFF\")"},
                {"binary", QByteArray("OFF BINARY\n\x00\x00\x00\x03", 15),
                 "off.off: binary OFF files are not read (only the text form)"},
                {"four-dimensional", "4OFF\n3 1 0\n0 0 0 1\n1 0 0 1\n0 1 0 1\n3 0 1 2\n",
                 "off.off: the OFF variant \"4OFF\" is not read (only OFF, COFF, NOFF and CNOFF)"},
                {"textured", "STOFF\n3 1 0\n" + body, "the OFF variant \"STOFF\" is not read"},
                {"no-counts", QByteArray("OFF\n# nothing else\n"),
                 "off.off: the file ends before the counts of vertices and faces"},
                {"one-count", "OFF\n3\n" + body,
                 "off.off: line 2: the counts of vertices and faces are missing"},
                {"four-counts", "OFF\n3 1 0 0\n" + body,
                 "off.off: line 2: the counts line has more than three numbers"},
                {"negative-count", "OFF\n3 -1 0\n" + body, "off.off: line 2: a negative count (-1)"},
                {"count-not-a-number", "OFF\n3 one 0\n" + body, "off.off: line 2: \"one\" is not a count"},
                {"huge-vertex-count", "OFF\n4000000000 1 0\n" + body,
                 "off.off: the header declares 4000000000 vertices and 1 faces, more than the remaining 26 "
                 "bytes "
                 "of the file can hold"},
                {"huge-face-count", "OFF 3 99999999999999 0\n" + body,
                 "declares 3 vertices and 99999999999999 faces, more than the remaining 26 bytes"},
                {"count-beyond-64-bits", "OFF\n3 99999999999999999999 0\n" + body,
                 "line 2: \"99999999999999999999\" is not a count"},
                {"face-line-read-as-vertex", "OFF\n4 1 0\n" + body + QByteArray(20, ' '),
                 "off.off: the file ends after 0 of its 1 faces (is it cut short?)"},
                {"vertex-lines-missing",
                 "OFF\n7 0 0\n0 0 0\n1 0 0\n0 1 0\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n",
                 "off.off: the file ends after 3 of its 7 vertices (is it cut short?)"},
                {"face-lines-missing", "OFF\n3 2 0\n" + body + QByteArray(20, '\n'),
                 "off.off: the file ends after 1 of its 2 faces (is it cut short?)"},
                {"no-faces", QByteArray("OFF\n3 0 0\n0 0 0\n1 0 0\n0 1 0\n"),
                 "off.off: the file contains no faces"},
                {"two-coordinates", QByteArray("OFF\n3 1 0\n0 0 0\n1 0\n0 1 0\n3 0 1 2\n"),
                 "off.off: line 4: a vertex needs 3 numbers, this one has 2"},
                {"coordinate-not-a-number", QByteArray("OFF\n3 1 0\n0 0 0\n1 0x1 0\n0 1 0\n3 0 1 2\n"),
                 "off.off: line 4: \"0x1\" is not a number"},
                {"infinite-coordinate", QByteArray("OFF\n3 1 0\n0 0 0\n1 inf 0\n0 1 0\n3 0 1 2\n"),
                 "off.off: line 4: a coordinate is not a finite number"},
                {"coff-without-colour", QByteArray("COFF\n3 1 0\n0 0 0 1 1 1\n1 0 0\n0 1 0 1 1 1\n3 0 1 2\n"),
                 "off.off: line 4: a COFF vertex needs 3 or 4 colour components after its coordinates, this "
                 "one has 0"},
                {"index-out-of-range", QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n"),
                 "off.off: line 6: a face refers to vertex 3, which is out of range (the file has 3 "
                 "vertices, "
                 "counted from 0)"},
                {"negative-index", QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n"),
                 "off.off: line 6: a face refers to vertex -1, which is out of range (the file has 3 "
                 "vertices, "
                 "counted from 0)"},
                {"two-vertex-face", QByteArray("OFF\n3 2 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n2 0 1\n"),
                 "off.off: line 7: a face has 2 vertices (a face needs at least 3)"},
                {"negative-face-size", QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n-3 0 1 2\n"),
                 "off.off: line 6: a face has -3 vertices (a face needs at least 3)"},
                {"face-shorter-than-its-size",
                 QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n9000000000 0 1 2\n"),
                 "off.off: line 6: a face of 9000000000 vertices lists only 3"},
                {"face-index-not-a-number", QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1.0 2\n"),
                 "off.off: line 6: \"1.0\" is not a vertex number"},
                {"face-size-not-a-number", QByteArray("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\nthree 0 1 2\n"),
                 "off.off: line 6: \"three\" is not a number of vertices"},
            };
            for (const auto& [tag, content, message] : off)
                QTest::newRow(("off-" + QByteArray(tag)).constData()) << "off.off" << content << message;
        }
    }

    void refusesMalformedFiles() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(QString, phrase);
        const QString path = fileName.startsWith(QLatin1String("does-not-exist")) ? dir_.filePath(fileName)
                                                                                  : write(fileName, content);
        FragMesh mesh;
        mesh.vertices = {{1, 2, 3}};
        mesh.faces = {{0, 0, 0}};
        QString error;
        QVERIFY(!read(path, mesh, error));
        QVERIFY2(error.contains(phrase), qPrintable(error));
        QVERIFY2(error.contains(fileName), qPrintable(error));
        if (phrase.startsWith(fileName + QLatin1String(": ")))
            QCOMPARE(error, phrase);
        QVERIFY(mesh.isEmpty());
        QVERIFY(!mesh.hasVertexColors);
        if (isObj(path) && QFileInfo::exists(path))
            refusedTheSameInParts(path, error);
    }

    // Every prefix of a file and many single-byte corruptions: each read either succeeds with a
    // consistent mesh or refuses with a message, and never crashes.
    void damagedFilesAreReadOrRefused_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("content");
        for (const QByteArray& format : allFormats) {
            MeshSpec s;
            s.format = format;
            s.extras = 2;
            s.faces = {{0, 1, 2, 3}, {3, 2, 1}, {4, 0, 1}};
            QTest::newRow(shortFormat(format).constData()) << "ply" << writeMesh(s);
        }
        MeshSpec generic;
        generic.format = "binary_big_endian";
        generic.countType = "short";
        QTest::newRow("be-short-counts") << "ply" << writeMesh(generic);
        QTest::newRow("obj") << "obj"
                             << QByteArray("v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nv 0 1 0 0 0 1\nv 1 1 1 1 1 1\n"
                                           "f 1 2 3\nf 1/1 3/1 4/1\nf -1 -2 -3 -4\n");
        QTest::newRow("stl-binary") << "stl" << binaryStl(cubeFacets().mid(0, 6), "solid, but binary");
        QTest::newRow("stl-ascii") << "stl" << asciiStl(cubeFacets().mid(0, 4), 2);
        QTest::newRow("off") << "off"
                             << QByteArray("OFF 5 3 0\n0 0 0\n1 0 0 # c\n0 1 0\n1 1 1\n\n2 2 2\n"
                                           "4 0 1 2 3\n3 3 2 1 1 0 0\n3 4 0 1\n");
        QTest::newRow("coff") << "off"
                              << QByteArray("COFF\n4 2 0\n0 0 0 255 0 0 255\n1 0 0 0 255 0\n0 1 0 0.5 0 1\n"
                                            "1 1 1 1 1 1\n3 0 1 2\n3 3 2 1\n");
    }

    void damagedFilesAreReadOrRefused() {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, content);
        auto check = [&](const QByteArray& bytes, const QByteArray& what) {
            const QString path = write(QStringLiteral("damaged.") + suffix, bytes);
            FragMesh m;
            QString error;
            if (read(path, m, error)) {
                for (const auto& t : m.faces)
                    for (std::uint32_t v : t)
                        QVERIFY2(v < m.vertexCount(), what.constData());
                QVERIFY2(!m.hasVertexColors || m.fileColors.size() == m.vertexCount(), what.constData());
            } else {
                QVERIFY2(!error.isEmpty(), what.constData());
                QVERIFY2(m.isEmpty(), what.constData());
            }
        };
        for (qsizetype n = 0; n < content.size(); ++n)
            check(content.left(n), "prefix of " + QByteArray::number(n) + " bytes");
        QRandomGenerator random(1234);
        for (int k = 0; k < 400; ++k) {
            QByteArray bytes = content;
            const int at = random.bounded(int(bytes.size()));
            bytes[at] = char(random.bounded(256));
            check(bytes, "byte " + QByteArray::number(at) + " changed");
        }
    }

    // The same grid through every writer gives the same mesh from every reader.
    void formatsAgree() {
        const GridMesh g = makeGrid(40);
        QList<QList<QList<double>>> vrows, frows;
        for (qsizetype i = 0; i < g.positions.size(); ++i) {
            const Point3d& p = g.positions[i];
            const Color4b& c = g.colors[i];
            vrows << QList<QList<double>>{{p.x()},       {p.y()},       {p.z()},
                                          {double(c.r)}, {double(c.g)}, {double(c.b)}};
        }
        for (const QList<int>& f : g.faces) {
            QList<double> idx;
            for (int i : f)
                idx << i;
            frows << QList<QList<double>>{idx};
        }
        const PlyElem v{"vertex",
                        {{"float", "x", {}},
                         {"float", "y", {}},
                         {"float", "z", {}},
                         {"uchar", "red", {}},
                         {"uchar", "green", {}},
                         {"uchar", "blue", {}}},
                        vrows};
        const PlyElem fl{"face", {{"int", "vertex_indices", "uchar"}}, frows};
        const PlyElem fi{"face", {{"uint", "vertex_indices", "int"}}, frows}; // not the fast layout
        QByteArray obj;
        for (qsizetype i = 0; i < g.positions.size(); ++i) {
            const Point3d& p = g.positions[i];
            const Color4b& c = g.colors[i];
            obj += "v " + QByteArray::number(p.x(), 'g', 17) + " " + QByteArray::number(p.y(), 'g', 17) +
                   " " + QByteArray::number(p.z(), 'g', 17) + " " + QByteArray::number(c.r / 255.0, 'g', 17) +
                   " " + QByteArray::number(c.g / 255.0, 'g', 17) + " " +
                   QByteArray::number(c.b / 255.0, 'g', 17) + "\n";
        }
        for (const QList<int>& f : g.faces) {
            obj += "f";
            for (int i : f)
                obj += " " + QByteArray::number(i + 1);
            obj += "\n";
        }
        const QStringList paths = {write("grid-le.ply", writePly("binary_little_endian", {v, fl})),
                                   write("grid-le-generic.ply", writePly("binary_little_endian", {v, fi})),
                                   write("grid-be.ply", writePly("binary_big_endian", {v, fl})),
                                   write("grid-ascii.ply", writePly("ascii", {v, fl}, true)),
                                   write("grid.obj", obj)};
        const QList<FragMesh::Face> expectedFaces = fans(g.faces);
        for (const QString& path : paths) {
            FragMesh m;
            QString error;
            QVERIFY2(read(path, m, error), qPrintable(error));
            QCOMPARE(m.vertexCount(), std::size_t(g.positions.size()));
            QCOMPARE(m.faceCount(), std::size_t(expectedFaces.size()));
            QVERIFY(m.hasVertexColors);
            for (qsizetype i = 0; i < g.positions.size(); ++i) {
                QVERIFY2(m.vertices[i] == g.positions[i], qPrintable(path));
                QVERIFY(m.fileColors[i] == g.colors[i]);
            }
            for (qsizetype i = 0; i < expectedFaces.size(); ++i)
                QCOMPARE(m.faces[i], expectedFaces[i]);

            // And the result is ready for the update steps.
            m.allocateAttributes();
            m.updateBoundingBox();
            m.updateFaceFaceAdjacency();
            QCOMPARE(m.bbox.min, Point3d(0, 0, 0));
            QCOMPARE(m.bbox.max.x(), 20.0);
        }
    }

    // One coloured mesh written as binary PLY by our own writer and as STL and OFF in each of their
    // forms: every reader gives the mesh that the PLY reader gives (STL without colours).
    void stlAndOffReadAsPly_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("colors");
        const TriMesh m = triangleGrid(30);
        const QList<std::array<Point3d, 3>> facets = facetsOf(m);
        QTest::newRow("stl-binary") << "grid.stl" << binaryStl(facets, "grid") << false;
        QTest::newRow("stl-binary-solid-header") << "grid.stl" << binaryStl(facets, "solid grid") << false;
        QTest::newRow("stl-ascii") << "grid.stl" << asciiStl(facets) << false;
        QTest::newRow("stl-ascii-upper-case-crlf-four-solids")
            << "grid.stl" << asciiStl(facets, 4, true, "\r\n") << false;
        QTest::newRow("off") << "grid.off" << offFile(m, "OFF", OffColors::None) << false;
        QTest::newRow("off-counts-on-keyword-line")
            << "grid.off" << offFile(m, "OFF", OffColors::None, false, true) << false;
        QTest::newRow("off-without-keyword") << "grid.off" << offFile(m, "", OffColors::None) << false;
        QTest::newRow("noff") << "grid.off" << offFile(m, "NOFF", OffColors::None, true) << false;
        QTest::newRow("coff-bytes") << "grid.off" << offFile(m, "COFF", OffColors::Bytes) << true;
        QTest::newRow("coff-bytes-alpha")
            << "grid.off" << offFile(m, "COFF", OffColors::BytesWithAlpha) << true;
        QTest::newRow("coff-unit") << "grid.off" << offFile(m, "COFF", OffColors::Unit) << true;
        QTest::newRow("cnoff") << "grid.off" << offFile(m, "CNOFF", OffColors::Bytes, true) << true;
        QTest::newRow("off-colours-without-c") << "grid.off" << offFile(m, "OFF", OffColors::Bytes) << true;
    }

    void stlAndOffReadAsPly() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(bool, colors);
        QString error;
        const QString plyPath = dir_.filePath(QStringLiteral("grid-reference.ply"));
        QVERIFY2(writeBinaryPly(plyPath, fragMeshOf(triangleGrid(30)), error), qPrintable(error));
        FragMesh ply, other;
        QVERIFY2(read(plyPath, ply, error), qPrintable(error));
        QVERIFY2(read(write(fileName, content), other, error), qPrintable(error));
        QCOMPARE(other.vertexCount(), ply.vertexCount());
        QCOMPARE(other.faceCount(), ply.faceCount());
        QVERIFY(other.vertices == ply.vertices);
        QVERIFY(other.faces == ply.faces);
        QCOMPARE(other.hasVertexColors, colors);
        if (colors)
            QVERIFY(other.fileColors == ply.fileColors);
        else
            QVERIFY(other.fileColors.empty());
    }

    // The STL reader numbers the vertices in the order of their first corners, whatever the number of
    // parts it merges the facets in: a shuffled mesh, each facet starting at a random corner, of
    // enough corners to be sorted into many buckets.
    void stlMergeDoesNotDependOnParts_data() {
        QTest::addColumn<unsigned>("parts");
        for (unsigned parts : {1u, 2u, 3u, 7u, 16u})
            QTest::newRow(qPrintable(QStringLiteral("%1 parts").arg(parts))) << parts;
    }

    void stlMergeDoesNotDependOnParts() {
        QFETCH(unsigned, parts);
        static const TriMesh shuffledMesh = [] {
            TriMesh g = triangleGrid(320);
            std::mt19937 rng(11);
            std::shuffle(g.faces.begin(), g.faces.end(), rng);
            for (FragMesh::Face& f : g.faces)
                std::rotate(f.begin(), f.begin() + std::ptrdiff_t(rng() % 3), f.end());
            return inFirstUseOrder(g.positions, g.colors, g.faces);
        }();
        static const QString path =
            write(QStringLiteral("shuffled.stl"), binaryStl(facetsOf(shuffledMesh), "solid"));
        FragMesh mesh;
        QString error;
        QVERIFY2(readStl(path, mesh, error, MergeParts{1, parts}), qPrintable(error));
        QCOMPARE(mesh.faceCount(), std::size_t(shuffledMesh.faces.size()));
        QCOMPARE(mesh.vertexCount(), std::size_t(shuffledMesh.positions.size()));
        QVERIFY(std::equal(mesh.vertices.begin(), mesh.vertices.end(), shuffledMesh.positions.begin()));
        QVERIFY(std::equal(mesh.faces.begin(), mesh.faces.end(), shuffledMesh.faces.begin()));
    }

    // Every number is read as strtod reads it, to the last bit: plain, exponents, many digits,
    // denormals and values beyond the range of doubles.
    void objNumbersAreReadAsStrtodReadsThem() {
        std::mt19937_64 rng(5);
        QByteArray text;
        QList<QByteArray> written;
        for (int i = 0; i < 3000; ++i) {
            QByteArray x[3];
            for (QByteArray& t : x) {
                const int kind = int(rng() % 5);
                const double d =
                    std::ldexp(double(rng() >> 11), int(rng() % 200) - 150) * ((rng() & 1) ? -1 : 1);
                if (kind == 0)
                    t = QByteArray::number(d, 'g', 17);
                else if (kind == 1)
                    t = QByteArray::number(d, 'e', int(rng() % 25));
                else if (kind == 2)
                    t = "+" + QByteArray::number(double(rng() % 100000) / 1000.0, 'f', int(rng() % 8));
                else if (kind == 3)
                    t = QByteArray::number(qulonglong(rng() % 1000)) + "e-" +
                        QByteArray::number(300 + rng() % 130);
                else
                    t = "0.1234567890123456789012345678901234567890e" +
                        QByteArray::number(int(rng() % 700) - 350);
                written << t;
            }
            text += "v " + x[0] + " " + x[1] + "\t" + x[2] + "\n";
        }
        text += "f 1 2 3\n";
        const QString path = write("numbers.obj", text);
        FragMesh mesh;
        QString error;
        QVERIFY2(read(path, mesh, error), qPrintable(error));
        QCOMPARE(mesh.vertexCount(), std::size_t(3000));
        for (qsizetype i = 0; i < written.size(); ++i) {
            const double expected = std::strtod(written[i].constData(), nullptr);
            const double got = mesh.vertices[std::size_t(i / 3)][int(i % 3)];
            QVERIFY2(std::memcmp(&got, &expected, sizeof got) == 0, written[i].constData());
        }
    }

    // A file large enough to be parsed in parts: negative indices that reach back across the
    // parts give the same mesh as positive ones, and a problem deep in a later part is reported
    // at its own line.
    void largeObjReadInParts() {
        const int n = 300000;
        QByteArray positive, negative;
        for (int i = 0; i < n; ++i) {
            const QByteArray v = "v " + QByteArray::number(i) + " " + QByteArray::number(i % 7) + " 0.125\n";
            positive += v;
            negative += v;
            if (i >= 2) {
                positive += "f " + QByteArray::number(i - 1) + "/1 " + QByteArray::number(i) + " " +
                            QByteArray::number(i + 1) + "\n";
                negative += (i % 1000 == 999 ? "f -3/1 -2 \\\n -1\n" : "f -3/1 -2 -1\n");
            }
        }
        // Faces that reach back more than half the file.
        positive += "f 1 2 " + QByteArray::number(n) + "\n";
        negative += "f " + QByteArray::number(-n) + " " + QByteArray::number(-n + 1) + " -1\n";
        QVERIFY(positive.size() > (qsizetype(9) << 20));
        FragMesh a, b;
        QString error;
        QVERIFY2(read(write("positive.obj", positive), a, error), qPrintable(error));
        QVERIFY2(read(write("negative.obj", negative), b, error), qPrintable(error));
        QCOMPARE(a.faceCount(), std::size_t(n - 1));
        QVERIFY(a.vertices == b.vertices);
        QVERIFY(a.faces == b.faces);
        QCOMPARE(a.faces.back(), (FragMesh::Face{0, 1, std::uint32_t(n - 1)}));

        // Lines ending in a lone "\r" or in "\r\n", continued lines too, are cut into parts the
        // same way.
        for (const char* ending : {"\r", "\r\n"})
            for (const QByteArray* text : {&positive, &negative}) {
                FragMesh c;
                QVERIFY2(read(write("endings.obj", QByteArray(*text).replace("\n", ending)), c, error),
                         qPrintable(error));
                QVERIFY2(c.vertices == a.vertices, ending);
                QVERIFY2(c.faces == a.faces, ending);
            }

        const qsizetype at = positive.lastIndexOf("\nf ", positive.size() * 9 / 10);
        const int line = int(positive.left(at + 1).count('\n')) + 1;
        const QList<QPair<QByteArray, QString>> problems = {
            {"f 1 2\n", QStringLiteral("line %1: a face has 2 vertices (a face needs at least 3)").arg(line)},
            {"f 1 2 -300001\n",
             QStringLiteral("line %1: a face refers to vertex -300001, which is out of range "
                            "(the file has 300000 vertices, counted from 1)")
                 .arg(line)},
        };
        for (const auto& [inserted, message] : problems) {
            const QByteArray broken = QByteArray(positive).insert(at + 1, inserted);
            QVERIFY(!read(write("broken.obj", broken), a, error));
            QCOMPARE(error, "broken.obj: " + message);
        }
    }
};

QTEST_GUILESS_MAIN(TestMeshIo)
#include "test_mesh_io.moc"
