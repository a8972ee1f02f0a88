#pragma once

#include "error_view.h"
#include "interface_listener.h"
#include "obj_id.h"
#include "prev_gl_area.h"
#include "recovery_file.h"
#include "solve_driver.h"
#include "user_time_log.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <map>
#include <memory>
#include <set>

class EntityPoses;
class PanelGLArea;
class ProjectHistory;
class QTimer;
struct ProjectState;
class PointPairSet;
class ReassemblySolver;
class TotalGraph;
struct MainWindowUi;

// One point picked for the constraint being added.
struct PickRecord {
    ObjId key;      // identity of the picked object's parent object
    ObjId* picked;  // the picked object's identity (not owned)
    double x, y, z; // the picked point, world coordinates
};

// The hub: owns the project graph and every view and panel (as children), and implements the
// operations through which they reach each other.
class MainWindow : public QMainWindow, public InterfaceListener {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // InterfaceListener
    void addConstraintItem(Constraint* c) override;
    void addToSolvedArea(int objId) override;
    void removeFromSolvedArea(int objId) override;
    void showSolvedConstraint(int constraintId) override;
    void hideSolvedConstraint(int constraintId) override;
    void updateSolvedArea() override;
    void updateWorkingArea(int wgla) override;
    void deleteConstraint(int k) override;
    bool isInSolvedArea(int objId) override;
    void deleteGeometry(int objId) override;
    bool putInWorkingArea(GeometrObj* obj, int wgla) override;
    void addConstraintToSystem(Constraint* c, LiftMap& lift) override;
    void removeConstraintFromSystem(int constraintId) override;
    void resetSolverEntities(int count) override;
    void addSolverEntities(int count) override;
    void removeLastSolverEntity() override;
    void addTreeItems(GeometrObj* obj, ControlWithChildren* parent) override;
    void updateSolvedErrors() override;
    void updateGroupErrors(GeometrObj* group) override;
    void addConstraintPick(const ObjId& picked, double x, double y, double z, const ObjId& parent) override;
    void joinConstraintPicks() override;
    bool isNotLastPicked(GeometrObj* obj) override { return obj != lastPicked; }
    void cancelAddConstraint() override;
    void pickMissed(PickMiss why) override;
    void setLastPicked(GeometrObj* obj) override { lastPicked = obj; }
    void addObjectToGraph(GeometrObj* obj) override;
    Color4b objectColour(const ObjId& id) override;
    void removeObjectFromGraph(int objId) override;
    BaseGraph* getGraph() override;
    void replaceInSolvedArea(int oldId, int newId) override;
    void solveSystem(int level) override;
    void updateConstraintText(int constraintId) override;
    void clearConstraintSelection() override;
    void removeTreeHighlight(int wgla, bool rhigl) override;
    void removeTreeHighlightItem(MyTreeWidgetItem* item) override;
    void setTolerance(float value) override;
    float getTolerance() override { return tolerance; }
    void setShowError(bool show) override;
    int findWorkingAreaOf(const ObjId& id) override;
    ObjId* workingAreaObjectId(int wgla) override;
    void decrementHiddenCount() override;
    void removeConstraintItem(int constraintId) override;
    void makeThumbnail(GeometrObj* obj) override;
    void projectChanged(const QString& action) override;

    // Reads the project at path; only a complete read replaces the open project. Failures show a
    // message box and leave the open project as it was. Returns whether the project was replaced.
    bool openProject(const QString& path);
    // Writes the project to path (the old file is replaced only once the new one is complete).
    bool saveProject(const QString& path);
    // Merges the project at path into the open one, renumbering colliding ids.
    bool importProject(const QString& path);
    bool exportAln(const QString& path);

