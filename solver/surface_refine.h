#pragma once
// Refine: after a Solve has put the pieces near their places, the fracture surfaces of every joined
// pair of bodies are fitted onto each other at once (a global iterative closest point fit). Where two
// bodies meet is found from samples of each surface whose nearest point on the other lies within the
// contact distance with an opposed normal (the two sides of one break); all bodies then move together
// to bring those samples onto the other surface's tangent planes, while the user's point pairs keep
// pulling with their stiffness, so a decision the surfaces leave open (a slide along a flat break)
// is still the user's. Held bodies do not move.
//
// Everything is in double world coordinates; the trees answer in their own frames. Samples are
// taken in a fixed order and every sum is made in that order, so the result never depends on the
// number of threads.

#include "geometry_types.h"
#include "triangle_tree.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// One rigid body: the fragments it carries, and where each of them is now.
struct RefineBody {
    std::vector<std::shared_ptr<const TriangleTree>> trees;
    std::vector<Matrix44d> worldFromLocal; // one per tree
    bool held = false;
};

// A point pair of the user's constraints, in world coordinates now.
struct RefinePointPair {
    std::size_t bodyA = 0, bodyB = 0;
    Point3d onA = Point3d::Zero(), onB = Point3d::Zero();
    double stiffness = 1.0;
};

struct RefineOptions {
    double contactDistance = 0.0; // model units; e.g. 0.5 % of the assembly's diagonal
    int maxRounds = 30;
    std::size_t samplesPerPair = 2000; // surface samples tried per joined pair, both sides together
    // The matched samples of one joined pair weigh together as much as this many point pairs of
    // stiffness 1, however many samples there are.
    double contactWeight = 1e5;
    unsigned threads = 0; // 0: one per core
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(int round, double fraction)> progress;
};

// A matched surface sample: a sample of bodyA's surface and the nearest point of bodyB's, in world
// coordinates after the refinement.
struct RefineMatch {
    std::size_t bodyA = 0, bodyB = 0;
    Point3d onA = Point3d::Zero(), onB = Point3d::Zero();
};

struct RefineResult {
    bool cancelled = false;
    std::vector<Matrix44d> motions; // per body: the world motion to apply on top of where it is
    int rounds = 0;
    std::vector<double> roundSeconds;
    // Distances between matched samples (those kept by the trimming) before and after; 0 without any.
    double meanBefore = 0.0, largestBefore = 0.0, meanAfter = 0.0, largestAfter = 0.0;
    // Joined pairs in which no shared surface was found at the end.
    std::vector<std::pair<std::size_t, std::size_t>> withoutContact;
    std::vector<RefineMatch> matches;
    // Bodies whose fit pulled their user's pairs far apart (matched to the wrong surface): they were
    // fitted again without their joined pairs, so their pairs place them (those pairs are then not in
    // withoutContact).
    std::vector<std::size_t> strayed;
};

// Bodies are held when marked; when none is, body 0 is. Joined pairs naming a body out of range, or a
// body with itself, are ignored, as are point pairs of such bodies or of no stiffness.
RefineResult refineBodies(const std::vector<RefineBody>& bodies,
                          const std::vector<std::pair<std::size_t, std::size_t>>& joined,
                          const std::vector<RefinePointPair>& pairs, const RefineOptions& options);
