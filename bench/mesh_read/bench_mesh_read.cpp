// Reading and preparing a large coloured mesh: time to read each file format (also per triangle),
// time to prepare the mesh for drawing (attributes, bounding box, normals, adjacency) and resident
// memory per triangle.
//
//   bench_mesh_read [--dir DIR] [--grid N | --no-grid] [--line-endings] [--subdivide L] [--runs R]
//                   [FILE...]
//       writes a height-field mesh of 2 N^2 triangles (default N = 1465: about 4.3 million triangles,
//       2.15 million vertices) as binary PLY, ASCII PLY, OBJ and binary STL into DIR (default: a
//       temporary directory), then measures each of them and every FILE given, each in a fresh
//       process.
//       With --line-endings the grid is written only as OBJ, three times: with lines ending in
//       "\n", in "\r\n" and in a lone "\r".
//       With --subdivide, each FILE is first subdivided L times (4^L times the triangles) and
//       written in the subdivision's order, along a space-filling curve and shuffled (binary PLY),
//       in the subdivision's order as OBJ, and in the subdivision's order and shuffled as binary STL
//       (whose reader merges the corners into vertices); those files are measured instead of FILE.
//       With --runs, each file is measured R times (each in a fresh process, the files taking turns)
//       and the run of the shortest read is printed: on a machine shared with other work.
//   bench_mesh_read --project DIR
//       writes a project of 8 fragments of 500,000 triangles each into DIR and opens it with its
//       meshes read on one thread and on two (median of three openings each).
//   bench_mesh_read --quick
//       as without arguments, on a grid of 20,000 triangles.
//   bench_mesh_read --one FILE
//       measures one file in this process and prints one result line.

#include "frag_group.h"
#include "frag_mesh.h"
#include "mesh_loading.h"
#include "mesh_readers.h"
#include "mesh_variants.h"
#include "ply_writer.h"
#include "project_reader.h"
#include "project_writer.h"
#include "total_graph.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

// Resident or peak memory of this process in bytes, from /proc/self/status.
std::size_t procStatusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0)
            return std::stoull(line.substr(n)) * 1024;
    return 0;
}

struct Grid {
    int n = 0; // quads per side
    std::vector<float> xyz;
    std::vector<std::uint8_t> rgb;
    std::vector<std::uint32_t> tri;
};

Grid makeGrid(int n) {
    Grid g;
    g.n = n;
    const std::size_t nv = std::size_t(n + 1) * (n + 1);
    g.xyz.reserve(3 * nv);
    g.rgb.reserve(3 * nv);
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            const double u = double(x) / n, v = double(y) / n;
            const double h =
                0.05 * std::sin(17.0 * u) * std::cos(13.0 * v) + 0.01 * std::sin(191.0 * u + 97.0 * v);
            g.xyz.insert(g.xyz.end(), {float(u * 200.0), float(v * 200.0), float(h * 200.0)});
            const auto grey = std::uint8_t(std::lround(127.0 + 1200.0 * h));
            g.rgb.insert(g.rgb.end(), {grey, std::uint8_t(grey * 0.9), std::uint8_t(grey * 0.8)});
        }
    g.tri.reserve(std::size_t(6) * n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const auto a = std::uint32_t(y * (n + 1) + x), b = a + 1, c = a + n + 2, d = a + n + 1;
            g.tri.insert(g.tri.end(), {a, b, c, a, c, d});
        }
    return g;
}

// Buffered output of text and bytes.
class Out {
public:
    explicit Out(const QString& path) : f_(std::fopen(QFile::encodeName(path).constData(), "wb")) {
        if (!f_) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        buf_.reserve(cap);
    }
    ~Out() {
        flush();
        std::fclose(f_);
    }
    void bytes(const void* p, std::size_t n) {
        if (buf_.size() + n > cap)
            flush();
        buf_.append(static_cast<const char*>(p), n);
    }
    void text(const char* s) { bytes(s, std::strlen(s)); }
    template <typename T> void number(T v) {
        char tmp[64];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        bytes(tmp, std::size_t(r.ptr - tmp));
    }
    void ch(char c) { bytes(&c, 1); }

private:
    void flush() {
        std::fwrite(buf_.data(), 1, buf_.size(), f_);
        buf_.clear();
    }
    static constexpr std::size_t cap = 1 << 22;
    std::FILE* f_;
    std::string buf_;
};

