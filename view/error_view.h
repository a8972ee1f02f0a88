#pragma once
// The interpenetration (error) view: marks, on every fragment of a set of objects, the faces that
// lie inside another fragment. The fragments are drawn in pick colours (one 24-bit code per face)
// into 600 x 600 off-screen buffers from three axis directions, each peeled layer by layer; along
// each pixel's line of sight the solids entered are counted, and a face met while inside another
// solid collects hits until it is marked. The marks are then smoothed over face-face adjacency.
// Marks depend only on the placement and the tolerance: every computation starts from no marks
// and no hits.
//
// Use (GUI thread): ErrorView::update(graph, shownIds, tolerance) after a Solve, a tolerance
// change or a deletion. It runs outside any paint, in a context of its own that shares the views'
// buffers (the pick passes draw from the GPU buffers the views keep, uploaded again only when a
// mesh moved), and leaves the context current before the call current again. Fragments whose
// marks changed get their FragMesh::Marks change bit, so the views redraw the red faces; the
// caller repaints.
//
// Diagnostics (frame buffer set-up, shader compilation, the pass bound, refusals) go to
// "LogError.txt"; a refusal the user should see comes back as ErrorReport::refusal.

#include "geometry_types.h"

#include <QString>
#include <array>
#include <memory>
#include <vector>

class BaseGraph;
class FragGroup;
class Fragment;
class QOffscreenSurface;
class QOpenGLContext;

struct DirectionReport {
    int passes = 0;
    double seconds = 0.0;        // drawing, read-back and classification of all its passes
    bool stoppedByBound = false; // MaxPassesPerDirection passes did not peel every layer
};

struct FragmentMarks {
    Fragment* fragment = nullptr;
    std::size_t faces = 0;
    std::size_t markedFaces = 0;
    bool marksChanged = false; // some face was marked by the passes (before smoothing)
};

struct ErrorReport {
    // True when the passes ran; false when the computation was refused or the buffers could not
    // be set up (no marks changed then).
    bool computed = false;
    // Non-empty when refused: a sentence for the status bar (e.g. too many faces for the codes).
    QString refusal;
    std::array<DirectionReport, 3> directions{}; // along +x, +y, +z
    double readBackSeconds = 0.0;                // all passes
    double totalSeconds = 0.0;
    std::vector<FragmentMarks> fragments; // in pick-code order

    int totalPasses() const;
    std::size_t totalMarkedFaces() const;
};

// Passes per direction are bounded: a shader that does not peel would never end.
constexpr int MaxPassesPerDirection = 64;

// The marking passes over the fragments of group (pick codes already assigned, e.g. by
// makeFragmentGroup), in the current OpenGL 2.1 compatibility context, with the tolerance in
// window depth units. Every GL state it changes is restored. Does not smooth.
ErrorReport computeErrors(FragGroup& group, float tolerance);

enum class Smoothing { On, Off };

class ErrorView {
public:
    ErrorView();
    ~ErrorView();
    ErrorView(const ErrorView&) = delete;
    ErrorView& operator=(const ErrorView&) = delete;

    // Recomputes the marks of every fragment inside the objects with these graph ids: the
    // temporary fragment group, computeErrors, smoothing of the fragments whose marks changed
    // (unless Smoothing::Off), and the group dropped again. Refused (nothing changes, a log line,
    // the reason in refusal) when the fragments hold more faces than the pick codes can name or no
    // usable OpenGL context can be made.
    ErrorReport update(BaseGraph* graph, const std::vector<int>& objectIds, float tolerance,
                       Smoothing smoothing = Smoothing::On);

    // Makes the context on first use; false (with the reason in contextProblem()) when there is no
    // usable OpenGL 2.1 compatibility context.
    bool ensureContext();
    QString contextProblem() const { return problem; }

private:
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    bool tried = false;
    QString problem;
};
