#pragma once
// Shared by the solver suites: capture of standard output, a scratch working directory, and broken
// objects with known true poses.

#include "point_pair_set.h"
#include "reassembly_solver.h"
#include "rigid_math.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <Eigen/Geometry>

#include <cstdio>
#include <random>
#include <unistd.h>
#include <vector>

// Redirects file descriptor 1 into a temporary file until text() is called.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file = std::tmpfile();
        saved = dup(1);
        dup2(fileno(file), 1);
    }
    ~StdoutCapture() { text(); }
    QString text() {
        if (file) {
            std::fflush(stdout);
            dup2(saved, 1);
            close(saved);
            std::rewind(file);
            QByteArray bytes;
            char buf[4096];
            for (std::size_t k; (k = std::fread(buf, 1, sizeof buf, file)) > 0;)
                bytes.append(buf, static_cast<qsizetype>(k));
            std::fclose(file);
            file = nullptr;
            captured = QString::fromLatin1(bytes);
        }
        return captured;
    }

private:
    std::FILE* file = nullptr;
    int saved = -1;
    QString captured;
};

// Makes a fresh temporary directory the working directory for the object's life.
class ScratchDir {
public:
    ScratchDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchDir() { QDir::setCurrent(previous); }
    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }

private:
    QTemporaryDir dir;
    QString previous;
};

inline Matrix33d randomRotation(std::mt19937& rng, double maxAngle) {
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> angle(-maxAngle, maxAngle);
    const Eigen::Vector3d axis = Eigen::Vector3d(normal(rng), normal(rng), normal(rng)).normalized();
    return Eigen::AngleAxisd(angle(rng), axis).toRotationMatrix();
}

inline Point3d apply(const Matrix44d& T, const Point3d& p) {
    return T.topLeftCorner<3, 3>() * p + T.topRightCorner<3, 1>();
}

// A broken object with known answer: entity e's points were moved by scramble[e]; pairs join the
// scrambled copies of the same original point on two neighbouring pieces.
struct BrokenObject {
    std::vector<Matrix44d> scramble;
    struct Shared {
        int e0, e1;
        Point3d original;
    };
    std::vector<Shared> shared;
    double size = 1.0;

    // Feeds every shared point as a pair (constraint id = index of the neighbouring pair of pieces).
    void feed(PointPairSet& set, double stiffness = 1.0) const {
        set.poses().reset(static_cast<int>(scramble.size()));
        for (std::size_t k = 0; k < shared.size(); ++k) {
            const Shared& s = shared[k];
            set.addPair(static_cast<int>(k / 4), s.e0, s.e1, apply(scramble[std::size_t(s.e0)], s.original),
                        apply(scramble[std::size_t(s.e1)], s.original), stiffness);
        }
    }

    // Largest distance between where a solved point lies and where the fixed entity's frame puts it:
    // T_e (scramble_e q) against scramble_0 q, over both sides of every shared point.
    double worstError(const std::vector<Matrix33d>& rotations,
                      const std::vector<Point3d>& translations) const {
        double worst = 0.0;
        for (const Shared& s : shared) {
            const Point3d target = apply(scramble[0], s.original);
            for (const int e : {s.e0, s.e1}) {
                const auto i = static_cast<std::size_t>(e);
                const Point3d solved = rotations[i] * apply(scramble[i], s.original) + translations[i];
                worst = std::max(worst, (solved - target).norm());
            }
        }
        return worst;
    }
};

// A cube of the given size centred at centre, cut into 2 x 2 x 2 pieces; each two pieces sharing a
// face share 4 random points of it. Piece e is turned about its own centre by up to maxAngle and
// shifted by up to shift * size; piece 0 is scrambled too unless keepFirst.
inline BrokenObject brokenCube(unsigned seed, double size, const Point3d& centre, double maxAngle,
                               double shift, bool keepFirst = false) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    BrokenObject obj;
    obj.size = size;
    const double h = size / 2.0;
    auto pieceCentre = [&](int e) -> Point3d {
        return centre + Point3d((e & 1) ? h / 2 : -h / 2, (e & 2) ? h / 2 : -h / 2, (e & 4) ? h / 2 : -h / 2);
    };
    for (int e = 0; e < 8; ++e) {
        if (keepFirst && e == 0) {
            obj.scramble.push_back(Matrix44d::Identity());
            continue;
        }
        const Matrix33d r = randomRotation(rng, maxAngle);
        const Point3d c = pieceCentre(e);
        const Point3d move = shift * size * Point3d(unit(rng), unit(rng), unit(rng));
        obj.scramble.push_back(composeTransform(r, c - r * c + move));
    }
    for (int e0 = 0; e0 < 8; ++e0) {
        for (int axis = 0; axis < 3; ++axis) {
            const int e1 = e0 | (1 << axis);
            if (e1 == e0)
                continue;
            // The shared face lies on the plane between the two pieces' centres along axis.
            const Point3d mid = (pieceCentre(e0) + pieceCentre(e1)) / 2.0;
            for (int k = 0; k < 4; ++k) {
                Point3d q = mid;
                for (int d = 0; d < 3; ++d)
                    if (d != axis)
                        q[d] += 0.45 * h * unit(rng);
                obj.shared.push_back({e0, e1, q});
            }
        }
    }
    return obj;
}

// count unit cubes in a row along x; each two neighbours share 4 random points of their common face.
// Every piece is turned by up to maxAngle about its centre and shifted by up to shift.
inline BrokenObject brokenBar(unsigned seed, int count, double maxAngle, double shift) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    BrokenObject obj;
    obj.size = double(count);
    for (int e = 0; e < count; ++e) {
        const Matrix33d r = randomRotation(rng, maxAngle);
        const Point3d c(double(e), 0.0, 0.0);
        const Point3d move = shift * Point3d(unit(rng), unit(rng), unit(rng));
        obj.scramble.push_back(composeTransform(r, c - r * c + move));
    }
    for (int e = 0; e + 1 < count; ++e)
        for (int k = 0; k < 4; ++k)
            obj.shared.push_back({e, e + 1, Point3d(e + 0.5, 0.45 * unit(rng), 0.45 * unit(rng))});
    return obj;
}
