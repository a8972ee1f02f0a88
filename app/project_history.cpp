#include "project_history.h"

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

void ProjectHistory::startOver() {
    undoStack.clear();
    last = std::make_shared<const ProjectState>(capture());
}

void ProjectHistory::put(const std::shared_ptr<const ProjectState>& state) {
    restoring = true;
    restore(*state);
    restoring = false;
    last = state;
}
