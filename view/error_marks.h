#pragma once
// The CPU side of the interpenetration view: the temporary group that gathers the fragments and
// gives their faces pick codes, the classification of peeled pixels into marks, the faces left out
// of the pick passes, and the smoothing of the marks.

#include "frag_group.h"
#include "geometry_types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class BaseGraph;
class Fragment;
struct FragMesh;

// Pick codes are 24 bits: codes 0 ... MaxPickFaces - 1 name faces; MaxPickFaces itself (0xFFFFFF)
// is white, the clear colour of the pick passes.
constexpr std::size_t MaxPickFaces = 0xFFFFFF;

// A group that only lends its child table: it never deletes, re-parents or recolours the
// fragments entered in it, and on destruction it drops the table.
class TemporaryFragGroup : public FragGroup {
public:
    explicit TemporaryFragGroup(BaseGraph* graph) : FragGroup(graph) {}
    ~TemporaryFragGroup() override { dropChildTable(); }
};

// The fragments inside the given graph objects, each once, in pick-code order: per object, every
// fragment inside it depth first, children in ascending id order. Ids naming no object are skipped.
std::vector<Fragment*> fragmentsOf(BaseGraph* graph, const std::vector<int>& objectIds);
std::size_t totalFaceCount(const std::vector<Fragment*>& fragments);

// Clears the marks of f (every face unmarked, hit counts 0), then gives face k the pick code
// base + k. The Marks change bit is set when marks were cleared.
void resetMarksAndAssignCodes(Fragment& f, int base);

// The temporary group of a computation over the fragments of the given objects: marks cleared,
// hit counts 0, consecutive pick codes from 0 in fragmentsOf order. The caller checks beforehand
// that totalFaceCount does not exceed MaxPickFaces (codes beyond it would name the wrong faces).
std::unique_ptr<FragGroup> makeFragmentGroup(BaseGraph* graph, const std::vector<int>& objectIds);

// Runs of faces (first face, face count) in face order that the pick passes draw: every face
// except those whose three vertices (in any order) occur in another face too. Such repeated faces
// are zero-thickness membranes that would count as entering a solid with no exit.
std::vector<std::pair<std::size_t, std::size_t>> pickFaceRuns(const FragMesh& mesh);

// The pixels of one peeling pass seen from one side: pick colours (RGBA bytes) and window depths,
// 1 where nothing was drawn.
struct PassImage {
    const Color4b* colours = nullptr;
    const float* depths = nullptr;
};

// Turns the pixels of the peeling passes into marks. The fragments' pick codes (base + face) must
// lie below MaxPickFaces and not overlap; a flat table maps every code to its fragment.
class PickClassifier {
public:
    explicit PickClassifier(std::vector<Fragment*> fragments);

    // False when the fragments' codes overlap or reach MaxPickFaces (nothing can be classified).
    bool codesValid() const { return valid; }
    // Every per-pixel counter back to 0, for the first pass of a direction. With depth limits,
    // no face deeper than its pixel's limit collects a hit, and whatever lies more than the
    // tolerance behind the limit counts as nothing (no limits: everything counts).
    void startDirection(std::size_t pixelCount, const float* depthLimits = nullptr);
    // One pass: per pixel the nearest front face (entering a solid) and the nearest back face
    // (leaving one) deeper than the previous layer by more than the tolerance. A front and a back
    // face within the tolerance of each other are one contact and both count; otherwise only the
    // nearer one does. A face that counts while the line of sight lies inside another solid (one
    // that neither ends nor starts at that contact) collects a hit; a front face is marked at 2
    // hits, a back face at 1. lastDepth receives per pixel the depth of what counted (1 where
    // nothing did): the next pass peels against it. Returns true when neither side drew anything
    // nearer than 1 - tolerance (the direction is done).
    bool classifyPass(PassImage front, PassImage back, float tolerance, float* lastDepth);

    const std::vector<Fragment*>& fragments() const { return members; }
    // Some face of fragment slot i was marked since construction.
    bool marksChanged(std::size_t i) const { return dirty[i] != 0; }

private:
    void hit(Color4b pickColour, int threshold);

    std::vector<Fragment*> members;
    std::vector<int> bases;
    std::vector<std::uint32_t> slotOfCode; // code -> fragment slot, NoSlot where no face has it
    std::vector<int> counters;             // per pixel: solids entered minus solids left
    std::vector<float> limits;             // per pixel: the deepest window depth marked
    std::vector<char> dirty;
    bool valid = true;
};

// Two rounds of fill then erode over face-face adjacency: fill marks every unmarked face with at
// least 2 marked neighbours, erode unmarks every marked face with at least 2 unmarked neighbours.
// A border edge counts the face itself. Faces that change get hit count 0. A mesh without marks
// is left alone. Adjacency is computed first if the mesh has none.
void smoothMarks(FragMesh& mesh);

std::size_t markedFaceCount(const FragMesh& mesh);
