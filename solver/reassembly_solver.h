#pragma once
// The reassembly system: one rigid motion per entity so that corresponding points meet. Each step
// linearises the rotations (M = I + S(a, b, c)), solves one sparse saddle-point system with slack
// points and multipliers, turns each entity's increment into a rotation about its centroid and moves
// the points; steps repeat while the energy decreases. Entity 0 is fixed and never moves; so is the
// first entity of every part that no chain of point pairs joins to entity 0 (its anchor), so that
// such a part is solved on its own instead of drifting.
//
// Unknowns of the saddle-point system (n entities, m links, N = 6n + 18m): 6e..6e+2 rotation
// (a, b, c) of entity e, 6e+3..6e+5 its translation; then x_i (solved point), y_i (slack point) and
// lambda_i (multipliers) for the 2m points i, three each, in that order. A step solves the same
// problem with the slack points eliminated (EntitySystem: 6n unknowns); the full system is assembled
// only to be written to "matrix.txt".

#include "entity_system.h"
#include "point_pair_set.h"
#include "rigid_math.h"
#include "sparse_system.h"
#include "spring_link.h"

#include <vector>

class ReassemblySolver {
public:
    static constexpr double kRegularisation = 1e-8; // on every entity unknown
    static constexpr double kFreePin = 1e-9;        // x_i to y_i for points of moving entities
    static constexpr double kFixedPin = 1e7;        // x_i to y_i for points of the fixed entity
    static constexpr int kMaxSteps = 1000;          // safety bound of one iteration run
    static constexpr int kMaxHalvings = 10;         // step scales tried: 1, 1/2, ..., 1/1024

    // pairs (and its EntityPoses) must outlive the solver.
    explicit ReassemblySolver(PointPairSet& pairs);

    // n := entity count of the poses; n identity transforms, identity poses, current positions :=
    // initial positions.
    void resetTransforms();

    // Steps while the energy decreases by more than tolerance (at most kMaxSteps), then writes
    // "matrix.txt" for the last assembly and fills rotations and translations (one per entity) from the
    // accumulated transforms. On a failed solve (or pairs naming an entity outside the transform table)
    // returns at once with failed set and the tables untouched. The energy never rises: a step that
    // does not lower it is halved up to kMaxHalvings times, and dropped (ending the run) if no scale does.
    void iterate(std::vector<Matrix33d>& rotations, std::vector<Point3d>& translations, bool& failed,
                 double tolerance);

    struct StepResult {
        bool failed = false;     // the linear solve failed or the input is inconsistent
        bool accepted = false;   // every increment is a proper rotation
        bool dropped = false;    // no scale of the step lowered the energy; nothing applied
        double energyDiff = 1.0; // energy before minus energy after (0 when dropped)
        double scale = 0.0;      // scale of the applied step (1, 1/2, ...), 0 when none
        bool assembled = false;  // the system was assembled (the input was consistent)
        double energyBefore = 0.0, energyAfter = 0.0;
    };
    // One step; prints "Doing Solve Skew Symmetric: YES \n". Writes no matrix file.
    StepResult step();

    // Inner operations, in calling order within a step (public for tests and benchmarks).
    // Parts of the entities' graph and their anchors (see anchored()).
    void findParts();
    void computeCentroids();
    void buildLinks();
    // Sum over links of stiffness * |pA - pB| (not squared).
    double energy() const;
    // Builds the saddle-point system A, b from the links as they are, positions expressed in the
    // solve frame (centred on the mean point, scaled by a power of two near the RMS spread).
    void assembleSystem();
    // assembleSystem, then its LDL^T solve; true on success. What a step's increments must equal.
    bool solveFullSystem();
    // The step's solve: the system in the entity unknowns from the links as they are; true on
    // success. The increments are then increments().
    bool assembleAndSolve();
    // Whether every entity's increment (scaled by scale) orthonormalises to a proper rotation.
    bool checkIncrements(double scale = 1.0) const;
    // transform[f] := Inc_f(scale) x transform[f] for every entity but the fixed one.
    void applyIncrements(double scale = 1.0);
    // Poses := transforms; current positions := pose applied to initial positions; buildLinks.
    void updatePoints();

    int entityCount() const { return n; }
    int unknownCount() const { return unknowns; }
    int fixedEntity() const { return fixed; }
    // Entities that never move: entity 0 and the first entity of every part not joined to it by a
    // chain of point pairs of non-zero stiffness (as of the last step).
    const std::vector<char>& anchored() const { return anchors; }
    // Per entity, the anchor of its part.
    const std::vector<int>& partOf() const { return parts; }
    // Solution of the last assembleAndSolve(): 6 per entity, (a, b, c, t), in the solve frame.
    const Eigen::VectorXd& increments() const { return reduced.increments(); }
    const EntitySystem& entitySystem() const { return reduced; }
    // Factorisation time of the last run's steps, summed, and the largest factor's bytes.
    double lastRunFactorSeconds() const { return factorSeconds; }
    std::size_t lastRunFactorBytes() const { return factorBytes; }
    const std::vector<SpringLink>& links() const { return linkTable; }
    const std::vector<Point3d>& centroids() const { return centroidTable; }
    const std::vector<Matrix44d>& transforms() const { return transformTable; }
    const SparseSystem& system() const { return sys; }
    // World position = origin + unit * solve-frame position, for the last assembly.
    const Point3d& solveFrameOrigin() const { return frameOrigin; }
    double solveFrameUnit() const { return frameUnit; }
    // Energy before the first step and after each step of the last run.
    const std::vector<double>& energyTrace() const { return trace; }
    // Steps of the last run, and whether it stopped at kMaxSteps.
    int lastRunSteps() const { return runSteps; }
    bool lastRunHitStepBound() const { return hitBound; }
    // Steps of the last run applied at less than full length.
    int lastRunShortenedSteps() const { return shortenedSteps; }

private:
    bool inputConsistent() const;
    void chooseSolveFrame(const std::vector<SpringLink>& links);
    void assembleFullSystem(const std::vector<SpringLink>& links);
    // "matrix.txt" for the last assembly: the full system while it is small, else the line that
    // says it was skipped.
    void writeMatrixFile();
    RigidIncrement incrementOf(int f, double scale) const;
    EntitySystem::Input systemInput() const;

    PointPairSet& pairSet;
    SparseSystem sys;
    EntitySystem reduced;
    std::vector<SpringLink> assembledLinks; // links of the last assembly
    std::vector<char> anchors;
    std::vector<int> parts;
    double factorSeconds = 0.0;
    std::size_t factorBytes = 0;
    int n = 0;
    int unknowns = 0;
    int fixed = 0;
    std::vector<SpringLink> linkTable;
    std::vector<Point3d> centroidTable;
    std::vector<Matrix44d> transformTable;
    std::vector<double> trace;
    Point3d frameOrigin = Point3d::Zero(); // solve frame: world p = frameOrigin + frameUnit * q
    double frameUnit = 1.0;
    int runSteps = 0;
    bool hitBound = false;
    int shortenedSteps = 0;
};