void writePly(const Grid& g, const QString& path, bool binary) {
    Out o(path);
    const std::size_t nv = g.xyz.size() / 3, nf = g.tri.size() / 3;
    o.text("ply\nformat ");
    o.text(binary ? "binary_little_endian" : "ascii");
    o.text(" 1.0\ncomment benchmark height field\nelement vertex ");
    o.number(nv);
    o.text(
        "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\nproperty uchar green\n"
        "property uchar blue\nelement face ");
    o.number(nf);
    o.text("\nproperty list uchar int vertex_indices\nend_header\n");
    for (std::size_t v = 0; v < nv; ++v) {
        if (binary) {
            o.bytes(&g.xyz[3 * v], 12);
            o.bytes(&g.rgb[3 * v], 3);
        } else {
            for (int k = 0; k < 3; ++k) {
                o.number(g.xyz[3 * v + k]);
                o.ch(' ');
            }
            for (int k = 0; k < 3; ++k) {
                o.number(int(g.rgb[3 * v + k]));
                o.ch(k < 2 ? ' ' : '\n');
            }
        }
    }
    for (std::size_t f = 0; f < nf; ++f) {
        if (binary) {
            const std::uint8_t three = 3;
            o.bytes(&three, 1);
            o.bytes(&g.tri[3 * f], 12);
        } else {
            o.text("3");
            for (int k = 0; k < 3; ++k) {
                o.ch(' ');
                o.number(g.tri[3 * f + k]);
            }
            o.ch('\n');
        }
    }
}

void writeObj(const Grid& g, const QString& path, const char* lineEnding = "\n") {
    Out o(path);
    const std::size_t nv = g.xyz.size() / 3, nf = g.tri.size() / 3;
    o.text("# benchmark height field");
    o.text(lineEnding);
    for (std::size_t v = 0; v < nv; ++v) {
        o.text("v");
        for (int k = 0; k < 3; ++k) {
            o.ch(' ');
            o.number(g.xyz[3 * v + k]);
        }
        for (int k = 0; k < 3; ++k) {
            o.ch(' ');
            o.number(float(g.rgb[3 * v + k] / 255.0));
        }
        o.text(lineEnding);
    }
    for (std::size_t f = 0; f < nf; ++f) {
        o.text("f");
        for (int k = 0; k < 3; ++k) {
            o.ch(' ');
            o.number(g.tri[3 * f + k] + 1);
        }
        o.text(lineEnding);
    }
}

// Measures one file in this process and prints one RESULT line.
int measureOne(const QString& path) {
    const std::size_t rssBefore = procStatusBytes("VmRSS:");
    FragMesh mesh;
    QString error;
    QElapsedTimer t;
    t.start();
    const bool ok = readMeshFile(path, mesh, error);
    const double readSeconds = t.nsecsElapsed() * 1e-9;
    if (!ok) {
        std::printf("ERROR %s\n", qPrintable(error));
        return 1;
    }
    double step[4];
    t.restart();
    mesh.allocateAttributes();
    step[0] = t.nsecsElapsed() * 1e-9;
    mesh.updateBoundingBox();
    step[1] = t.nsecsElapsed() * 1e-9;
    mesh.updateNormals();
    step[2] = t.nsecsElapsed() * 1e-9;
    mesh.updateFaceFaceAdjacency();
    step[3] = t.nsecsElapsed() * 1e-9;
    const double prepareSeconds = step[3];
    const std::size_t rssAfter = procStatusBytes("VmRSS:");
    const std::size_t peak = procStatusBytes("VmHWM:");
    const double nf = double(mesh.faceCount());
    std::printf("RESULT %zu %zu %.3f %.3f %.1f %.1f %.1f %.3f %.3f %.3f %.3f\n", mesh.vertexCount(),
                mesh.faceCount(), readSeconds, prepareSeconds, (double(rssAfter) - double(rssBefore)) / nf,
                double(mesh.memoryBytes()) / nf, (double(peak) - double(rssBefore)) / nf, step[0],
                step[1] - step[0], step[2] - step[1], step[3] - step[2]);
    return 0;
}

