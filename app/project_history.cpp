#include "project_history.h"

#include "frag_mesh.h"

#include <QUndoCommand>

class ProjectHistory::Step : public QUndoCommand {
public:
    Step(ProjectHistory& h, std::shared_ptr<const ProjectState> b, std::shared_ptr<const ProjectState> a,
         const QString& action)
        : QUndoCommand(action), history(h), before(std::move(b)), after(std::move(a)) {}

    void undo() override { history.put(before); }
    void redo() override {
        // Pushed once the change is already made.
        if (done)
            history.put(after);
        done = true;
    }

    const ProjectState& stateBefore() const { return *before; }
    const ProjectState& stateAfter() const { return *after; }
    // Every reference to state old now refers to state now.
    void replace(const std::shared_ptr<const ProjectState>& old,
                 const std::shared_ptr<const ProjectState>& now) {
        if (before == old)
            before = now;
        if (after == old)
            after = now;
    }

private:
    ProjectHistory& history;
    std::shared_ptr<const ProjectState> before, after;
    bool done = false;
};

ProjectHistory::ProjectHistory(Capture c, Restore r, QObject* parent)
    : QObject(parent), capture(std::move(c)), restore(std::move(r)), undoStack(this) {
    last = std::make_shared<const ProjectState>(capture());
}

void ProjectHistory::record(const QString& action) {
    if (restoring)
        return;
    auto now = std::make_shared<const ProjectState>(capture());
    if (now->text != last->text)
        undoStack.push(new Step(*this, last, now, action));
    last = std::move(now);
}

void ProjectHistory::refreshMarks() {
    if (restoring)
        return;
    auto now = std::make_shared<ProjectState>(capture());
    if (now->text != last->text)
        return; // a change not recorded yet; recording it takes the marks
    for (int i = 0; i < undoStack.count(); ++i)
        if (auto* step = dynamic_cast<Step*>(const_cast<QUndoCommand*>(undoStack.command(i))))
            step->replace(last, now);
    last = std::move(now);
}

void ProjectHistory::startOver() {
    undoStack.clear();
    last = std::make_shared<const ProjectState>(capture());
}

void ProjectHistory::put(const std::shared_ptr<const ProjectState>& state) {
    restoring = true;
    const bool done = restore(*state);
    restoring = false;
    if (done) {
        last = state;
        return;
    }
    // The steps no longer lead from the project as it is; they cannot be trusted.
    QMetaObject::invokeMethod(this, &ProjectHistory::startOver, Qt::QueuedConnection);
}

std::size_t ProjectHistory::heldBytes(const std::set<const FragMesh*>& live) const {
    std::set<const ProjectState*> states{last.get()};
    for (int i = 0; i < undoStack.count(); ++i)
        if (const auto* step = dynamic_cast<const Step*>(undoStack.command(i)))
            states.insert({&step->stateBefore(), &step->stateAfter()});
    std::set<const FragMesh*> gone;
    std::size_t bytes = 0;
    for (const ProjectState* s : states) {
        bytes += s->textAndMarkBytes();
        for (const auto& [key, kept] : s->meshes)
            if (kept.mesh && !live.count(kept.mesh.get()) && gone.insert(kept.mesh.get()).second)
                bytes += kept.mesh->memoryBytes();
    }
    return bytes;
}

std::size_t ProjectState::textAndMarkBytes() const {
    std::size_t bytes = std::size_t(text.capacity()) + meshes.size() * (sizeof(KeptMesh) + 64);
    for (const auto& [id, runs] : marks)
        bytes += runs.capacity() * sizeof(runs.front()) + 64;
    for (const auto& [key, png] : thumbnails)
        bytes += std::size_t(png.capacity()) + 64; // counted per state, though states share them
    return bytes;
}

MarkRuns markRuns(const FragMesh& mesh) {
    MarkRuns runs;
    const auto n = std::uint32_t(mesh.marked.size());
    for (std::uint32_t f = 0; f < n;) {
        if (!mesh.marked[f]) {
            ++f;
            continue;
        }
        const std::uint32_t first = f;
        while (f < n && mesh.marked[f])
            ++f;
        runs.emplace_back(first, f - first);
    }
    return runs;
}

void applyMarkRuns(FragMesh& mesh, const MarkRuns& runs) {
    mesh.marked.assign(mesh.faces.size(), 0);
    for (const auto& [first, count] : runs)
        for (std::uint32_t f = first; f < first + count && f < mesh.marked.size(); ++f)
            mesh.marked[f] = 1;
    mesh.changes |= FragMesh::Marks;
}
