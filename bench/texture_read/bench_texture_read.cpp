// Reading a textured OBJ: does the texture cost more than decoding its image?
//
//   bench_texture_read [--dir DIR] [--levels L] [--side S] [--runs N] SCAN
//       subdivides the scan L times (default 3: the 75,408-triangle bunny becomes 4.8 million
//       triangles), shuffles its vertices and faces, gives it texture coordinates (a planar
//       projection with one chart for the faces turned up and one for those turned down, so that
//       the outline is a seam) and writes into DIR (default: a temporary folder) the same mesh as
//       an OBJ without texture and as an OBJ with vt lines, a material library and an S x S JPEG
//       (default 8192) of photo-like noise. Then it times, each in a fresh process and N times
//       (default 3, the median printed, elapsed and processor seconds): reading the untextured OBJ,
//       reading the textured OBJ (texture coordinates welded, image decoded) and decoding the image
//       alone. The target is textured <= untextured + decode, elapsed.
//   bench_texture_read --quick
//       the same on a generated mesh of 20,000 triangles and a 256 x 256 image, once.
//   bench_texture_read --read FILE | --decode IMAGE
//       one measurement in this process, printed as one RESULT line.

#include "frag_mesh.h"
#include "mesh_formats.h"
#include "mesh_readers.h"
#include "mesh_texture.h"
#include "mesh_variants.h"
#include "quick_mode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <unordered_map>

namespace {

// Processor seconds of this process so far, all threads, user and system: unlike the elapsed time,
// they do not grow when other programs share the cores.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Measures one read in this process: "RESULT seconds cpu-seconds drawn-vertices seam-copies".
int readOnce(const QString& path) {
    FragMesh mesh;
    QString error;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer t;
    t.start();
    if (!readMeshFile(path, mesh, error)) {
        std::printf("ERROR %s\n", qPrintable(error));
        return 1;
    }
    const double seconds = t.nsecsElapsed() * 1e-9;
    const MeshTexture* texture = mesh.texture.get();
    if (texture && !texture->problems().isEmpty())
        std::printf("ERROR %s\n", qPrintable(texture->problems().join(QStringLiteral("; "))));
    std::printf("RESULT %.3f %.3f %zu %zu\n", seconds, cpuSeconds() - cpuBefore,
                texture ? texture->drawnVertexCount() : std::size_t(0),
                texture ? texture->seamCopies.size() : std::size_t(0));
    return 0;
}

int decodeOnce(const QString& path) {
    QString problem;
    const double cpuBefore = cpuSeconds();
    QElapsedTimer t;
    t.start();
    const std::shared_ptr<const QImage> image = readTextureImage(path, problem);
    if (!image) {
        std::printf("ERROR %s\n", qPrintable(problem));
        return 1;
    }
    std::printf("RESULT %.3f %.3f %d %d\n", t.nsecsElapsed() * 1e-9, cpuSeconds() - cpuBefore, image->width(),
                image->height());
    return 0;
}

// A mesh for --quick: a wavy 100 x 100 grid.
FragMesh quickMesh() {
    FragMesh m;
    const int n = 100;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x)
            m.vertices.emplace_back(x, y, 3.0 * std::sin(x * 0.2) * std::cos(y * 0.3));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const auto a = std::uint32_t(y * (n + 1) + x), b = a + 1, c = a + n + 2, d = a + n + 1;
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    return m;
}

// A planar projection onto the x-y plane: faces turned up (z of the normal >= 0) take the left half
// of the image, the others the right half. A vertex gets one vt per chart it is used in, in the
// order the faces meet it.
ObjTexCoords planarTexCoords(const FragMesh& m) {
    Point3d lo = m.vertices.front(), hi = lo;
    for (const Point3d& p : m.vertices) {
        lo = lo.cwiseMin(p);
        hi = hi.cwiseMax(p);
    }
    const Point3d size = (hi - lo).cwiseMax(Point3d::Constant(1e-30));
    ObjTexCoords t;
    t.library = QStringLiteral("textured.mtl");
    t.material = QStringLiteral("photo");
    std::unordered_map<std::uint64_t, std::uint32_t> vtOf; // vertex * 2 + chart
    t.cornerVt.reserve(m.faces.size());
    for (const FragMesh::Face& f : m.faces) {
        const Point3d& a = m.vertices[f[0]];
        const int chart = (m.vertices[f[1]] - a).cross(m.vertices[f[2]] - a).z() >= 0 ? 0 : 1;
        std::array<std::uint32_t, 3> corners{};
        for (int c = 0; c < 3; ++c) {
            const auto [it, added] =
                vtOf.try_emplace(std::uint64_t(f[c]) * 2 + std::uint64_t(chart), std::uint32_t(t.vt.size()));
            if (added) {
                const Point3d& p = m.vertices[f[c]];
                t.vt.emplace_back(float(0.5 * (chart + (p.x() - lo.x()) / size.x())),
                                  float((p.y() - lo.y()) / size.y()));
            }
            corners[std::size_t(c)] = it->second;
        }
        t.cornerVt.push_back(corners);
    }
    return t;
}

// A photo-like side x side image: smooth shading, fine structure and grain, which a JPEG cannot
// store as flat blocks.
QImage photoLikeImage(int side) {
    QImage image(side, side, QImage::Format_RGB32);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> grain(-24, 24);
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = double(y) / side;
        for (int x = 0; x < side; ++x) {
            const double u = double(x) / side;
            const double shade = 120 + 60 * std::sin(7 * u + 3 * v) * std::cos(5 * v - 2 * u) +
                                 25 * std::sin(90 * u * v + 40 * u);
            const int g = grain(rng);
            line[x] = qRgb(std::clamp(int(shade) + g, 0, 255), std::clamp(int(shade * 0.85) + g / 2, 0, 255),
                           std::clamp(int(shade * 0.7) - g, 0, 255));
        }
    }
    return image;
}

