#pragma once
// The Refine command over the objects the solved view shows: the fracture surfaces of every pair
// of objects joined by a constraint are fitted onto each other (refineBodies), respecting the group
// tree as Solve does: the members of each group first, deepest groups first, then the top-level
// objects as bodies. A job is taken from the graph on the GUI thread, computed anywhere (it reads
// only trees and copies), and applied on the GUI thread stage by stage, each motion baked into the
// object it moves.

#include "interpenetration.h"
#include "surface_refine.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class TotalGraph;
struct FragMesh;

// One set of siblings refined together: the bodies are objects, each carrying the fragments inside it.
struct RefineStage {
    struct Pair {
        std::size_t bodyA = 0, bodyB = 0;
        std::size_t fragmentA = 0, fragmentB = 0;             // the fragments the points lie on
        Point3d onA = Point3d::Zero(), onB = Point3d::Zero(); // world, when the job was taken
        double stiffness = 1.0;
    };
    std::vector<int> objects;                          // graph ids of the bodies
    std::vector<std::vector<std::size_t>> fragmentsOf; // per body: indices into the job's fragments
    std::vector<std::pair<std::size_t, std::size_t>> joined;
    std::vector<Pair> pairs;
};

struct RefineJob {
    std::vector<InterpenetrationPiece> fragments;  // trees (or what to build them from), placements
    std::vector<std::shared_ptr<FragMesh>> meshes; // per fragment; kept alive, matched when applying
    std::vector<RefineStage> stages;               // in the order they run
    std::map<int, QString> names;                  // of the stages' objects, by graph id
    double contactDistance = 0.0;                  // model units
    double contactFraction = 0.0;                  // of the shown fragments' diagonal
};

struct RefineOutcome {
    bool cancelled = false;
    std::vector<RefineResult> stages; // per stage of the job
    // The matched surface samples of every stage, where they are after the last stage.
    std::vector<RefineMatch> matches;
    std::vector<std::shared_ptr<const TriangleTree>> trees;
    double seconds = 0.0;
};

// The job over the objects with these ids (the solved view's), with the contact distance a fraction
// of the diagonal of the box around their fragments.
RefineJob prepareRefine(TotalGraph& graph, const std::vector<int>& shownIds, double contactFraction = 0.005);
// Computes a job. progress gets the stage and the fraction of the job done.
RefineOutcome runRefine(RefineJob job, unsigned threads = 0, const std::atomic<bool>* cancel = nullptr,
                        const std::function<void(double fraction)>& progress = {});
// Bakes the motions into the objects, stage by stage (objects gone since are skipped), and keeps the
// trees on the meshes. Returns the number of objects moved.
int applyRefine(TotalGraph& graph, const RefineJob& job, const RefineOutcome& outcome);
// What the refinement did, in sentences: the pieces moved and the distances between the matched
// surfaces before and after, then each joined pair whose surfaces were not found to meet.
QStringList refineReport(const RefineJob& job, const RefineOutcome& outcome, int moved);
