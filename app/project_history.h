#pragma once
// Undo and redo for the project. A step holds the project before and after a change as the
// project writer's text plus the meshes the fragments had (shared, so a step costs the text only;
// a deleted fragment's mesh lives on while a step needs it). Undo and redo rebuild the project
// from the text with those meshes, without touching the mesh files.

#include "project_reader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUndoStack>
#include <array>
#include <functional>
#include <memory>

// One state of the project as a step puts it back.
struct ProjectState {
    QString folder;                          // the folder the text's relative mesh paths start from
    QByteArray text;                         // the project writer's text for that folder
    KeptMeshes meshes;                       // every fragment's mesh
    std::array<int, 2> workingAreas{-1, -1}; // ids of the objects the working areas show
};

class ProjectHistory : public QObject {
    Q_OBJECT
public:
    using Capture = std::function<ProjectState()>;
    using Restore = std::function<void(const ProjectState&)>;

    ProjectHistory(Capture capture, Restore restore, QObject* parent = nullptr);

    QUndoStack& stack() { return undoStack; }
    // After a change: one step named action from the last recorded state to the project as it is
    // now, unless the project text stayed the same.
    void record(const QString& action);
    // Drops every step; the project as it is now is where undo stops (New, Load).
    void startOver();
    // True while a step puts a state back: what that changes is no new step.
    bool isRestoring() const { return restoring; }
    // The last state recorded or put back.
    const ProjectState& current() const { return *last; }

private:
    class Step;
    void put(const std::shared_ptr<const ProjectState>& state);

    Capture capture;
    Restore restore;
    QUndoStack undoStack;
    std::shared_ptr<const ProjectState> last;
    bool restoring = false;
};
