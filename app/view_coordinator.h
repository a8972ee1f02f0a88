#pragma once
// The views as the rest of the window sees them: the solved area (also as the solve driver sees
// it), the working areas, the interpenetration marks with their tolerance, and the thumbnails.
// It also knows what a deletion means for the views.

#include "constraint.h"
#include "error_view.h"
#include "exact_marks.h"
#include "panel_gl_area.h"
#include "prev_gl_area.h"
#include "solve_driver.h"

#include <QObject>
#include <optional>
#include <set>

class GeometrObj;
class PanelGLArea;
class TotalGraph;
struct MainWindowUi;
struct ObjId;

// How the interpenetration marks are found: exactly on the CPU, in the background (the default),
// or by the depth-peeling passes on the GPU.
enum class MarkMethod { Exact, GpuPasses };

class ViewCoordinator : public QObject, public SolvedAreaAccess {
    Q_OBJECT
public:
    // The widgets and the graph are not owned and outlive the coordinator.
    ViewCoordinator(const MainWindowUi& ui, TotalGraph& graph, QObject* parent = nullptr);

    PanelGLArea& solvedArea() const;
    const std::set<int>& solvedAreaObjects() const;
    bool isInSolvedArea(int objId) const;
    void addToSolvedArea(int objId);
    // Also refits the view to what is left.
    void removeFromSolvedArea(int objId);
    void replaceInSolvedArea(int oldId, int newId);
    void showSolvedConstraint(int constraintId);
    void hideSolvedConstraint(int constraintId);
    void updateSolvedArea();
    void updateWorkingArea(int wgla);
    void updateAll();

    // See MainWindow: a group and one of its own members are never shown side by side.
    bool putInWorkingArea(GeometrObj* obj, int wgla);
    int findWorkingAreaOf(const ObjId& id) const;
    ObjId* workingAreaObjectId(int wgla) const;
    // An object in a working area or in the solved area: somewhere to pick.
    bool anyAreaToPickIn() const;
    // Both working areas leave or enter picking; the solved area too.
    void setPickMode(bool picking, ConstraintType type = ConstraintType::None);

    // The marks of the solved area's fragments: exact ones start in the background (a newer
    // request cancels an older one) and are shown when ready; GPU passes are made at once.
    void updateSolvedErrors();
    void updateGroupErrors(GeometrObj* group);
    void setShowError(bool show);
    // The tolerance of the method in use, in its units (model units for exact marks).
    void setTolerance(float value);
    MarkMethod markMethod() const { return method; }
    void setMarkMethod(MarkMethod m);
    // Where the last Refine matched the surfaces, as dots in the solved view while shown; they go
    // when the placement changes (Solve, undo, a new project).
    void setRefineMatches(std::vector<PanelGLArea::Dot> dots);
    void showRefineMatches(bool show);
    // Textured fragments in their texture or in their colour, in every view and thumbnail.
    void showTextures(bool show);
    // The exact marks being computed, if any.
    bool marksPending() const { return exactRunner.isBusy(); }
    ExactMarksRunner& exactMarksRunner() { return exactRunner; }
    void makeThumbnail(GeometrObj* obj) override;

    // Constraint k goes; a root that nothing holds any more goes back where its mesh was read and
    // leaves the solved area. k < 0 only clears the focus of constraint -1 - k.
    void deleteConstraint(int k);
    // The object goes from the graph and from every view; the groups that held it get new
    // thumbnails, and the marks are computed again when what it held marked others.
    void deleteGeometry(int objId);
    // The views show nothing.
    void clear();

    // SolvedAreaAccess
    std::vector<int> shownObjects() const override;
    bool isShown(int objId) const override { return isInSolvedArea(objId); }
    void show(int objId) override { addToSolvedArea(objId); }
    void refitAndRecomputeErrors(float tolerance) override;
    void repaint() override { updateSolvedArea(); }
    void repaintWorkingAreas() override;
    float tolerance() const override;

signals:
    // A message for the status bar (a refused interpenetration computation says why).
    void message(const QString& text);
    // Exact marks were computed and are shown.
    void marksComputed();
    // How the exact marks stand: progress, then the worst pair; a line of its own beside the
    // status bar's messages, so that it never hides what a Solve or a Refine said.
    void marksStatus(const QString& text);

private:
    void reportErrorRefusal(const ErrorReport& report);
    double exactTolerance(const std::vector<int>& ids);
    void showTolerance();
    void startExactMarks();
    void showExactMarks(const std::shared_ptr<const ExactMarksJob>& job,
                        const std::shared_ptr<const InterpenetrationResult>& result);

    const MainWindowUi& ui;
    TotalGraph& graph;
    PrevGLArea thumbnailView; // renders thumbnails off screen; never shown
    ErrorView errorView;      // the interpenetration marks of every view by depth peeling
    ExactMarksRunner exactRunner;
    MarkMethod method = MarkMethod::Exact;
    float peelingTolerance = DefaultTolerance;
    // The exact marks' tolerance the user chose; until then a part of the fragments' size.
    std::optional<double> chosenExactTolerance;
    double lastExactTolerance = 0.0;
    std::vector<PanelGLArea::Dot> refineDots;
    bool refineDotsShown = false;
};
