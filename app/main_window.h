#pragma once

#include "constraint_picker.h"
#include "interface_listener.h"
#include "list_panel_container.h"
#include "project_document.h"
#include "project_screen.h"
#include "reassembly.h"
#include "recent_projects.h"
#include "total_graph.h"
#include "user_time_log.h"
#include "view_coordinator.h"

#include <QMainWindow>
#include <QString>
#include <map>
#include <memory>
#include <set>

class QLabel;
class QTimer;
struct MainWindowUi;

// The window: builds the widgets and the components behind them, wires them, and is the hub
// through which the graph, the views and the panels reach each other. Each operation of the hub
// hands its work to the component that owns it: the project document, the views, the constraint
// picker or the reassembly. What stays here is the menus, the dialogs, the status bar and the
// window's own events.
class MainWindow : public QMainWindow, public InterfaceListener {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // GraphListener
    void makeThumbnail(GeometrObj* obj) override { views->makeThumbnail(obj); }
    void updateConstraintText(int constraintId) override { lists().UpdateConstraintText(constraintId); }
    void hideSolvedConstraint(int constraintId) override { views->hideSolvedConstraint(constraintId); }
    void removeConstraintItem(int constraintId) override { lists().removeConstraintItem(constraintId); }
    void addTopLevelItems(GeometrObj* obj) override { addTreeItems(obj, nullptr); }
    void addConstraintItem(Constraint* c) override { lists().addConstraintItem(c); }

    // ViewListener
    void addConstraintPick(const ObjId& picked, double x, double y, double z, const ObjId& parent) override {
        picker->addPick(picked, x, y, z, parent);
    }
    void joinConstraintPicks() override { picker->join(); }
    bool isNotLastPicked(GeometrObj* obj) override { return picker->isNotLastPicked(obj); }
    void setLastPicked(GeometrObj* obj) override { picker->setLastPicked(obj); }
    void pickMissed(PickMiss why) override { picker->missed(why); }
    void setTolerance(float value) override { views->setTolerance(value); }
    float getTolerance() override { return views->tolerance(); }
    void removeTreeHighlight(int wgla, bool rhigl) override { lists().delHighl(wgla, rhigl); }

    // PanelListener
    BaseGraph* getGraph() override { return &document->graph(); }
    Color4b objectColour(const ObjId& id) override { return document->graph().objectColor(id); }
    void projectChanged(const QString& action) override { document->recordChange(action); }
    void deleteGeometry(int objId) override;
    void deleteConstraint(int k) override { views->deleteConstraint(k); }
    bool isInSolvedArea(int objId) override { return views->isInSolvedArea(objId); }
    void addToSolvedArea(int objId) override { views->addToSolvedArea(objId); }
    void removeFromSolvedArea(int objId) override { views->removeFromSolvedArea(objId); }
    void updateSolvedArea() override { views->updateSolvedArea(); }
    void updateWorkingArea(int wgla) override { views->updateWorkingArea(wgla); }
    bool putInWorkingArea(GeometrObj* obj, int wgla) override { return views->putInWorkingArea(obj, wgla); }
    int findWorkingAreaOf(const ObjId& id) override { return views->findWorkingAreaOf(id); }
    ObjId* workingAreaObjectId(int wgla) override { return views->workingAreaObjectId(wgla); }
    void clearConstraintSelection() override { lists().clearConstraintSelection(); }
    void addTreeItems(GeometrObj* obj, ControlWithChildren* parent) override {
        lists().addTreeItems(obj, parent);
    }
    QString dialogFolder() override;

    // The rest of the hub's table
    void showSolvedConstraint(int constraintId) override { views->showSolvedConstraint(constraintId); }
    void updateSolvedErrors() override { views->updateSolvedErrors(); }
    void updateGroupErrors(GeometrObj* group) override { views->updateGroupErrors(group); }
    void cancelAddConstraint() override { picker->cancel(); }
    void setShowError(bool show) override { views->setShowError(show); }
    void replaceInSolvedArea(int oldId, int newId) override;
    void removeTreeHighlightItem(MyTreeWidgetItem* item) override { lists().delHighl(item); }
    void addObjectToGraph(GeometrObj* obj) override { document->graph().addObject(obj); }
    void removeObjectFromGraph(int objId) override { document->graph().removeObject(objId); }
    void decrementHiddenCount() override { document->graph().decrementHiddenCount(); }
    void solveSystem(int level) override { reassembly->driver().solveSystem(level); }
    void addConstraintToSystem(Constraint* c, LiftMap& lift) override {
        reassembly->driver().addConstraintToSystem(c, lift);
    }
    void removeConstraintFromSystem(int constraintId) override {
        reassembly->pairs().removePair(constraintId);
    }
    void resetSolverEntities(int count) override { reassembly->resetEntities(count); }
    void addSolverEntities(int count) override { reassembly->addEntities(count); }
    void removeLastSolverEntity() override { reassembly->removeLastEntity(); }

