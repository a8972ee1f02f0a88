#pragma once
// The exact interpenetration marks of the fragments inside some graph objects, computed off the
// GUI thread. A job is taken on the GUI thread (the trees the meshes keep, or copies of the meshes
// to build them from, and the placements); it is computed on worker threads, which never touch
// the graph; its marks are put back on the GUI thread on the fragments that still hold the job's
// meshes, and the trees built are kept on those meshes for the next computation.

#include "interpenetration.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <thread>
#include <vector>

class BaseGraph;
struct FragMesh;

struct ExactMarksJob {
    std::vector<int> objectIds;
    std::vector<std::shared_ptr<FragMesh>> meshes; // per piece; kept alive, matched when applying
    std::vector<QString> names;                    // per piece, as the diagnosis names it
    std::vector<InterpenetrationPiece> pieces;
    double tolerance = 0.0; // model units
};

// The job over the fragments inside the objects (every fragment once, in fragmentsOf order).
ExactMarksJob prepareExactMarks(BaseGraph* graph, const std::vector<int>& objectIds, double tolerance);
// The diagonal of the box around the fragments inside the objects: the size the default
// tolerance is taken from.
double fragmentsDiagonal(BaseGraph* graph, const std::vector<int>& objectIds);
// Marks of the result on the fragments of the job's objects that still hold the job's meshes (all
// their other marks cleared), with the Marks change bit where they changed; the trees are kept.
void applyExactMarks(BaseGraph* graph, const ExactMarksJob& job, const InterpenetrationResult& result);
// Computes and applies at once, on the calling thread (and all cores).
InterpenetrationResult computeExactMarksNow(BaseGraph* graph, const std::vector<int>& objectIds,
                                            double tolerance);

// "bunny – elephant: 1,234 faces inside each other, area 5.6, greatest depth 0.78"
QString overlapText(const ExactMarksJob& job, const OverlapFigures& f);
// One sentence for the status bar: the worst pair and how many others there are, or that no
// fragment lies inside another.
QString interpenetrationSummary(const ExactMarksJob& job, const InterpenetrationResult& result);
// One line per pair, worst first, at most maxLines (then how many more).
QStringList overlapLines(const ExactMarksJob& job, const InterpenetrationResult& result, int maxLines);

// Runs one job at a time in the background; a newer job cancels the older, whose result is then
// dropped. Signals are emitted on the thread that owns the runner.
class ExactMarksRunner : public QObject {
    Q_OBJECT
public:
    explicit ExactMarksRunner(QObject* parent = nullptr);
    ~ExactMarksRunner() override; // cancels what runs and waits for it

    void start(ExactMarksJob job);
    // The running job's result will not be reported.
    void cancel();
    bool isBusy() const { return busy; }
    // Worker threads per job (0: one per core); results do not depend on it.
    void setThreads(unsigned n) { threads = n; }

signals:
    void progress(double fraction);
    void finished(std::shared_ptr<const ExactMarksJob> job,
                  std::shared_ptr<const InterpenetrationResult> result);

private:
    struct Run;
    void finish(const std::shared_ptr<Run>& run, std::shared_ptr<const InterpenetrationResult> result);
    void reap();

    std::vector<std::shared_ptr<Run>> runs; // the newest last; older ones are cancelled
    unsigned threads = 0;
    bool busy = false;
};