    TotalGraph* projectGraph() const { return graph.get(); }
    const SolveDriver& solveDriver() const { return *driver; }
    // Ids of the objects the solved area shows.
    const std::set<int>& solvedAreaObjects() const;
    const UserTimeLog& userTimeLog() const { return timeLog; }
    const MainWindowUi& widgets() const { return *ui; }
    const std::multimap<QString, PickRecord>& pendingPicks() const { return picks; }
    ProjectHistory& projectHistory() const { return *history; }
    // The file the project was last opened from or saved to; empty for a new project.
    const QString& projectFile() const { return projectPath; }
    // Asks whether to save unsaved changes: true when the project may go (saved, discarded or
    // unchanged), false when the user cancelled or the save failed.
    bool maySetProjectAside();
    // At start: a recovery file left by a run that did not end cleanly is offered back. Returns
    // whether a project was restored from it.
    bool offerRecovery();
    const RecoveryFile& recoveryFile() const { return recovery; }
    // The shortest time between two writes of the recovery file.
    void setRecoveryInterval(int milliseconds) { recoveryInterval = milliseconds; }

public slots:
    void solve() override;
    void chooseOpenProject();
    void chooseSaveProject();
    void chooseImportProject();
    void chooseExportAln();
    void quit();
    void newProject();
    void HandlePicking(int nctype, int nstiff) override;
    // Undo and redo leave any picking first.
    void undo();
    void redo();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The margins and spacings of the central grid across its three columns.
    static constexpr int ColumnGaps = 4;
    // How long a message that reports a finished action stays in the status bar.
    static constexpr int MessageMs = 8000;
    // How long after the last resize the window is drawn again whole.
    static constexpr int ResizeSettleMs = 100;

private:
    // Empties the views, the lists and the pending picks (the graph is left alone).
    void resetViews();
    void repaintAfterResize();
    // The project as an undo step keeps it, and putting such a state back.
    ProjectState captureState() const;
    bool restoreState(const ProjectState& state);
    void buildEditMenu();
    // The project now is where undo starts, saved in path (empty: never saved).
    void startHistory(const QString& path);
    void setProjectFile(const QString& path);
    // The Save dialog, starting at the project's file; empty when cancelled.
    QString askSavePath();
    // Puts a project just read in place of the open one.
    void replaceProject(TotalGraph& loaded);
    // The recovery file follows the project: written at most once per interval while there are
    // unsaved changes, removed when there are none.
    void scheduleRecovery();
    void writeRecovery();
    // Lists, solved area and thumbnails for a project that was just read; computeMarks: the
    // interpenetration marks of the solved area; thumbnails: pictures to put back by image key.
    void announceProject(bool computeMarks = true, const std::map<QString, QByteArray>* thumbnails = nullptr);
    // Each mesh that could not be read, with why, and the folders where it was looked for.
    void warnAboutMissingMeshes(const ProjectReadReport& report);
    PanelGLArea& solvedArea() const;
    // Every area that can take picks now: the non-empty working areas and the solved area.
    bool anyAreaToPickIn() const;
    // text, then on the next line the file and why it failed (when path is given).
    void showFileError(const QString& title, const QString& text, const QString& path = QString(),
                       const QString& reason = QString());
    // A project that could not be opened or imported: which file, and why.
    void showReadError(const QString& path, const ProjectReadReport& report);
    // A refused interpenetration computation says why in the status bar.
    void reportErrorRefusal(const ErrorReport& report);

    // The solved area as the solve driver sees it.
    class SolvedAreaLink : public SolvedAreaAccess {
    public:
        explicit SolvedAreaLink(MainWindow& w) : window(w) {}
        std::vector<int> shownObjects() const override;
        bool isShown(int objId) const override;
        void show(int objId) override { window.addToSolvedArea(objId); }
        void refitAndRecomputeErrors(float) override;
        void repaint() override { window.updateSolvedArea(); }
        void makeThumbnail(GeometrObj* obj) override { window.makeThumbnail(obj); }
        void repaintWorkingAreas() override;
        float tolerance() const override { return window.tolerance; }

    private:
        MainWindow& window;
    };

    std::unique_ptr<MainWindowUi> ui;
    std::unique_ptr<TotalGraph> graph;
    std::unique_ptr<EntityPoses> poses;
    std::unique_ptr<PointPairSet> pairs;
    std::unique_ptr<ReassemblySolver> solver;
    SolvedAreaLink solvedLink{*this};
    std::unique_ptr<SolveDriver> driver;
    PrevGLArea thumbnailView;         // renders thumbnails off screen; never shown
    ErrorView errorView;              // the interpenetration marks of every view
    GeometrObj* lastPicked = nullptr; // not owned
    float tolerance = 1e-5f;
    UserTimeLog timeLog;
    UserTimeKey* timeKey = nullptr; // child of the window
    int pickStiffness = 1;
    int pickType = 0;
    int pickCount = 0;
    std::multimap<QString, PickRecord> picks;
    ProjectHistory* history = nullptr; // child of the window
    QString projectPath;
    bool closing = false; // the user agreed to let the project go
    RecoveryFile recovery;
    QTimer* recoveryTimer = nullptr; // child of the window
    QTimer* resizeSettle = nullptr;  // child of the window
    QElapsedTimer sinceRecoveryWrite;
    int recoveryInterval = 30000;
};