    // Reads the project at path; only a complete read replaces the open project. Failures show a
    // message box and leave the open project as it was. Returns whether the project was replaced.
    bool openProject(const QString& path);
    // Writes the project to path (the old file is replaced only once the new one is complete).
    bool saveProject(const QString& path);
    // Merges the project at path into the open one, renumbering colliding ids.
    bool importProject(const QString& path);
    bool exportAln(const QString& path);

    TotalGraph* projectGraph() const { return &document->graph(); }
    const SolveDriver& solveDriver() const { return reassembly->driver(); }
    // Ids of the objects the solved area shows.
    const std::set<int>& solvedAreaObjects() const { return views->solvedAreaObjects(); }
    const UserTimeLog& userTimeLog() const { return timeLog; }
    const MainWindowUi& widgets() const { return *ui; }
    ViewCoordinator& viewCoordinator() const { return *views; }
    // The line of the exact marks at the right of the status bar.
    const QLabel& marksLine() const { return *marksLabel; }
    const std::multimap<QString, PickRecord>& pendingPicks() const { return picker->pendingPicks(); }
    ProjectHistory& projectHistory() const { return document->history(); }
    const QString& projectFile() const { return document->file(); }
    // The projects opened or saved last, newest first (files gone since included).
    QStringList recentProjects() const;
    // Asks whether to save unsaved changes: true when the project may go (saved, discarded or
    // unchanged), false when the user cancelled or the save failed.
    bool maySetProjectAside();
    // At start: a recovery file left by a run that did not end cleanly is offered back. Returns
    // whether a project was restored from it.
    bool offerRecovery();
    const RecoveryFile& recoveryFile() const { return document->recoveryFile(); }
    void setRecoveryInterval(int milliseconds) { document->setRecoveryInterval(milliseconds); }

public slots:
    void solve() override;
    void refine() override;
    void chooseOpenProject();
    // "Save Project…": always asks where. Returns whether the project was written.
    bool chooseSaveProject();
    // "Save": to the project's file; asks only when it has none.
    bool saveCurrentProject();
    void chooseImportProject();
    void chooseExportAln();
    void quit();
    void newProject();
    void showKeyboardAndMouse();
    void showAbout();
    void HandlePicking(int nctype, int nstiff) override { picker->start(ConstraintType(nctype), nstiff); }
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
    ListPanelContainer& lists() const;
    void connectComponents();
    void repaintAfterResize();
    void showFileTitle(const QString& path);
    void showMessage(const QString& text, int timeout = 0);
    // The Save dialog, starting at the project's file; empty when cancelled.
    QString askSavePath();
    // The Open dialog for a project file to open or import; empty when cancelled.
    QString askProjectToRead(const QString& caption);
    // A project that could not be opened or imported: which file, and why; one that was read: the
    // meshes that could not be. Returns whether it was read.
    bool reportRead(const QString& path, const ProjectReadReport& report);
    // The user agreed to let the project go: the program ends cleanly.
    void closeProject();
    // A project chosen in "Open Recent".
    void openRecent(const QString& path);
    void buildMenus();

    std::unique_ptr<MainWindowUi> ui;
    std::unique_ptr<ProjectDocument> document;
    std::unique_ptr<ViewCoordinator> views;
    std::unique_ptr<Reassembly> reassembly;
    std::unique_ptr<ConstraintPicker> picker;
    std::unique_ptr<ProjectScreen> projectScreen;
    RecentProjects* recent = nullptr; // child of its menu
    UserTimeLog timeLog;
    UserTimeKey* timeKey = nullptr; // child of the window
    QTimer* resizeSettle = nullptr; // child of the window
    QLabel* marksLabel = nullptr;   // child of the status bar
    bool closing = false;           // the user agreed to let the project go
};
