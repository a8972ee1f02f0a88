#include "main_window.h"

#include "constraint.h"
#include "geometr_obj.h"
#include "list_panel_container.h"
#include "main_window_ui.h"
#include "solved_container.h"
#include "total_graph.h"
#include "wa_container.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QStatusBar>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()) {
    ui->setupUi(this);

    // Every component gets the graph and the listener only once both exist.
    graph = std::make_unique<TotalGraph>();
    graph->setListener(this);
    ui->solvedGlarea->setGraph(graph.get());
    ui->solvedGlarea->setListener(this);
    ui->listPans->setGraph(graph.get());
    ui->wacont->setGraph(graph.get());
    ui->wacont->setListener(this);
    ui->listPans->setListener(this);

    connect(ui->loadproj, &QAction::triggered, this, &MainWindow::chooseOpenProject);
    connect(ui->saveproj, &QAction::triggered, this, &MainWindow::chooseSaveProject);
    connect(ui->exit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->newproj, &QAction::triggered, this, &MainWindow::newProject);
    connect(ui->importproj, &QAction::triggered, this, &MainWindow::chooseImportProject);
    connect(ui->exportaln, &QAction::triggered, this, &MainWindow::chooseExportAln);
}

MainWindow::~MainWindow() {
    picks.clear();
    graph->deleteAll();
    // The widgets still hold the graph pointer; they go with the window base, after the graph, but
    // never touch it while being destroyed.
    graph->setListener(nullptr);
}

// --- constraints and the lists -------------------------------------------------------------

void MainWindow::addConstraintItem(Constraint* c) {
    ui->listPans->addConstraintItem(c);
}
void MainWindow::updateConstraintText(int constraintId) {
    ui->listPans->UpdateConstraintText(constraintId);
}
void MainWindow::removeConstraintItem(int constraintId) {
    ui->listPans->removeConstraintItem(constraintId);
}
void MainWindow::addTreeItems(GeometrObj* obj, ControlWithChildren* parent) {
    ui->listPans->addTreeItems(obj, parent);
}
void MainWindow::removeTreeHighlight(int wgla, bool rhigl) {
    ui->listPans->delHighl(wgla, rhigl);
}
void MainWindow::removeTreeHighlightItem(MyTreeWidgetItem* item) {
    ui->listPans->delHighl(item);
}
void MainWindow::clearConstraintSelection() {}

void MainWindow::deleteConstraint(int k) {
    if (k < 0) {
        if (Constraint* c = graph->getConstraint(-1 - k))
            c->setFocused(false);
        return;
    }
    Constraint* c = graph->getConstraint(k);
    if (!c)
        return;
    GeometrObj* joined[2] = {graph->getObject(c->frag(0)->id), graph->getObject(c->frag(1)->id)};
    graph->removeConstraint(k);
    hideSolvedConstraint(k);
    updateSolvedArea();
    for (int j = 0; j < 2; ++j) {
        GeometrObj* r = joined[j] ? graph->getObject(joined[j]->rootId()) : nullptr;
        if (r && !r->hasConstraintsDeep() && r->isVisible()) {
            // Nothing holds the root in place any more: it goes back where its mesh was read.
            r->setVisible(false);
            updateGroupErrors(r);
            const Matrix44d back = r->getInverseMatrix();
            r->applyTransform(&back);
            updateSolvedErrors();
            updateSolvedArea();
        }
        updateWorkingArea(j);
    }
}

// --- geometry ------------------------------------------------------------------------------

void MainWindow::deleteGeometry(int objId) {
    GeometrObj* obj = graph->getObject(objId);
    if (!obj)
        return;
    if (isInSolvedArea(objId))
        removeFromSolvedArea(objId);
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (GeometrObj* shown = ui->wacont->content(i); shown && obj->contains(shown))
            ui->wacont->clearArea(i);
    std::vector<int> ancestors;
    for (GeometrObj* a = obj->parentObject(); a; a = a->parentObject())
        ancestors.push_back(a->id());
    graph->deleteObject(objId);
    // Thumbnails of the groups that held the object show their new contents.
    for (int id : ancestors)
        if (GeometrObj* a = graph->getObject(id))
            makeThumbnail(a);
    ui->wacont->updateAll();
}

bool MainWindow::putInWorkingArea(GeometrObj* obj, int wgla) {
    if (wgla < 0 || wgla >= WAContainer::AreaCount || !obj)
        return false;
    if (ui->wacont->content(wgla) == obj)
        return false;
    // A group and one of its own members are never shown side by side.
    const GeometrObj* other = ui->wacont->content((wgla + 1) % 2);
    if (other && other->id() == obj->rootId())
        return false;
    ui->wacont->setContent(wgla, obj);
    updateWorkingArea(wgla);
    return true;
}

