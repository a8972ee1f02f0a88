#include "exact_marks.h"

#include "error_marks.h"
#include "frag_group.h"
#include "fragment.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <atomic>
#include <map>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("ExactMarks", text);
}

QString number(double v) {
    return QLocale().toString(v, 'g', 3);
}

// Worker threads yield to the GUI thread, so turning a view never waits for the marks. New
// threads inherit the value.
void lowerThisThreadsPriority() {
#ifdef __linux__
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 5);
#endif
}

std::vector<const OverlapFigures*> worstFirst(const InterpenetrationResult& result) {
    std::vector<const OverlapFigures*> pairs;
    for (const OverlapFigures& f : result.pairs)
        pairs.push_back(&f);
    std::stable_sort(pairs.begin(), pairs.end(), [](const OverlapFigures* a, const OverlapFigures* b) {
        return a->greatestDepth > b->greatestDepth;
    });
    return pairs;
}
} // namespace

ExactMarksJob prepareExactMarks(BaseGraph* graph, const std::vector<int>& objectIds, double tolerance) {
    ExactMarksJob job;
    job.objectIds = objectIds;
    job.tolerance = tolerance;
    for (Fragment* f : fragmentsOf(graph, objectIds)) {
        job.pieces.push_back(pieceOf(f->mesh()));
        job.meshes.push_back(f->sharedMesh());
        job.names.push_back(shortName(*f));
    }
    return job;
}

double fragmentsDiagonal(BaseGraph* graph, const std::vector<int>& objectIds) {
    Box3d box;
    for (const Fragment* f : fragmentsOf(graph, objectIds))
        box.add(f->mesh().bbox);
    return box.diag();
}

void applyExactMarks(BaseGraph* graph, const ExactMarksJob& job, const InterpenetrationResult& result) {
    std::map<const FragMesh*, std::size_t> pieceOf;
    for (std::size_t i = 0; i < job.meshes.size(); ++i)
        pieceOf[job.meshes[i].get()] = i;
    for (Fragment* f : fragmentsOf(graph, job.objectIds)) {
        FragMesh& m = f->mesh();
        const auto found = pieceOf.find(&m);
        std::vector<std::uint8_t> marks(m.faceCount(), 0);
        if (found != pieceOf.end() && found->second < result.marked.size()) {
            for (std::uint32_t face : result.marked[found->second])
                if (face < marks.size())
                    marks[face] = 1;
            if (const auto& tree = result.trees[found->second]; tree && tree->builtFrom(m))
                m.tree = tree;
        }
        if (marks != m.marked) {
            m.marked = std::move(marks);
            m.changes |= FragMesh::Marks;
        }
    }
}

InterpenetrationResult computeExactMarksNow(BaseGraph* graph, const std::vector<int>& objectIds,
                                            double tolerance) {
    const ExactMarksJob job = prepareExactMarks(graph, objectIds, tolerance);
    InterpenetrationResult result = computeInterpenetration(job.pieces, tolerance);
    applyExactMarks(graph, job, result);
    return result;
}

QString overlapText(const ExactMarksJob& job, const OverlapFigures& f) {
    return tr("%1 – %2: %3 faces inside each other, area %4, greatest depth %5")
        .arg(job.names[f.first], job.names[f.second], QLocale().toString(qulonglong(f.faces)), number(f.area),
             number(f.greatestDepth));
}

QString interpenetrationSummary(const ExactMarksJob& job, const InterpenetrationResult& result) {
    const OverlapFigures* worst = result.worst();
    if (!worst)
        return tr("Interpenetration: no fragment lies inside another (tolerance %1)")
            .arg(number(job.tolerance));
    QString text = tr("Interpenetration: %1").arg(overlapText(job, *worst));
    if (result.pairs.size() > 1)
        text += result.pairs.size() == 2 ? tr(" (and 1 more pair)")
                                         : tr(" (and %1 more pairs)").arg(result.pairs.size() - 1);
    return text;
}

QStringList overlapLines(const ExactMarksJob& job, const InterpenetrationResult& result, int maxLines) {
    QStringList lines;
    const std::vector<const OverlapFigures*> pairs = worstFirst(result);
    for (std::size_t i = 0; i < pairs.size() && int(i) < maxLines; ++i)
        lines << overlapText(job, *pairs[i]);
    if (int(pairs.size()) > maxLines)
        lines << tr("… and %1 more pairs").arg(int(pairs.size()) - maxLines);
    return lines;
}

struct ExactMarksRunner::Run {
    std::shared_ptr<const ExactMarksJob> job;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

ExactMarksRunner::ExactMarksRunner(QObject* parent) : QObject(parent) {}

ExactMarksRunner::~ExactMarksRunner() {
    for (const std::shared_ptr<Run>& run : runs) {
        run->cancel = true;
        if (run->thread.joinable())
            run->thread.join();
    }
}

void ExactMarksRunner::start(ExactMarksJob job) {
    cancel();
    reap();
    auto run = std::make_shared<Run>();
    run->job = std::make_shared<const ExactMarksJob>(std::move(job));
    busy = true;
    const unsigned workers = threads;
    run->thread = std::thread([this, run, workers] {
        lowerThisThreadsPriority();
        InterpenetrationControl control;
        control.threads = workers;
        control.cancel = &run->cancel;
        int reported = -1;
        control.progress = [&](double fraction) {
            const int percent = int(fraction * 100.0);
            if (percent == reported)
                return;
            reported = percent;
            QMetaObject::invokeMethod(
                this,
                [this, run, fraction] {
                    if (!run->cancel)
                        emit progress(fraction);
                },
                Qt::QueuedConnection);
        };
        auto result = std::make_shared<const InterpenetrationResult>(
            computeInterpenetration(run->job->pieces, run->job->tolerance, control));
        run->done = true;
        QMetaObject::invokeMethod(
            this, [this, run, result] { finish(run, result); }, Qt::QueuedConnection);
    });
    runs.push_back(std::move(run));
}

void ExactMarksRunner::cancel() {
    for (const std::shared_ptr<Run>& run : runs)
        run->cancel = true;
    busy = false;
}

void ExactMarksRunner::finish(const std::shared_ptr<Run>& run,
                              std::shared_ptr<const InterpenetrationResult> result) {
    reap();
    if (run->cancel || result->cancelled)
        return;
    busy = false;
    emit finished(run->job, std::move(result));
}

void ExactMarksRunner::reap() {
    // Threads that have handed over their result end at once.
    for (auto it = runs.begin(); it != runs.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = runs.erase(it);
        } else {
            ++it;
        }
    }
}
