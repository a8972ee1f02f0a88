#pragma once
// The open project: its graph, the file it was read from or saved to, its undo history and its
// recovery file. Opening, saving, importing, exporting and starting anew go through here; the
// window asks for file names and shows what went wrong, the document never opens a dialog.

#include "project_history.h"
#include "project_reader.h"
#include "recovery_file.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <array>
#include <map>
#include <memory>
#include <vector>

class GeometrObj;
class QTimer;
class TotalGraph;

// What the views and the lists do when the project changes under them.
class ProjectViews {
public:
    virtual ~ProjectViews() = default;
    // Everything shown of the project goes (the graph is left alone), picking included.
    virtual void clearViews() = 0;
    // Lists, solved area and thumbnails for a project just read. computeMarks: the
    // interpenetration marks of the solved area; thumbnails: pictures to put back by image key.
    virtual void announceProject(bool computeMarks, const std::map<QString, QByteArray>* thumbnails) = 0;
    // Objects that came in from an imported project get their thumbnails.
    virtual void showImported(const std::vector<GeometrObj*>& incoming) = 0;
    // Ids of the objects the working areas show (-1: empty), and showing them again.
    virtual std::array<int, 2> workingAreaIds() const = 0;
    virtual void showInWorkingAreas(const std::array<int, 2>& ids) = 0;
    // Edits in the constraint panel not applied yet: applied before a save, taken back before a
    // step is recorded (a step holds what was applied).
    virtual bool hasPendingEdits() const = 0;
    virtual void applyPendingEdits() = 0;
    virtual void takeBackPendingEdits() = 0;
};

class ProjectDocument : public QObject {
    Q_OBJECT
public:
    explicit ProjectDocument(QObject* parent = nullptr);
    // The views are shown every change of project; they are made after the document (they show
    // its graph) and handed over before any command runs.
    void setViews(ProjectViews& shown) { views = &shown; }
    ~ProjectDocument() override;

    TotalGraph& graph() const { return *project; }
    ProjectHistory& history() const { return *steps; }
    // The file the project was last opened from or saved to; empty for a new project.
    const QString& file() const { return path; }
    const RecoveryFile& recoveryFile() const { return recovery; }
    // The shortest time between two writes of the recovery file.
    void setRecoveryInterval(int milliseconds) { recoveryInterval = milliseconds; }
    // Changes not saved, pending panel edits included.
    bool isModified() const;

    // Only a complete read replaces the open project.
    ProjectReadReport open(const QString& path, const MeshLoadOptions& loading);
    // The old file is replaced only once the new one is complete.
    bool save(const QString& path, QString& error);
    // Merges the project at path into the open one, renumbering colliding ids: one step.
    ProjectReadReport import(const QString& path, const MeshLoadOptions& loading);
    bool exportAln(const QString& path, QString& error) const;
    void startNew();
    // A change of the project named action is complete: one undo step.
    void recordChange(const QString& action);

    // A recovery file left by a run that did not end cleanly.
    bool hasRecovery() const { return recovery.exists(); }
    void discardRecovery() { recovery.remove(); }
    // Puts the project kept in the recovery file in place of the open one, modified until saved.
    // When it cannot be read it is set aside: aside is its new name (empty if even that failed).
    ProjectReadReport restoreRecovery(QString& aside);
    // The program ends cleanly: no recovery file is left.
    void close();

signals:
    void fileChanged(const QString& path);
    // Undo or redo could not put a state back (the project stays as it was): why.
    void stepFailed(const QString& detail);
    // A recovery file could not be written: why, for the user.
    void recoveryFailed(const QString& text);

private:
    ProjectState captureState() const;
    bool restoreState(const ProjectState& state);
    // The project now is where undo starts, saved in file (empty: never saved).
    void startHistory(const QString& file);
    void setFile(const QString& file);
    // Puts a project just read in place of the open one.
    void replaceWith(TotalGraph& loaded);
    // The recovery file follows the project: written at most once per interval while there are
    // unsaved changes, removed when there are none.
    void scheduleRecovery();
    void writeRecovery();

    ProjectViews* views = nullptr; // not owned
    std::unique_ptr<TotalGraph> project;
    ProjectHistory* steps = nullptr; // child
    QString path;
    bool closed = false;
    RecoveryFile recovery;
    QTimer* recoveryTimer = nullptr; // child
    QElapsedTimer sinceRecoveryWrite;
    int recoveryInterval = 30000;
};
