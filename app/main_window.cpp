#include "main_window.h"

#include "constraint.h"
#include "entity_poses.h"
#include "frag_group.h"
#include "fragment.h"
#include "geometr_obj.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window_ui.h"
#include "mesh_read_progress.h"
#include "mod_constr_panel.h"
#include "panel_gl_area.h"
#include "point_pair_set.h"
#include "project_history.h"
#include "rband.h"
#include "reassembly_solver.h"
#include "save_file_dialog.h"
#include "solve_summary.h"
#include "solved_container.h"
#include "thumbnail_store.h"
#include "total_graph.h"
#include "wa_container.h"
#include "wgl_area.h"

#include "placement_export.h"
#include "project_reader.h"
#include "project_writer.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()) {
    installThumbnailProvider(); // rich text shows "image:" pictures from the thumbnail store
    ui->setupUi(this);

    // Every component gets the graph and the listener only once both exist.
    graph = std::make_unique<TotalGraph>();
    graph->setListener(this);
    ui->solvedGlarea->setGraph(graph.get());
    ui->solvedGlarea->setListener(this);
    solvedArea().setErrorView(&errorView);
    ui->listPans->setGraph(graph.get());
    ui->wacont->setGraph(graph.get());
    ui->wacont->setListener(this);
    ui->listPans->setListener(this);
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        ui->wacont->area(i).setIndex(i);
    // Never so narrow that the areas cannot take what their controls need beside the left column.
    const int areas = std::max(ui->wacont->minimumWidth(), ui->solvedGlarea->minimumSizeHint().width());
    setMinimumWidth(
        std::max(minimumWidth(), ui->listPans->minimumSizeHint().width() + 2 * areas + ColumnGaps));

    connect(ui->loadproj, &QAction::triggered, this, &MainWindow::chooseOpenProject);
    connect(ui->saveproj, &QAction::triggered, this, &MainWindow::chooseSaveProject);
    connect(ui->exit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->newproj, &QAction::triggered, this, [this] {
        if (maySetProjectAside())
            newProject();
    });
    connect(ui->importproj, &QAction::triggered, this, &MainWindow::chooseImportProject);
    connect(ui->exportaln, &QAction::triggered, this, &MainWindow::chooseExportAln);
    connect(ui->wacont, &WAContainer::objectDropped, ui->listPans, &ListPanelContainer::putInWorkingArea);

    poses = std::make_unique<EntityPoses>();
    pairs = std::make_unique<PointPairSet>(*poses);
    poses->reset(0);
    solver = std::make_unique<ReassemblySolver>(*pairs);
    driver = std::make_unique<SolveDriver>(*graph, *poses, *pairs, *solver, solvedLink);
    timeKey = new UserTimeKey(this, timeLog);

    history = new ProjectHistory([this] { return captureState(); },
                                 [this](const ProjectState& s) { return restoreState(s); }, this);
    connect(&history->stack(), &QUndoStack::cleanChanged, this,
            [this](bool clean) { setWindowModified(!clean); });
    resizeSettle = new QTimer(this);
    resizeSettle->setSingleShot(true);
    resizeSettle->setInterval(ResizeSettleMs);
    connect(resizeSettle, &QTimer::timeout, this, &MainWindow::repaintAfterResize);
    recoveryTimer = new QTimer(this);
    recoveryTimer->setSingleShot(true);
    connect(recoveryTimer, &QTimer::timeout, this, &MainWindow::writeRecovery);
    connect(&history->stack(), &QUndoStack::indexChanged, this, &MainWindow::scheduleRecovery);
    connect(&history->stack(), &QUndoStack::cleanChanged, this, &MainWindow::scheduleRecovery);
    buildEditMenu();
    setProjectFile(QString());
}