// Writes the subdivided variants of the mesh in path into dir and returns their paths (empty on
// failure, with a message).
QStringList writeSubdivided(const QString& path, int levels, const QDir& dir) {
    FragMesh source;
    QString error;
    if (!readMeshFile(path, source, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return {};
    }
    std::printf("Subdividing %s %d times\n", qPrintable(QFileInfo(path).fileName()), levels);
    std::fflush(stdout);
    const FragMesh sub = subdivided(source, levels);
    const QString base = QFileInfo(path).completeBaseName() + QStringLiteral("_x%1").arg(1 << (2 * levels));
    const QStringList names = {
        base + QStringLiteral(".ply"),          base + QStringLiteral("_curve.ply"),
        base + QStringLiteral("_shuffled.ply"), base + QStringLiteral(".obj"),
        base + QStringLiteral(".stl"),          base + QStringLiteral("_shuffled.stl")};
    QStringList paths;
    for (const QString& name : names)
        paths << dir.filePath(name);
    const FragMesh mixed = shuffled(sub, 7);
    const bool ok = writeBinaryPly(paths[0], sub, error) &&
                    writeBinaryPly(paths[1], alongCurve(sub), error) &&
                    writeBinaryPly(paths[2], mixed, error) && writeObjFile(paths[3], sub, error) &&
                    writeBinaryStlFile(paths[4], sub, error) && writeBinaryStlFile(paths[5], mixed, error);
    if (!ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return {};
    }
    return paths;
}

// A wavy grid of 2 n^2 triangles as a mesh.
FragMesh gridMesh(int n, double offset) {
    const Grid g = makeGrid(n);
    FragMesh m;
    for (std::size_t v = 0; v < g.xyz.size() / 3; ++v)
        m.vertices.emplace_back(g.xyz[3 * v] + offset, g.xyz[3 * v + 1], g.xyz[3 * v + 2]);
    for (std::size_t f = 0; f < g.tri.size() / 3; ++f)
        m.faces.push_back({g.tri[3 * f], g.tri[3 * f + 1], g.tri[3 * f + 2]});
    return m;
}

int measureProject(const QString& dirPath) {
    QDir().mkpath(dirPath);
    const QDir dir(dirPath);
    const QString project = dir.filePath("eight.prproj");
    {
        TotalGraph g;
        for (int i = 0; i < 8; ++i) {
            const QString path = dir.filePath(QStringLiteral("piece%1.ply").arg(i));
            QString error;
            if (!writeBinaryPly(path, gridMesh(500, 250.0 * i), error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            g.addObject(FragGroup::wrapFragment(&g, path));
        }
        QString error;
        if (!saveProjectFile(project, g, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("Project of 8 fragments of 500,000 triangles (%s)\n", qPrintable(project));
    for (unsigned threads : {1u, 2u}) {
        std::vector<double> seconds;
        for (int run = 0; run < 3; ++run) {
            TotalGraph g;
            MeshLoadOptions options;
            options.threads = threads;
            QElapsedTimer t;
            t.start();
            const ProjectReadReport report = readProjectFile(project, g, nullptr, options);
            seconds.push_back(t.nsecsElapsed() * 1e-9);
            if (!report.ok() || !report.missingMeshes.isEmpty()) {
                std::fprintf(stderr, "the project did not open completely\n");
                return 1;
            }
        }
        std::sort(seconds.begin(), seconds.end());
        std::printf("  meshes read on %u thread%s: %.3f s (median of 3; fastest %.3f s)\n", threads,
                    threads == 1 ? "" : "s", seconds[1], seconds[0]);
    }
    return 0;
}

// The RESULT line (or the error) of measuring path in a fresh process.
QString measureInChild(const QString& path) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one"), path});
    p.waitForFinished(-1);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The read time of a RESULT line; infinite for an error.
double readSecondsOf(const QString& result) {
    const QStringList w = result.split(QLatin1Char(' '));
    return w.size() == 12 && w[0] == QLatin1String("RESULT") ? w[3].toDouble()
                                                             : std::numeric_limits<double>::infinity();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    installMeshReaders();
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--one"))
        return measureOne(args[1]);
    if (args.size() == 2 && args[0] == QLatin1String("--project"))
        return measureProject(args[1]);

    QString dirPath;
    int n = 1465;
    int levels = 0;
    int runs = 1;
    bool lineEndings = false;
    QStringList files;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
            dirPath = args[++i];
        else if (args[i] == QLatin1String("--grid") && i + 1 < args.size())
            n = args[++i].toInt();
        else if (args[i] == QLatin1String("--quick"))
            n = 100;
        else if (args[i] == QLatin1String("--no-grid"))
            n = 0;
        else if (args[i] == QLatin1String("--line-endings"))
            lineEndings = true;
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--subdivide") && i + 1 < args.size())
            levels = args[++i].toInt();
        else
            files << args[i];
    }
    QTemporaryDir tmp;
    if (dirPath.isEmpty())
        dirPath = tmp.path();
    QDir().mkpath(dirPath);
    QDir dir(dirPath);

    QStringList all;
    if (n > 0) {
        std::printf("Generating a %d x %d height field (%lld triangles) in %s\n", n, n, 2LL * n * n,
                    qPrintable(dirPath));
        std::fflush(stdout);
        const Grid g = makeGrid(n);
        QElapsedTimer t;
        t.start();
        if (lineEndings) {
            writeObj(g, dir.filePath("grid_lf.obj"), "\n");
            writeObj(g, dir.filePath("grid_crlf.obj"), "\r\n");
            writeObj(g, dir.filePath("grid_cr.obj"), "\r");
            all << dir.filePath("grid_lf.obj") << dir.filePath("grid_crlf.obj")
                << dir.filePath("grid_cr.obj");
        } else {
            writePly(g, dir.filePath("grid_bin.ply"), true);
            writePly(g, dir.filePath("grid_ascii.ply"), false);
            writeObj(g, dir.filePath("grid.obj"));
            QString error;
            if (!writeBinaryStlFile(dir.filePath("grid_bin.stl"), gridMesh(n, 0.0), error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            all << dir.filePath("grid_bin.ply") << dir.filePath("grid_ascii.ply") << dir.filePath("grid.obj")
                << dir.filePath("grid_bin.stl");
        }
        std::printf("  written in %.1f s\n", t.nsecsElapsed() * 1e-9);
    }
    for (const QString& f : files) {
        if (levels <= 0) {
            all << f;
            continue;
        }
        const QStringList made = writeSubdivided(f, levels, dir);
        if (made.isEmpty())
            return 1;
        all << made;
    }
    std::printf("\n");

    std::printf("%-22s %9s %10s %8s %8s %8s %8s %9s %9s %9s | %7s %6s %7s %7s\n", "file", "vertices",
                "triangles", "read s", "read ns/t", "prep s", "total s", "RSS B/tri", "arr B/tri", "peak B/t",
                "alloc", "bbox", "normals", "adjac");
    // Per file, the output of its run with the shortest read.
    QStringList fastest(all.size());
    for (int run = 0; run < runs; ++run)
        for (qsizetype i = 0; i < all.size(); ++i) {
            const QString out = measureInChild(all[i]);
            if (fastest[i].isEmpty() || readSecondsOf(out) < readSecondsOf(fastest[i]))
                fastest[i] = out;
        }
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QString& f = all[i];
        const QString out = fastest[i];
        const QStringList w = out.split(QLatin1Char(' '));
        const QString name =
            QFileInfo(f).fileName() + QStringLiteral(" (%1 MB)").arg(QFileInfo(f).size() >> 20);
        if (w.size() != 12 || w[0] != QLatin1String("RESULT")) {
            std::printf("%-22s %s\n", qPrintable(name), qPrintable(out));
            continue;
        }
        const double read = w[3].toDouble(), prep = w[4].toDouble();
        const double perTriangle = read * 1e9 / std::max(1.0, w[2].toDouble());
        std::printf("%-22s %9s %10s %8.3f %8.1f %8.3f %8.3f %9s %9s %9s | %7s %6s %7s %7s\n",
                    qPrintable(name), qPrintable(w[1]), qPrintable(w[2]), read, perTriangle, prep,
                    read + prep, qPrintable(w[5]), qPrintable(w[6]), qPrintable(w[7]), qPrintable(w[8]),
                    qPrintable(w[9]), qPrintable(w[10]), qPrintable(w[11]));
        std::fflush(stdout);
    }
    std::printf(
        "\nRSS B/tri: resident memory added by reading and preparing, per triangle; arr B/tri: bytes held\n"
        "by the mesh arrays; peak B/t: peak resident memory added while reading and preparing.\n");
    return 0;
}
