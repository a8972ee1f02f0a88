#include "reassembly_solver.h"

#include <cmath>
#include <cstdio>
#include <numeric>

ReassemblySolver::ReassemblySolver(PointPairSet& pairs) : pairSet(pairs) {}

void ReassemblySolver::resetTransforms() {
    n = pairSet.poses().count();
    factorSeconds = 0.0;
    factorBytes = 0;
    transformTable.assign(static_cast<std::size_t>(n), Matrix44d::Identity());
    // Current positions are the initial ones moved by the transforms: with identity transforms they
    // are the initial ones again, also when the pairs were already moved by an earlier run.
    for (PointRecord& r : pairSet.records())
        r.current = r.initial;
    for (int f = 0; f < n; ++f)
        pairSet.poses().setPose(f, Matrix33d::Identity(), Point3d::Zero());
}

// Pairs must name records and entities that exist, and the poses must still have the transform
// table's size; otherwise a step would read or write outside the tables.
bool ReassemblySolver::inputConsistent() const {
    if (pairSet.poses().count() != n || static_cast<int>(transformTable.size()) != n)
        return false;
    const auto& records = pairSet.records();
    const int recordCount = static_cast<int>(records.size());
    for (const PointPair& p : pairSet.pairs()) {
        for (const int r : {p.record0, p.record1}) {
            if (r < 0 || r >= recordCount)
                return false;
            const int e = records[static_cast<std::size_t>(r)].entity;
            if (e < 0 || e >= n)
                return false;
        }
    }
    return true;
}

// Parts of the entities' graph (edges: point pairs of non-zero stiffness between two entities), each
// anchored at its first entity; entity 0's part at entity 0.
void ReassemblySolver::findParts() {
    parts.resize(std::size_t(n));
    std::iota(parts.begin(), parts.end(), 0);
    const auto root = [this](int e) {
        while (parts[std::size_t(e)] != e)
            e = parts[std::size_t(e)] = parts[std::size_t(parts[std::size_t(e)])];
        return e;
    };
    const auto& records = pairSet.records();
    for (const PointPair& p : pairSet.pairs()) {
        const int a = root(records[std::size_t(p.record0)].entity);
        const int b = root(records[std::size_t(p.record1)].entity);
        if (a != b && p.stiffness > 0.0)
            parts[std::size_t(std::max(a, b))] = std::min(a, b); // the smaller index stays the root
    }
    anchors.assign(std::size_t(n), 0);
    for (int e = 0; e < n; ++e) {
        parts[std::size_t(e)] = root(e);
        anchors[std::size_t(parts[std::size_t(e)])] = 1;
    }
}

void ReassemblySolver::computeCentroids() {
    centroidTable.assign(static_cast<std::size_t>(n), Point3d::Zero());
    std::vector<int> count(static_cast<std::size_t>(n), 0);
    const auto& records = pairSet.records();
    auto add = [&](int r) {
        const PointRecord& rec = records[static_cast<std::size_t>(r)];
        centroidTable[static_cast<std::size_t>(rec.entity)] += rec.current;
        ++count[static_cast<std::size_t>(rec.entity)];
    };
    for (const PointPair& p : pairSet.pairs())
        add(p.record0);
    for (const PointPair& p : pairSet.pairs())
        add(p.record1);
    for (std::size_t f = 0; f < centroidTable.size(); ++f)
        if (count[f] > 0)
            centroidTable[f] /= double(count[f]);
}

void ReassemblySolver::buildLinks() {
    linkTable.clear();
    const auto& records = pairSet.records();
    for (const PointPair& p : pairSet.pairs()) {
        const PointRecord& a = records[static_cast<std::size_t>(p.record0)];
        const PointRecord& b = records[static_cast<std::size_t>(p.record1)];
        const int e = static_cast<int>(linkTable.size());
        linkTable.push_back({a.entity, b.entity, 2 * e, 2 * e + 1, a.current, b.current, p.stiffness});
    }
}

double ReassemblySolver::energy() const {
    double e = 0.0;
    for (const SpringLink& l : linkTable)
        e += l.stiffness * (l.pA - l.pB).norm();
    return e;
}

// The system is written in a solve frame: positions relative to the mean point, in units of about the
// points' RMS spread (a power of two, so scaling is exact). In world units the entries p of the
// rotation columns and the fixed constants 1e-8, 1e-9 and 1e7 span so many magnitudes that the
// unpivoted LDL^T returns garbage for coordinates around 1e5 and drifts for tiny ones; in the solve
// frame every problem looks like one of unit size, and incrementOf turns the result back into world
// units exactly (the frame change is affine).
void ReassemblySolver::chooseSolveFrame(const std::vector<SpringLink>& links) {
    frameOrigin = Point3d::Zero();
    frameUnit = 1.0;
    if (links.empty())
        return;
    for (const SpringLink& l : links)
        frameOrigin += l.pA + l.pB;
    frameOrigin /= double(2 * links.size());
    double sum = 0.0;
    for (const SpringLink& l : links)
        sum += (l.pA - frameOrigin).squaredNorm() + (l.pB - frameOrigin).squaredNorm();
    const double rms = std::sqrt(sum / double(2 * links.size()));
    if (std::isfinite(rms) && rms > 0.0)
        frameUnit = std::exp2(std::round(std::log2(rms)));
    if (!frameOrigin.allFinite() || !std::isfinite(frameUnit) || frameUnit == 0.0) {
        frameOrigin = Point3d::Zero();
        frameUnit = 1.0;
    }
}