void MainWindow::buildEditMenu() {
    QUndoStack& stack = history->stack();
    ui->menuEdit = new QMenu(tr("Edit"), ui->menuBar);
    ui->menuEdit->setObjectName(QStringLiteral("menuEdit"));
    ui->menuBar->addMenu(ui->menuEdit); // after "File"
    ui->undo = ui->menuEdit->addAction(tr("Undo"), this, &MainWindow::undo);
    ui->undo->setShortcuts(QKeySequence::Undo);
    ui->redo = ui->menuEdit->addAction(tr("Redo"), this, &MainWindow::redo);
    ui->redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    const auto name = [](QAction* action, const QString& verb) {
        return [action, verb](const QString& step) {
            action->setText(step.isEmpty() ? verb : verb + QLatin1Char(' ') + step);
        };
    };
    connect(&stack, &QUndoStack::undoTextChanged, ui->undo, name(ui->undo, tr("Undo")));
    connect(&stack, &QUndoStack::redoTextChanged, ui->redo, name(ui->redo, tr("Redo")));
    connect(&stack, &QUndoStack::canUndoChanged, ui->undo, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, ui->redo, &QAction::setEnabled);
    ui->undo->setEnabled(false);
    ui->redo->setEnabled(false);
}

MainWindow::~MainWindow() {
    // The steps go first, quietly: the window they would report to is going.
    history->stack().disconnect();
    delete history;
    picks.clear();
    graph->deleteAll();
    // The widgets still hold the graph pointer; they go with the window base, after the graph, but
    // never touch it while being destroyed.
    graph->setListener(nullptr);
    driver.reset();
    poses->clear();
    pairs->clear();
    solver.reset();
    pairs.reset();
    poses.reset();
}

std::vector<int> MainWindow::SolvedAreaLink::shownObjects() const {
    const std::set<int>& shown = window.solvedAreaObjects();
    return {shown.begin(), shown.end()};
}

bool MainWindow::SolvedAreaLink::isShown(int objId) const {
    return window.solvedArea().isShown(objId);
}

PanelGLArea& MainWindow::solvedArea() const {
    return ui->solvedGlarea->area();
}

const std::set<int>& MainWindow::solvedAreaObjects() const {
    return solvedArea().shownObjectIds();
}

