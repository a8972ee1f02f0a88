#include "view_coordinator.h"

#include "constraint.h"
#include "frag_group.h"
#include "main_window_ui.h"
#include "panel_gl_area.h"
#include "scene_renderer.h"
#include "solved_container.h"
#include "thumbnail_store.h"
#include "tolerance_spinbox_panel.h"
#include "total_graph.h"
#include "wa_container.h"
#include "wgl_area.h"

ViewCoordinator::ViewCoordinator(const MainWindowUi& ui, TotalGraph& graph, QObject* parent)
    : QObject(parent), ui(ui), graph(graph) {
    solvedArea().setErrorView(&errorView);
    connect(&exactRunner, &ExactMarksRunner::progress, this, [this](double fraction) {
        emit marksStatus(tr("Interpenetration: %1 % computed…").arg(int(fraction * 100.0)));
    });
    connect(&exactRunner, &ExactMarksRunner::finished, this, &ViewCoordinator::showExactMarks);
    showTolerance();
}

PanelGLArea& ViewCoordinator::solvedArea() const {
    return ui.solvedGlarea->area();
}
const std::set<int>& ViewCoordinator::solvedAreaObjects() const {
    return solvedArea().shownObjectIds();
}
bool ViewCoordinator::isInSolvedArea(int objId) const {
    return solvedArea().isShown(objId);
}
void ViewCoordinator::addToSolvedArea(int objId) {
    solvedArea().addObject(objId);
}
void ViewCoordinator::removeFromSolvedArea(int objId) {
    solvedArea().removeObject(objId);
    solvedArea().refitBox();
}
void ViewCoordinator::replaceInSolvedArea(int oldId, int newId) {
    solvedArea().removeObject(oldId);
    solvedArea().addObject(newId);
}
void ViewCoordinator::showSolvedConstraint(int constraintId) {
    solvedArea().showConstraint(constraintId);
}
void ViewCoordinator::hideSolvedConstraint(int constraintId) {
    solvedArea().hideConstraint(constraintId);
}
void ViewCoordinator::updateSolvedArea() {
    solvedArea().update();
}
void ViewCoordinator::updateWorkingArea(int wgla) {
    if (wgla >= 0 && wgla < WAContainer::AreaCount)
        ui.wacont->repaintArea(wgla);
}
void ViewCoordinator::updateAll() {
    ui.wacont->updateAll();
}

bool ViewCoordinator::putInWorkingArea(GeometrObj* obj, int wgla) {
    if (wgla < 0 || wgla >= WAContainer::AreaCount || !obj)
        return false;
    if (ui.wacont->content(wgla) == obj)
        return false;
    const GeometrObj* other = ui.wacont->content((wgla + 1) % 2);
    if (other && other->id() == obj->rootId())
        return false;
    ui.wacont->setContent(wgla, obj);
    updateWorkingArea(wgla);
    return true;
}

int ViewCoordinator::findWorkingAreaOf(const ObjId& id) const {
    int found = -1;
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (GeometrObj* shown = ui.wacont->content(i); shown && &shown->objId() == &id)
            found = i;
    return found;
}

ObjId* ViewCoordinator::workingAreaObjectId(int wgla) const {
    if (wgla < 0 || wgla >= WAContainer::AreaCount)
        return nullptr;
    GeometrObj* shown = ui.wacont->content(wgla);
    return shown ? &shown->objId() : nullptr;
}

bool ViewCoordinator::anyAreaToPickIn() const {
    return ui.wacont->content(0) || ui.wacont->content(1) || !solvedArea().isEmpty();
}

void ViewCoordinator::setPickMode(bool picking, ConstraintType type) {
    for (int i = 0; i < WAContainer::AreaCount; ++i) {
        WGLArea& area = ui.wacont->area(i);
        if (!picking) {
            area.setPickMode(false);
            continue;
        }
        if (area.isEmpty())
            continue;
        area.setPickMode(true);
        area.getContent()->setFocused(false);
        area.setConstraintType(type);
    }
    solvedArea().setPickMode(picking);
    if (picking)
        solvedArea().setConstraintType(type);
}

void ViewCoordinator::updateSolvedErrors() {
    if (method == MarkMethod::Exact) {
        startExactMarks();
        return;
    }
    reportErrorRefusal(solvedArea().updateErrors());
    // The working areas show the same fragments, with the same marks.
    updateAll();
}

double ViewCoordinator::exactTolerance(const std::vector<int>& ids) {
    if (chosenExactTolerance)
        return *chosenExactTolerance;
    return defaultContactTolerance(fragmentsDiagonal(&graph, ids));
}

void ViewCoordinator::showTolerance() {
    ToleranceSpinboxPanel& panel = ui.solvedGlarea->tolerancePanel();
    if (method == MarkMethod::Exact)
        panel.showTolerance(lastExactTolerance, ToleranceSpinboxPanel::Units::Model);
    else
        panel.showTolerance(peelingTolerance, ToleranceSpinboxPanel::Units::WindowDepth);
}

void ViewCoordinator::startExactMarks() {
    const std::vector<int> ids = shownObjects();
    lastExactTolerance = exactTolerance(ids);
    showTolerance();
    if (ids.empty()) {
        exactRunner.cancel();
        solvedArea().setToolTip(QString());
        emit marksStatus(QString());
        return;
    }
    exactRunner.start(prepareExactMarks(&graph, ids, lastExactTolerance));
    emit marksStatus(tr("Interpenetration: computing…"));
}