void ReassemblySolver::assembleSystem() {
    if (static_cast<int>(anchors.size()) != n)
        findParts();
    assembleFullSystem(linkTable);
}

void ReassemblySolver::assembleFullSystem(const std::vector<SpringLink>& links) {
    chooseSolveFrame(links);
    const int m = static_cast<int>(links.size());
    unknowns = 6 * n + 18 * m;
    sys.reset(unknowns);
    auto xOf = [this](int i) { return 6 * n + 3 * i; };
    auto yOf = [this, m](int i) { return 6 * n + 3 * (2 * m + i); };
    auto lambdaOf = [this, m](int i) { return 6 * n + 3 * (4 * m + i); };

    // Springs between corresponding solved points.
    for (const SpringLink& l : links)
        for (int k = 0; k < 3; ++k)
            sys.addSpring(xOf(l.pointA) + k, xOf(l.pointB) + k, l.stiffness);

    for (int k = 0; k < 6 * n; ++k)
        sys.addDiagonal(k, kRegularisation);

    // x_i = y_i + t_f + S(a_f, b_f, c_f) p, with S = [[0, -c, -b], [c, 0, -a], [b, a, 0]]; the slack
    // y_i is anchored to p at unit weight.
    for (const SpringLink& l : links) {
        for (int side = 0; side < 2; ++side) {
            const int i = side == 0 ? l.pointA : l.pointB;
            const int f = side == 0 ? l.entityA : l.entityB;
            const Point3d p = ((side == 0 ? l.pA : l.pB) - frameOrigin) / frameUnit;
            const int x = xOf(i), y = yOf(i), r = lambdaOf(i);
            const int a = 6 * f, b = 6 * f + 1, c = 6 * f + 2, t = 6 * f + 3;
            for (int k = 0; k < 3; ++k) {
                sys.addDiagonal(y + k, 1.0);
                sys.addRightHandSide(y + k, p[k]);
            }
            for (int k = 0; k < 3; ++k) {
                sys.addSymmetric(r + k, x + k, -1.0);
                sys.addSymmetric(r + k, t + k, 1.0);
                sys.addSymmetric(r + k, y + k, 1.0);
            }
            sys.addSymmetric(r, c, -p.y());
            sys.addSymmetric(r, b, -p.z());
            sys.addSymmetric(r + 1, c, p.x());
            sys.addSymmetric(r + 1, a, -p.z());
            sys.addSymmetric(r + 2, b, p.x());
            sys.addSymmetric(r + 2, a, p.y());
        }
    }

    // Pins: the points of anchored entities stay at their slack positions.
    for (const SpringLink& l : links) {
        for (int side = 0; side < 2; ++side) {
            const int i = side == 0 ? l.pointA : l.pointB;
            const int f = side == 0 ? l.entityA : l.entityB;
            const double w = anchors[std::size_t(f)] ? kFixedPin : kFreePin;
            for (int k = 0; k < 3; ++k)
                sys.addSpring(xOf(i) + k, yOf(i) + k, w);
        }
    }
}

bool ReassemblySolver::solveFullSystem() {
    assembleSystem();
    return sys.solveLinearSystem();
}

bool ReassemblySolver::assembleAndSolve() {
    if (static_cast<int>(anchors.size()) != n)
        findParts();
    chooseSolveFrame(linkTable);
    assembledLinks = linkTable;
    unknowns = 6 * n + 18 * static_cast<int>(linkTable.size());
    reduced.assemble(systemInput());
    const bool solved = reduced.solve();
    factorSeconds += reduced.lastFactorSeconds();
    factorBytes = std::max(factorBytes, reduced.factorBytes());
    return solved;
}

EntitySystem::Input ReassemblySolver::systemInput() const {
    EntitySystem::Input in;
    in.entities = n;
    in.links = &linkTable;
    in.held = &anchors;
    in.origin = frameOrigin;
    in.unit = frameUnit;
    in.heldPin = kFixedPin;
    in.freePin = kFreePin;
    in.regularisation = kRegularisation;
    return in;
}

void ReassemblySolver::writeMatrixFile() {
    const int size = 6 * n + 18 * static_cast<int>(assembledLinks.size());
    if (size > SparseSystem::kMaxDenseDumpSize) {
        SparseSystem::dumpSkipped("matrix.txt", size, SparseSystem::kMaxDenseDumpSize);
        return;
    }
    assembleFullSystem(assembledLinks);
    sys.dumpMatrix();
}