void MainWindow::SolvedAreaLink::refitAndRecomputeErrors(float) {
    window.solvedArea().refitBox();
    window.updateSolvedErrors();
}
void MainWindow::SolvedAreaLink::repaintWorkingAreas() {
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        window.updateWorkingArea(i);
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
void MainWindow::clearConstraintSelection() {
    ui->listPans->clearConstraintSelection();
}

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
            solvedArea().removeObject(r->id());
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
    // A constraint being added must not keep a pick on what goes away.
    const bool pickInside = std::any_of(picks.begin(), picks.end(), [obj](const auto& entry) {
        return obj->containsId(entry.second.key.id);
    });
    if (pickInside || (lastPicked && obj->contains(lastPicked)))
        cancelAddConstraint();
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (GeometrObj* shown = ui->wacont->content(i); shown && obj->contains(shown))
            ui->wacont->clearArea(i);
    std::vector<int> ancestors;
    for (GeometrObj* a = obj->parentObject(); a; a = a->parentObject())
        ancestors.push_back(a->id());
    const auto* group = dynamic_cast<const FragGroup*>(obj);
    const bool hadMembers = group && !group->childMap().empty();
    const int rootId = obj->rootId();
    const bool marksChange = hadMembers && (rootId == objId || isInSolvedArea(rootId));
    graph->deleteObject(objId);
    // What lay inside the deleted object no longer marks the others.
    if (marksChange)
        updateSolvedErrors();
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

// --- solved area ---------------------------------------------------------------------------

void MainWindow::addToSolvedArea(int objId) {
    solvedArea().addObject(objId);
}
void MainWindow::removeFromSolvedArea(int objId) {
    solvedArea().removeObject(objId);
    solvedArea().refitBox();
}
void MainWindow::showSolvedConstraint(int constraintId) {
    solvedArea().showConstraint(constraintId);
}
void MainWindow::hideSolvedConstraint(int constraintId) {
    solvedArea().hideConstraint(constraintId);
}
void MainWindow::updateSolvedArea() {
    solvedArea().update();
}
bool MainWindow::isInSolvedArea(int objId) {
    return solvedArea().isShown(objId);
}
void MainWindow::updateSolvedErrors() {
    reportErrorRefusal(solvedArea().updateErrors());
    // The working areas show the same fragments, with the same marks.
    ui->wacont->updateAll();
}
void MainWindow::updateGroupErrors(GeometrObj* group) {
    if (!group)
        return;
    reportErrorRefusal(errorView.update(graph.get(), {group->id()}, tolerance, Smoothing::Off));
    makeThumbnail(group);
}
void MainWindow::reportErrorRefusal(const ErrorReport& report) {
    if (!report.refusal.isEmpty())
        statusBar()->showMessage(report.refusal);
}
void MainWindow::setShowError(bool show) {
    for (int i = 0; i < WAContainer::AreaCount; ++i) {
        ui->wacont->area(i).setShowError(show);
        ui->wacont->area(i).update();
    }
    solvedArea().setShowError(show);
    updateSolvedArea();
}
void MainWindow::makeThumbnail(GeometrObj* obj) {
    if (!obj)
        return;
    thumbnailView.setObject(obj);
    const QImage picture = thumbnailView.render(120, 120);
    thumbnailView.setObject(nullptr);
    if (!picture.isNull())
        storeThumbnail(obj->imageKey(), picture);
}

void MainWindow::replaceInSolvedArea(int oldId, int newId) {
    graph->removeFromSolvedSet(oldId);
    graph->addToSolvedSet(newId);
    solvedArea().removeObject(oldId);
    solvedArea().addObject(newId);
}

void MainWindow::setTolerance(float value) {
    tolerance = value;
    updateSolvedErrors();
    updateSolvedArea();
    ui->wacont->updateAll();
}

// --- solver --------------------------------------------------------------------------------

void MainWindow::solve() {
    // A solve blocks the window until every level is done.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    statusBar()->showMessage(tr("Solving ..."));
    driver->solve();
    // The solve moved the samples: the modify panel shows and keeps the moved points.
    ui->listPans->modifyConstraintPanel()->reload();
    projectChanged(tr("Solve"));
    // Stays until the next action: it is how the user tells whether the Solve did what they meant.
    statusBar()->showMessage(solveSummary(driver->lastReports(), *graph));
    QApplication::restoreOverrideCursor();
}

void MainWindow::solveSystem(int level) {
    driver->solveSystem(level);
}
void MainWindow::addConstraintToSystem(Constraint* c, LiftMap& lift) {
    driver->addConstraintToSystem(c, lift);
}
void MainWindow::removeConstraintFromSystem(int constraintId) {
    pairs->removePair(constraintId);
}
void MainWindow::resetSolverEntities(int count) {
    poses->reset(count);
}
void MainWindow::addSolverEntities(int count) {
    poses->reset(poses->count() + count);
}
void MainWindow::removeLastSolverEntity() {
    poses->reset(poses->count() - 1);
}

// --- adding a constraint by picking --------------------------------------------------------

void MainWindow::addConstraintPick(const ObjId& picked, double x, double y, double z, const ObjId& parent) {
    picks.emplace(parent.key(), PickRecord{parent, const_cast<ObjId*>(&picked), x, y, z});
}

void MainWindow::HandlePicking(int nctype, int nstiff) {
    // Nothing to pick on: no object in either working area nor in the solved area.
    if (!anyAreaToPickIn()) {
        statusBar()->showMessage(tr("Put fragments in the working areas to add a constraint"), 5000);
        return;
    }
    ui->listPans->unfocusSelection();
    pickType = nctype;
    pickStiffness = nstiff;
    if (nctype != 0 && nstiff != 0) {
        picks.clear();
        lastPicked = nullptr;
        pickCount = 0;
        for (int i = 0; i < WAContainer::AreaCount; ++i) {
            WGLArea& area = ui->wacont->area(i);
            if (area.isEmpty())
                continue;
            area.setPickMode(true);
            area.getContent()->setFocused(false);
            area.setConstraintType(nctype);
        }
        solvedArea().setPickMode(true);
        solvedArea().setConstraintType(nctype);
    }
    statusBar()->showMessage(tr("Adding a new constraint, press ESC to cancel"));
}

bool MainWindow::anyAreaToPickIn() const {
    return ui->wacont->content(0) || ui->wacont->content(1) || !solvedArea().isEmpty();
}

void MainWindow::joinConstraintPicks() {
    if (++pickCount < 2) {
        statusBar()->showMessage(tr("Now click the matching point on the other fragment (ESC cancels)"));
        return;
    }
    pickCount = 0;
    // The two picks in key order: the objects holding the picked fragments, and the points.
    std::vector<PickRecord> records;
    for (const auto& [key, record] : picks)
        records.push_back(record);
    picks.clear();
    if (records.size() != 2)
        return;
    GeometrObj* objects[2] = {graph->getObject(records[0].key.id), graph->getObject(records[1].key.id)};
    if (!objects[0] || !objects[1])
        return;
    // Both ends at the same tree level: the deeper one is replaced by its ancestor.
    const int levels[2] = {objects[0]->level(), objects[1]->level()};
    if (levels[0] > levels[1])
        objects[0] = objects[0]->ancestorAtLevel(levels[1]);
    else if (levels[1] > levels[0])
        objects[1] = objects[1]->ancestorAtLevel(levels[0]);
    if (!objects[0] || !objects[1] || objects[0] == objects[1]) {
        // Both points lie in one object: there is nothing to join.
        cancelAddConstraint();
        statusBar()->showMessage(tr("Both points lie in the same object: no constraint was made"), 5000);
        return;
    }
    auto* c = new RBand(graph->nextConstraintId(), &objects[0]->objId(), &objects[1]->objId());
    for (int k = 0; k < 2; ++k)
        c->addPoint(&objects[k]->objId(),
                    Point3d(records[std::size_t(k)].x, records[std::size_t(k)].y, records[std::size_t(k)].z));
    for (int k = 0; k < 2; ++k) {
        GeometrObj* o = objects[k];
        c->setRadius(k, RBand::radiusFor(*o));
        c->addLeafFrag(records[std::size_t(k)].picked);
        o->attachConstraint(c);
        o->setMarked(false);
        ui->wacont->area(k).setPickMode(false);
        updateWorkingArea(k);
    }
    c->setStiffness(pickStiffness);
    addConstraintItem(c);
    showSolvedConstraint(c->id());
    graph->addConstraint(c);
    solvedArea().setPickMode(false);
    updateSolvedArea();
    if (QListWidgetItem* row = ui->listPans->constraintRow(c->id()))
        row->listWidget()->scrollToItem(row);
    statusBar()->showMessage(tr("Added %1 %2 between %3 and %4")
                                 .arg(c->typeName())
                                 .arg(c->id())
                                 .arg(objects[0]->displayName(), objects[1]->displayName()),
                             MessageMs);
    projectChanged(tr("Add Constraint"));
}

void MainWindow::pickMissed(PickMiss why) {
    statusBar()->showMessage(why == PickMiss::SameObject
                                 ? tr("That point lies on the object picked first: click the matching point "
                                      "on the other fragment (ESC cancels)")
                                 : tr("No surface under the click: click on a fragment (ESC cancels)"));
}

void MainWindow::cancelAddConstraint() {
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        ui->wacont->area(i).setPickMode(false);
    solvedArea().setPickMode(false);
    picks.clear();
    pickCount = 0;
    lastPicked = nullptr;
    statusBar()->clearMessage();
}

// --- file commands -------------------------------------------------------------------------

void MainWindow::chooseOpenProject() {
    if (!maySetProjectAside())
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Project"), QDir::currentPath(),
                                                      tr("xml (*.xml);;prproj (*.prproj)"));
    if (!path.isEmpty())
        openProject(path);
}

