#pragma once
// Exact interpenetration marks on the CPU: a face of one piece is marked when its centre lies
// inside another piece and deeper than the tolerance below that piece's surface. Inside is decided
// per face by the parity of ray crossings with a vote of rays (TriangleTree::contains): it is exact
// for closed surfaces and, unlike a generalised winding number, costs a few ray casts through a
// tree rather than a sum over the whole surface; the vote keeps one ray through a hole of a nearly
// closed scan from deciding. Only the faces whose centres lie in the overlap of the two pieces'
// boxes are tested.
//
// Every face is decided on its own and the figures are summed in a fixed order, so the results do
// not depend on the number of threads. The computation reads only the trees (immutable) and the
// placements it is given, so it may run off the GUI thread while the meshes change.

#include "geometry_types.h"
#include "triangle_tree.h"

struct FragMesh;

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One piece as the computation sees it: its tree (or what to build it from) and where its mesh is
// placed now.
struct InterpenetrationPiece {
    std::shared_ptr<const TriangleTree> tree; // null: built from source
    std::optional<TriangleTree::Source> source;
    Matrix44d placement = Matrix44d::Identity(); // the mesh's placement now (rigid)
};

// The piece of a mesh: the tree the mesh keeps while it still fits, else a copy to build one from.
InterpenetrationPiece pieceOf(const FragMesh& mesh);

// The overlap of two pieces (first < second, indices into the pieces).
struct OverlapFigures {
    std::size_t first = 0, second = 0;
    std::size_t faces = 0;      // faces of either piece marked inside the other
    double area = 0.0;          // their area
    double greatestDepth = 0.0; // the greatest distance of a marked face's centre below the other surface
};

struct InterpenetrationResult {
    bool cancelled = false;
    std::vector<std::shared_ptr<const TriangleTree>> trees; // per piece, built or as given
    std::vector<std::vector<std::uint32_t>> marked;         // per piece: marked faces, ascending
    std::vector<OverlapFigures> pairs; // pieces that interpenetrate, in (first, second) order
    std::size_t testedFaces = 0;
    double buildSeconds = 0.0; // trees that had to be built
    double querySeconds = 0.0;

    // The pair with the greatest depth (null when none interpenetrate).
    const OverlapFigures* worst() const;
};

struct InterpenetrationControl {
    unsigned threads = 0;                          // 0: one per core
    const std::atomic<bool>* cancel = nullptr;     // checked between pieces of work
    std::function<void(double fraction)> progress; // called on the calling thread
};

// Builds the trees of the pieces that have none from their sources, the pieces shared out to the
// threads (0: one per core).
void buildMissingTrees(std::vector<InterpenetrationPiece>& pieces, unsigned threads,
                       const InterpenetrationControl& control);

// The marks and overlap figures of the pieces at the tolerance (a depth in model units).
InterpenetrationResult computeInterpenetration(std::vector<InterpenetrationPiece> pieces, double tolerance,
                                               const InterpenetrationControl& control = {});

// The default tolerance for pieces whose boxes together have this diagonal: small enough to mark
// any real overlap, large enough that two fracture surfaces that only touch are not marked.
double defaultContactTolerance(double diagonal);
