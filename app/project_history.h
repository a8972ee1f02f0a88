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
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

// Runs of marked faces: (first face, count).
using MarkRuns = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// One state of the project as a step puts it back.
struct ProjectState {
    QString folder;                          // the folder the text's relative mesh paths start from
    QByteArray text;                         // the project writer's text for that folder
    KeptMeshes meshes;                       // every fragment's mesh
    std::array<int, 2> workingAreas{-1, -1}; // ids of the objects the working areas show
    // The interpenetration marks shown, by fragment key: runs of marked faces (first, count), so
    // that putting a state back need not compute them again.
    std::map<QString, MarkRuns> marks;
    // The thumbnails shown, by image key (PNG bytes, shared with the thumbnail store).
    std::map<QString, QByteArray> thumbnails;

    std::size_t textAndMarkBytes() const;
};

// The marked faces of mesh as runs, and back.
MarkRuns markRuns(const FragMesh& mesh);
void applyMarkRuns(FragMesh& mesh, const MarkRuns& runs);

class ProjectHistory : public QObject {
    Q_OBJECT
public:
    using Capture = std::function<ProjectState()>;
    // False when the state could not be put back (the project is then left as it was).
    using Restore = std::function<bool(const ProjectState&)>;

    ProjectHistory(Capture capture, Restore restore, QObject* parent = nullptr);

    QUndoStack& stack() { return undoStack; }
    // After a change: one step named action from the last recorded state to the project as it is
    // now, unless the project text stayed the same.
    void record(const QString& action);
    // The marks shown now replace those of the state recorded last (in the steps that lead to or
    // from it), when the project is otherwise as recorded: marks computed in the background
    // arrive after the change they belong to was recorded.
    void refreshMarks();
    // Drops every step; the project as it is now is where undo stops (New, Load).
    void startOver();
    // Bytes the steps hold beyond the project in use: texts, marks and the meshes of fragments
    // that are no longer in the project (live holds the meshes in use).
    std::size_t heldBytes(const std::set<const FragMesh*>& live) const;

private:
    class Step;
    void put(const std::shared_ptr<const ProjectState>& state);

    Capture capture;
    Restore restore;
    QUndoStack undoStack;
    std::shared_ptr<const ProjectState> last;
    bool restoring = false;
};