QString MainWindow::askSavePath() {
    const QString start = projectPath.isEmpty() ? QDir::currentPath() : projectPath;
    return askSaveFileName(this, tr("Save Project"), start, tr("xml (*.xml);; prproj (*.prproj)"));
}

void MainWindow::chooseSaveProject() {
    const QString path = askSavePath();
    if (!path.isEmpty())
        saveProject(path);
}

void MainWindow::chooseImportProject() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Import a project"), QDir::currentPath(),
                                                      tr("xml (*.xml);;prproj (*.prproj)"));
    if (!path.isEmpty())
        importProject(path);
}

void MainWindow::chooseExportAln() {
    const QString path = askSaveFileName(this, tr("Export aln file"), QDir::currentPath(), tr("aln (*.aln)"));
    if (!path.isEmpty())
        exportAln(path);
}

void MainWindow::showFileError(const QString& title, const QString& text, const QString& path,
                               const QString& reason) {
    const QString message =
        path.isEmpty() ? text : tr("%1\n%2: %3").arg(text, QDir::toNativeSeparators(path), reason);
    QMessageBox::critical(this, title, message, QMessageBox::Ok);
}

void MainWindow::showReadError(const QString& path, const ProjectReadReport& report) {
    showFileError(tr("Open project error"),
                  report.status == ProjectReadReport::CannotOpen ? tr("Couldn't open the project")
                                                                 : tr("Badly written project file"),
                  path, report.detail);
}