void ViewCoordinator::showExactMarks(const std::shared_ptr<const ExactMarksJob>& job,
                                     const std::shared_ptr<const InterpenetrationResult>& result) {
    applyExactMarks(&graph, *job, *result);
    const QStringList lines = overlapLines(*job, *result, 12);
    solvedArea().setToolTip(lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')));
    emit marksStatus(interpenetrationSummary(*job, *result));
    updateSolvedArea();
    updateAll();
    emit marksComputed();
}

void ViewCoordinator::updateGroupErrors(GeometrObj* group) {
    if (!group)
        return;
    if (method == MarkMethod::Exact)
        computeExactMarksNow(&graph, {group->id()}, exactTolerance({group->id()}));
    else
        reportErrorRefusal(errorView.update(&graph, {group->id()}, peelingTolerance, Smoothing::Off));
    makeThumbnail(group);
}

void ViewCoordinator::setMarkMethod(MarkMethod m) {
    if (m == method)
        return;
    exactRunner.cancel();
    emit marksStatus(QString());
    method = m;
    showTolerance();
    updateSolvedErrors();
    updateSolvedArea();
    updateAll();
}

float ViewCoordinator::tolerance() const {
    return method == MarkMethod::Exact ? float(lastExactTolerance) : peelingTolerance;
}

void ViewCoordinator::reportErrorRefusal(const ErrorReport& report) {
    if (!report.refusal.isEmpty())
        emit message(report.refusal);
}

void ViewCoordinator::setShowError(bool show) {
    for (int i = 0; i < WAContainer::AreaCount; ++i) {
        ui.wacont->area(i).setShowError(show);
        ui.wacont->area(i).update();
    }
    solvedArea().setShowError(show);
    updateSolvedArea();
}

void ViewCoordinator::setTolerance(float value) {
    if (method == MarkMethod::Exact)
        chosenExactTolerance = double(value);
    else
        peelingTolerance = value;
    updateSolvedErrors();
    updateSolvedArea();
    updateAll();
}

void ViewCoordinator::makeThumbnail(GeometrObj* obj) {
    if (!obj)
        return;
    thumbnailView.setObject(obj);
    const QImage picture = thumbnailView.render(120, 120);
    thumbnailView.setObject(nullptr);
    if (!picture.isNull())
        storeThumbnail(obj->imageKey(), picture);
}

void ViewCoordinator::deleteConstraint(int k) {
    if (k < 0) {
        if (Constraint* c = graph.getConstraint(-1 - k))
            c->setFocused(false);
        return;
    }
    Constraint* c = graph.getConstraint(k);
    if (!c)
        return;
    GeometrObj* joined[2] = {graph.getObject(c->frag(0)->id), graph.getObject(c->frag(1)->id)};
    graph.removeConstraint(k);
    hideSolvedConstraint(k);
    updateSolvedArea();
    for (int j = 0; j < 2; ++j) {
        GeometrObj* r = joined[j] ? graph.getObject(joined[j]->rootId()) : nullptr;
        if (r && !r->hasConstraintsDeep() && r->isVisible()) {
            // Nothing holds the root in place any more: it goes back where its mesh was read.
            r->setVisible(false);
            updateGroupErrors(r);
            const Matrix44d back = r->getInverseMatrix();
            r->applyTransform(&back);
            solvedArea().removeObject(r->id());
            updateSolvedErrors();
            updateSolvedArea();
        }
        updateWorkingArea(j);
    }
}

void ViewCoordinator::deleteGeometry(int objId) {
    GeometrObj* obj = graph.getObject(objId);
    if (!obj)
        return;
    if (isInSolvedArea(objId))
        removeFromSolvedArea(objId);
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (GeometrObj* shown = ui.wacont->content(i); shown && obj->contains(shown))
            ui.wacont->clearArea(i);
    std::vector<int> ancestors;
    for (GeometrObj* a = obj->parentObject(); a; a = a->parentObject())
        ancestors.push_back(a->id());
    const auto* group = dynamic_cast<const FragGroup*>(obj);
    const bool hadMembers = group && !group->childMap().empty();
    const int rootId = obj->rootId();
    const bool marksChange = hadMembers && (rootId == objId || isInSolvedArea(rootId));
    graph.deleteObject(objId);
    // What lay inside the deleted object no longer marks the others.
    if (marksChange)
        updateSolvedErrors();
    // Thumbnails of the groups that held the object show their new contents.
    for (int id : ancestors)
        if (GeometrObj* a = graph.getObject(id))
            makeThumbnail(a);
    updateAll();
}

void ViewCoordinator::setRefineMatches(std::vector<PanelGLArea::Dot> dots) {
    refineDots = std::move(dots);
    showRefineMatches(refineDotsShown);
}

void ViewCoordinator::showRefineMatches(bool show) {
    refineDotsShown = show;
    solvedArea().setDots(show ? refineDots : std::vector<PanelGLArea::Dot>{});
}

void ViewCoordinator::showTextures(bool show) {
    if (texturesShown() == show)
        return;
    setTexturesShown(show);
    for (const auto& [id, object] : graph.objectTable())
        makeThumbnail(object);
    updateSolvedArea();
    updateAll();
}

void ViewCoordinator::clear() {
    // Marks computed for what was shown would land on the next project.
    exactRunner.cancel();
    emit marksStatus(QString());
    setRefineMatches({});
    solvedArea().setToolTip(QString());
    solvedArea().clearContent();
    updateSolvedArea();
    ui.wacont->clearAll();
}

std::vector<int> ViewCoordinator::shownObjects() const {
    const std::set<int>& shown = solvedAreaObjects();
    return {shown.begin(), shown.end()};
}

void ViewCoordinator::refitAndRecomputeErrors(float) {
    // The pieces moved: where a Refine matched them no longer holds.
    setRefineMatches({});
    solvedArea().refitBox();
    updateSolvedErrors();
}

void ViewCoordinator::repaintWorkingAreas() {
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        updateWorkingArea(i);
}