int MainWindow::findWorkingAreaOf(const ObjId& id) {
    int found = -1;
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (GeometrObj* shown = ui->wacont->content(i); shown && &shown->objId() == &id)
            found = i;
    return found;
}

ObjId* MainWindow::workingAreaObjectId(int wgla) {
    if (wgla < 0 || wgla >= WAContainer::AreaCount)
        return nullptr;
    GeometrObj* shown = ui->wacont->content(wgla);
    return shown ? &shown->objId() : nullptr;
}

void MainWindow::updateWorkingArea(int wgla) {
    if (wgla >= 0 && wgla < WAContainer::AreaCount)
        ui->wacont->repaintArea(wgla);
}

void MainWindow::addObjectToGraph(GeometrObj* obj) {
    graph->addObject(obj);
}
Color4b MainWindow::objectColour(const ObjId& id) {
    return graph->objectColor(id);
}
void MainWindow::removeObjectFromGraph(int objId) {
    graph->removeObject(objId);
}
BaseGraph* MainWindow::getGraph() {
    return graph.get();
}
void MainWindow::decrementHiddenCount() {
    graph->decrementHiddenCount();
}

// --- solved area (the 3D solved view comes with its own component) ------------------------

void MainWindow::addToSolvedArea(int) {}
void MainWindow::removeFromSolvedArea(int) {}
void MainWindow::showSolvedConstraint(int) {}
void MainWindow::hideSolvedConstraint(int) {}
void MainWindow::updateSolvedArea() {
    ui->solvedGlarea->update();
}
bool MainWindow::isInSolvedArea(int) {
    return false;
}
void MainWindow::updateSolvedErrors() {}
void MainWindow::updateGroupErrors(GeometrObj*) {}
void MainWindow::setShowError(bool) {}
void MainWindow::makeThumbnail(GeometrObj*) {}

void MainWindow::replaceInSolvedArea(int oldId, int newId) {
    graph->removeFromSolvedSet(oldId);
    graph->addToSolvedSet(newId);
    removeFromSolvedArea(oldId);
    addToSolvedArea(newId);
}

void MainWindow::setTolerance(float value) {
    tolerance = value;
    updateSolvedErrors();
    updateSolvedArea();
    ui->wacont->updateAll();
}

// --- solver --------------------------------------------------------------------------------

void MainWindow::solve() {
    solveSystem(graph->maxLevel());
}
void MainWindow::solveSystem(int) {}
void MainWindow::addConstraintToSystem(Constraint*, LiftMap&) {}
void MainWindow::removeConstraintFromSystem(int) {}
void MainWindow::resetSolverEntities(int) {}
void MainWindow::addSolverEntities(int) {}
void MainWindow::removeLastSolverEntity() {}

// --- adding a constraint by picking --------------------------------------------------------

void MainWindow::addConstraintPick(const ObjId& picked, double x, double y, double z, const ObjId& parent) {
    picks.emplace(parent.key(), PickRecord{parent, const_cast<ObjId*>(&picked), x, y, z});
}

void MainWindow::joinConstraintPicks() {}

void MainWindow::HandlePicking(int nctype, int nstiff) {
    pickType = nctype;
    pickStiffness = nstiff;
}

void MainWindow::cancelAddConstraint() {
    picks.clear();
    pickCount = 0;
    lastPicked = nullptr;
    statusBar()->clearMessage();
}

// --- file commands -------------------------------------------------------------------------

void MainWindow::chooseOpenProject() {}
void MainWindow::chooseSaveProject() {}
void MainWindow::chooseImportProject() {}
void MainWindow::chooseExportAln() {}

void MainWindow::quit() {
    QCoreApplication::quit();
}

void MainWindow::newProject() {
    updateSolvedArea();
    ui->listPans->clear();
    ui->wacont->clearAll();
    picks.clear();
    pickType = 0;
    pickCount = 0;
    lastPicked = nullptr;
    graph->deleteAll();
}

// --- events --------------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancelAddConstraint();
        ui->listPans->unfocusSelection();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int third = width() / 3;
    ui->solvedGlarea->setMinimumWidth(third);
    ui->listPans->setMaximumWidth(third);
    ui->wacont->setMinimumWidth(third);
    updateSolvedArea();
    ui->wacont->updateAll();
    update();
}