bool MainWindow::openProject(const QString& path) {
    TotalGraph loaded;
    ProjectReadReport report;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        statusBar()->showMessage(tr("Reading %1 ...").arg(QDir::toNativeSeparators(path)));
        MeshReadProgress progress(this, false);
        report = readProjectFile(path, loaded, nullptr, progress.options());
        statusBar()->clearMessage();
        QApplication::restoreOverrideCursor();
    }
    if (!report.ok()) {
        showReadError(path, report);
        return false;
    }
    replaceProject(loaded);
    startHistory(path);
    warnAboutMissingMeshes(report);
    return true;
}

bool MainWindow::saveProject(const QString& path) {
    // What the panel shows is what is saved.
    if (ui->listPans->modifyConstraintPanel()->hasPendingEdits())
        ui->listPans->modifyConstraintPanel()->apply();
    QString error;
    if (!saveProjectFile(path, *graph, error)) {
        showFileError(tr("Save project error"), tr("Couldn't save the project"), path, error);
        return false;
    }
    history->stack().setClean();
    setProjectFile(path);
    recovery.remove();
    statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(path)), MessageMs);
    return true;
}

bool MainWindow::importProject(const QString& path) {
    TotalGraph imported;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    MeshReadProgress progress(this, false);
    ProjectReadReport report = readProjectFile(path, imported, nullptr, progress.options());
    QApplication::restoreOverrideCursor();
    if (!report.ok()) {
        showReadError(path, report);
        return false;
    }
    std::vector<GeometrObj*> incoming;
    for (const auto& [id, o] : imported.objectTable())
        incoming.push_back(o);
    graph->importGraph(&imported);
    imported.clear();
    for (GeometrObj* o : incoming)
        makeThumbnail(o);
    ui->wacont->updateAll();
    projectChanged(tr("Import"));
    warnAboutMissingMeshes(report);
    return true;
}