struct Files {
    QString untextured, textured, image;
};

bool writeFiles(const FragMesh& mesh, int side, const QDir& dir, Files& files) {
    files = {dir.filePath("untextured.obj"), dir.filePath("textured.obj"), dir.filePath("photo.jpg")};
    QElapsedTimer t;
    t.start();
    const ObjTexCoords texture = planarTexCoords(mesh);
    QString error;
    if (!writeObjFile(files.untextured, mesh, error) ||
        !writeObjFile(files.textured, mesh, error, &texture)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    QFile mtl(dir.filePath(texture.library));
    if (!mtl.open(QIODevice::WriteOnly) || mtl.write("newmtl photo\nKd 1 1 1\nmap_Kd photo.jpg\n") < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(mtl.fileName()));
        return false;
    }
    if (!photoLikeImage(side).save(files.image, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(files.image));
        return false;
    }
    std::printf("  %zu vt lines for %zu vertices; written in %.1f s\n", texture.vt.size(), mesh.vertexCount(),
                t.nsecsElapsed() * 1e-9);
    return true;
}

// Runs this program with one measurement in a fresh process; the words of its RESULT line.
QStringList measure(const QString& option, const QString& path) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {option, path});
    p.waitForFinished(-1);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    for (const QString& line : out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("ERROR")))
            std::printf("  %s\n", qPrintable(line));
    const QString last = out.section(QLatin1Char('\n'), -1);
    return last.startsWith(QLatin1String("RESULT")) ? last.split(QLatin1Char(' ')).mid(1) : QStringList();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    installMeshReaders();
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--read"))
        return readOnce(args[1]);
    if (args.size() == 2 && args[0] == QLatin1String("--decode"))
        return decodeOnce(args[1]);

    const bool quick = quickMode(argc, argv);
    QString dirPath, scan;
    int levels = 3, side = quick ? 256 : 8192, runs = quick ? 1 : 3;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
            dirPath = args[++i];
        else if (args[i] == QLatin1String("--levels") && i + 1 < args.size())
            levels = args[++i].toInt();
        else if (args[i] == QLatin1String("--side") && i + 1 < args.size())
            side = args[++i].toInt();
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] != QLatin1String("--quick"))
            scan = args[i];
    }
    if (scan.isEmpty() && !quick) {
        std::fprintf(stderr,
                     "usage: bench_texture_read [--dir DIR] [--levels L] [--side S] [--runs N] SCAN\n");
        return 2;
    }
    QTemporaryDir tmp;
    if (dirPath.isEmpty())
        dirPath = tmp.path();
    QDir().mkpath(dirPath);

    FragMesh source;
    if (quick) {
        source = quickMesh();
    } else {
        QString error;
        if (!readMeshFile(scan, source, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    std::printf("%s subdivided %d times, shuffled: ",
                quick ? "quick grid" : qPrintable(QFileInfo(scan).fileName()), quick ? 0 : levels);
    std::fflush(stdout);
    const FragMesh mesh = shuffled(subdivided(source, quick ? 0 : levels), 7);
    std::printf("%zu vertices, %zu triangles; image %d x %d JPEG\n", mesh.vertexCount(), mesh.faceCount(),
                side, side);
    Files files;
    if (!writeFiles(mesh, side, QDir(dirPath), files))
        return 1;
    std::printf("  in %s: untextured.obj %lld MB, textured.obj %lld MB, photo.jpg %lld MB\n\n",
                qPrintable(dirPath), QFileInfo(files.untextured).size() >> 20,
                QFileInfo(files.textured).size() >> 20, QFileInfo(files.image).size() >> 20);

    // Per run and kind of measurement: elapsed and processor seconds.
    std::vector<double> seconds[3], cpu[3];
    QStringList texturedFacts;
    const QString kinds[3] = {files.untextured, files.textured, files.image};
    for (int run = 0; run < runs; ++run)
        for (int k = 0; k < 3; ++k) {
            const QStringList r =
                measure(k < 2 ? QStringLiteral("--read") : QStringLiteral("--decode"), kinds[k]);
            if (r.size() < 4)
                return 1;
            seconds[k].push_back(r[0].toDouble());
            cpu[k].push_back(r[1].toDouble());
            if (k == 1)
                texturedFacts = r;
        }
    const double u = median(seconds[0]), t = median(seconds[1]), d = median(seconds[2]);
    std::printf("%-26s %9s %9s\n", "", "elapsed", "processor");
    std::printf("%-26s %8.3fs %8.3fs\n", "read untextured OBJ", u, median(cpu[0]));
    std::printf("%-26s %8.3fs %8.3fs  (%s drawn vertices, %s seam copies)\n", "read textured OBJ", t,
                median(cpu[1]), qPrintable(texturedFacts.value(2)), qPrintable(texturedFacts.value(3)));
    std::printf("%-26s %8.3fs %8.3fs\n", "decode the image alone", d, median(cpu[2]));
    std::printf("textured - untextured: %.3f s elapsed (target: at most the decode, %.3f s): %s\n", t - u, d,
                t <= u + d ? "met" : "NOT met");
    std::printf("(medians of %d runs, each in a fresh process; processor seconds add up all threads)\n",
                runs);
    return 0;
}