RigidIncrement ReassemblySolver::incrementOf(int f, double scale) const {
    const Eigen::VectorXd& x = reduced.increments();
    const int o = 6 * f;
    const double a = scale * x(o), b = scale * x(o + 1), c = scale * x(o + 2);
    Matrix33d s;
    s << 0.0, -c, -b, c, 0.0, -a, b, a, 0.0;
    const Matrix33d m = Matrix33d::Identity() + s;
    // Solve frame to world: q -> o + L q turns q -> (I + S) q + t into p -> (I + S) p + L t - S o.
    const Point3d t = scale * frameUnit * Point3d(x(o + 3), x(o + 4), x(o + 5)) - s * frameOrigin;
    return orthonormalizeIncrement(m, t, centroidTable[static_cast<std::size_t>(f)]);
}

bool ReassemblySolver::checkIncrements(double scale) const {
    if (reduced.increments().size() != 6 * n || static_cast<int>(centroidTable.size()) != n)
        return false;
    for (int f = 0; f < n; ++f)
        if (!incrementOf(f, scale).ok)
            return false;
    return true;
}

void ReassemblySolver::applyIncrements(double scale) {
    for (int f = 0; f < n; ++f) {
        if (anchors[std::size_t(f)])
            continue;
        const RigidIncrement inc = incrementOf(f, scale);
        if (!inc.ok)
            continue;
        Matrix44d& T = transformTable[static_cast<std::size_t>(f)];
        T = composeTransform(inc.rotation, inc.translation) * T;
    }
}

void ReassemblySolver::updatePoints() {
    EntityPoses& poses = pairSet.poses();
    for (int f = 0; f < n; ++f) {
        Matrix33d r;
        Point3d t;
        decomposeTransform(transformTable[static_cast<std::size_t>(f)], r, t);
        poses.setPose(f, r, t);
    }
    auto& records = pairSet.records();
    for (const PointPair& p : pairSet.pairs()) {
        for (const int ri : {p.record0, p.record1}) {
            PointRecord& rec = records[static_cast<std::size_t>(ri)];
            rec.current = poses.rotation(rec.entity) * rec.initial + poses.translation(rec.entity);
        }
    }
    buildLinks();
}

ReassemblySolver::StepResult ReassemblySolver::step() {
    StepResult res;
    std::printf("Doing Solve Skew Symmetric: YES \n");
    if (!inputConsistent()) {
        res.failed = true;
        return res;
    }
    findParts();
    computeCentroids();
    buildLinks();
    const double e0 = energy();
    res.energyBefore = res.energyAfter = e0;
    res.assembled = true;
    if (!assembleAndSolve()) {
        res.failed = true;
        return res;
    }
    res.accepted = checkIncrements();
    if (!res.accepted)
        return res;

    // The full step, else the same step shortened, whichever first lowers the energy.
    const std::vector<Matrix44d> start = transformTable;
    double scale = 1.0;
    for (int h = 0; h <= kMaxHalvings; ++h, scale *= 0.5) {
        if (h > 0 && !checkIncrements(scale))
            continue;
        transformTable = start;
        applyIncrements(scale);
        updatePoints();
        const double e = energy();
        if (e < e0) {
            res.energyAfter = e;
            res.energyDiff = e0 - e;
            res.scale = scale;
            return res;
        }
    }
    transformTable = start;
    updatePoints();
    res.dropped = true;
    res.energyDiff = 0.0;
    return res;
}

void ReassemblySolver::iterate(std::vector<Matrix33d>& rotations, std::vector<Point3d>& translations,
                               bool& failed, double tolerance) {
    failed = false;
    trace.clear();
    runSteps = 0;
    hitBound = false;
    shortenedSteps = 0;
    bool assembled = false;
    for (;;) {
        const StepResult r = step();
        ++runSteps;
        assembled = assembled || r.assembled;
        if (r.failed) {
            if (assembled)
                writeMatrixFile();
            failed = true;
            return;
        }
        if (trace.empty())
            trace.push_back(r.energyBefore);
        trace.push_back(r.energyAfter);
        if (r.scale > 0.0 && r.scale < 1.0)
            ++shortenedSteps;
        std::printf("ENERGY DIFF %3.3f\n", r.energyDiff);
        if (r.dropped || !(r.energyDiff > tolerance))
            break;
        if (runSteps >= kMaxSteps) {
            hitBound = true;
            std::printf("ITERATION STOPPED: %d steps reached while the energy still decreased\n", kMaxSteps);
            break;
        }
    }
    // One dump per run, of the last assembly: what the file would hold if every step rewrote it.
    writeMatrixFile();
    rotations.assign(static_cast<std::size_t>(n), Matrix33d::Identity());
    translations.assign(static_cast<std::size_t>(n), Point3d::Zero());
    for (int f = 0; f < n; ++f)
        decomposeTransform(transformTable[static_cast<std::size_t>(f)],
                           rotations[static_cast<std::size_t>(f)], translations[static_cast<std::size_t>(f)]);
}