bool MainWindow::exportAln(const QString& path) {
    QString error;
    if (!exportAlnFile(path, *graph, error)) {
        showFileError(tr("Export error"),
                      tr("Couldn't write the file %1: %2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    statusBar()->showMessage(
        tr("Wrote the placement of every fragment to %1").arg(QDir::toNativeSeparators(path)), MessageMs);
    return true;
}

void MainWindow::announceProject(bool computeMarks, const std::map<QString, QByteArray>* thumbnails) {
    for (const auto& [id, o] : graph->objectTable()) {
        if (!o->isTopLevel())
            continue;
        if (o->isVisible()) {
            addToSolvedArea(id);
            o->setVisible(true);
        }
        addTreeItems(o, nullptr);
    }
    for (const auto& [id, c] : graph->constraintTable()) {
        showSolvedConstraint(id);
        addConstraintItem(c);
    }
    // A project saved after a solve opens with its interpenetration marks.
    if (computeMarks && !solvedArea().isEmpty())
        updateSolvedErrors();
    for (const auto& [id, o] : graph->objectTable()) {
        // A picture kept from when the object looked the same is put back rather than drawn.
        bool putBack = false;
        if (thumbnails)
            if (const auto kept = thumbnails->find(o->imageKey()); kept != thumbnails->end())
                putBack = storeThumbnailBytes(kept->first, kept->second);
        if (!putBack)
            makeThumbnail(o);
    }
    updateSolvedArea();
    ui->wacont->updateAll();
}

void MainWindow::warnAboutMissingMeshes(const ProjectReadReport& report) {
    if (report.missingMeshes.isEmpty())
        return;
    QStringList folders;
    for (const QString& folder : report.meshFolders)
        folders << QDir::toNativeSeparators(folder);
    QMessageBox::warning(
        this, tr("Missing meshes"),
        tr("These mesh files could not be read; their fragments have no geometry:\n\n%1"
           "\n\nThe meshes were looked for in:\n%2")
            .arg(report.missingMeshes.join(QLatin1Char('\n')), folders.join(QLatin1Char('\n'))));
}

void MainWindow::quit() {
    if (!closing && !maySetProjectAside())
        return;
    closing = true;
    recoveryTimer->stop();
    recovery.remove();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing && !maySetProjectAside()) {
        event->ignore();
        return;
    }
    closing = true;
    recoveryTimer->stop();
    recovery.remove(); // a clean exit
    event->accept();
}

bool MainWindow::maySetProjectAside() {
    if (history->stack().isClean() && !ui->listPans->modifyConstraintPanel()->hasPendingEdits())
        return true;
    const auto answer = QMessageBox::question(this, tr("Ostrakit"), tr("Save changes to the project?"),
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                              QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Save)
        return false;
    const QString path = projectPath.isEmpty() ? askSavePath() : projectPath;
    return !path.isEmpty() && saveProject(path);
}

void MainWindow::resetViews() {
    // A constraint being added belongs to the project that goes.
    cancelAddConstraint();
    pickType = 0;
    solvedArea().clearContent();
    updateSolvedArea();
    pairs->clear();
    poses->clear();
    poses->reset(0);
    ui->listPans->clear();
    ui->wacont->clearAll();
}

void MainWindow::newProject() {
    resetViews();
    graph->deleteAll();
    startHistory(QString());
}

// --- undo and redo -------------------------------------------------------------------------

void MainWindow::projectChanged(const QString& action) {
    // A step holds what was applied: edits still pending in the panel are taken back first.
    ModConstrPanel& panel = *ui->listPans->modifyConstraintPanel();
    if (panel.hasPendingEdits())
        panel.undo();
    history->record(action);
}

void MainWindow::undo() {
    cancelAddConstraint();
    history->stack().undo();
}

void MainWindow::redo() {
    cancelAddConstraint();
    history->stack().redo();
}

void MainWindow::startHistory(const QString& path) {
    history->startOver();
    history->stack().setClean();
    setProjectFile(path);
    recovery.remove();
}

void MainWindow::replaceProject(TotalGraph& loaded) {
    resetViews();
    graph->deleteAll();
    graph->takeOver(loaded);
    announceProject();
}

// --- recovery ------------------------------------------------------------------------------

void MainWindow::scheduleRecovery() {
    if (recoveryTimer->isActive())
        return;
    const qint64 since = sinceRecoveryWrite.isValid() ? sinceRecoveryWrite.elapsed() : recoveryInterval;
    recoveryTimer->start(int(std::max<qint64>(0, recoveryInterval - since)));
}

void MainWindow::writeRecovery() {
    if (closing)
        return;
    // Not in the middle of a long operation: the project may be half changed.
    if (QApplication::overrideCursor()) {
        recoveryTimer->start(1000);
        return;
    }
    sinceRecoveryWrite.start();
    if (history->stack().isClean()) {
        recovery.remove();
        return;
    }
    QString error;
    if (!recovery.write(*graph, projectPath, error))
        statusBar()->showMessage(tr("Couldn't write the recovery file %1: %2")
                                     .arg(QDir::toNativeSeparators(recovery.path()), error),
                                 5000);
}

bool MainWindow::offerRecovery() {
    if (!recovery.exists())
        return false;
    const auto answer = QMessageBox::question(
        this, tr("Ostrakit"),
        tr("Ostrakit ended last time with changes that were not saved. Restore the project as it was?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        recovery.remove();
        return false;
    }
    TotalGraph loaded;
    QString savedAs;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ProjectReadReport report = recovery.read(loaded, savedAs);
    QApplication::restoreOverrideCursor();
    if (!report.ok()) {
        const QString aside = recovery.setAside();
        showFileError(
            tr("Open project error"),
            aside.isEmpty()
                ? tr("The recovery file %1 could not be read.").arg(QDir::toNativeSeparators(recovery.path()))
                : tr("The recovery file could not be read. It was kept as %1.")
                      .arg(QDir::toNativeSeparators(aside)));
        return false;
    }
    replaceProject(loaded);
    history->startOver();
    setProjectFile(savedAs);
    // Not saved anywhere yet: the project is modified until it is.
    history->stack().resetClean();
    warnAboutMissingMeshes(report);
    return true;
}

void MainWindow::setProjectFile(const QString& path) {
    projectPath = path;
    setWindowTitle(path.isEmpty() ? tr("Ostrakit[*]")
                                  : tr("%1[*] - Ostrakit").arg(QFileInfo(path).fileName()));
}

namespace {
// Every fragment of the graph, in the groups that hold them.
std::vector<Fragment*> allFragments(const TotalGraph& graph) {
    std::vector<Fragment*> out;
    for (const auto& [id, o] : graph.objectTable())
        if (const auto* group = dynamic_cast<const FragGroup*>(o))
            for (const auto& [childId, child] : group->childMap())
                if (auto* f = dynamic_cast<Fragment*>(child))
                    out.push_back(f);
    return out;
}
} // namespace

ProjectState MainWindow::captureState() const {
    ProjectState s;
    s.folder = QDir::currentPath();
    s.text = projectFileText(*graph, QDir(s.folder));
    s.meshes = keepMeshes(*graph, QDir(s.folder));
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (const GeometrObj* o = ui->wacont->content(i))
            s.workingAreas[std::size_t(i)] = o->id();
    for (Fragment* f : allFragments(*graph))
        if (MarkRuns runs = markRuns(f->mesh()); !runs.empty())
            s.marks[f->key()] = std::move(runs);
    for (const auto& [id, o] : graph->objectTable())
        if (QByteArray png = thumbnailBytes(thumbnailName(o->imageKey())); !png.isEmpty())
            s.thumbnails[o->imageKey()] = png;
    return s;
}

bool MainWindow::restoreState(const ProjectState& s) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TotalGraph restored;
    const ProjectReadReport report = readProjectText(s.text, restored, QDir(s.folder), &s.meshes);
    if (!report.ok()) {
        // The meshes the failed read took go back to their fragments' places and colours.
        for (Fragment* f : allFragments(*graph)) {
            f->syncPlacement();
            f->setColor(f->getColor());
        }
        QApplication::restoreOverrideCursor();
        showFileError(tr("Undo"), tr("The project could not be put back: %1").arg(report.detail));
        return false;
    }
    resetViews();
    graph->deleteAll();
    graph->takeOver(restored);
    // The marks the state showed, rather than computing them again.
    for (Fragment* f : allFragments(*graph)) {
        const auto it = s.marks.find(f->key());
        applyMarkRuns(f->mesh(), it == s.marks.end() ? MarkRuns() : it->second);
    }
    announceProject(false, &s.thumbnails);
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (const int id = s.workingAreas[std::size_t(i)]; id >= 0 && graph->getObject(id))
            ui->listPans->putInWorkingArea(id, i);
    QApplication::restoreOverrideCursor();
    return true;
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
    // A third of the width for each column. Where the left column's buttons need more than a
    // third, the two areas share what is left, so that no column runs past the window's edge.
    const int third = width() / 3;
    const int listNeeds = ui->listPans->minimumSizeHint().width();
    const int areas = std::min(third, (width() - listNeeds - ColumnGaps) / 2);
    ui->solvedGlarea->setMinimumWidth(areas);
    ui->listPans->setMaximumWidth(std::max(third, listNeeds));
    ui->wacont->setMinimumWidth(areas);
    updateSolvedArea();
    ui->wacont->updateAll();
    update();
    resizeSettle->start();
}

void MainWindow::repaintAfterResize() {
    // The window system takes a moment to give the window its new size; a frame composed before
    // that shows the views' old pictures stretched, until something is drawn again.
    repaintAllViews(this);
    update();
}
