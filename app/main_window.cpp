#include "main_window.h"

#include "busy_cursor.h"
#include "dialog_folder.h"
#include "file_messages.h"
#include "geometr_obj.h"
#include "help_dialogs.h"
#include "main_window_ui.h"
#include "mesh_read_progress.h"
#include "panel_gl_area.h"
#include "refine_command.h"
#include "save_file_dialog.h"
#include "solve_diagnosis.h"
#include "solve_summary.h"
#include "solved_container.h"
#include "status_times.h"
#include "thumbnail_store.h"
#include "wa_container.h"
#include "wgl_area.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

namespace {
// Pixels of the status bar the interpenetration line may take.
constexpr int MarksLineWidth = 460;
const char* const ProjectFilter = QT_TRANSLATE_NOOP("MainWindow", "xml (*.xml);;prproj (*.prproj)");
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()) {
    installThumbnailProvider(); // rich text shows "image:" pictures from the thumbnail store
    ui->setupUi(this);
    // Every component gets the graph and the listener only once both exist.
    document = std::make_unique<ProjectDocument>();
    TotalGraph& graph = document->graph();
    views = std::make_unique<ViewCoordinator>(*ui, graph);
    reassembly = std::make_unique<Reassembly>(graph, *views);
    picker = std::make_unique<ConstraintPicker>(graph, *views, *ui->listPans);
    projectScreen = std::make_unique<ProjectScreen>(*ui, graph, *views, *picker, *reassembly);
    document->setViews(*projectScreen);
    graph.setListener(this);
    ui->solvedGlarea->setGraph(&graph);
    ui->solvedGlarea->setListener(this);
    ui->listPans->setGraph(&graph);
    ui->wacont->setGraph(&graph);
    ui->wacont->setListener(this);
    ui->listPans->setListener(this);
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        ui->wacont->area(i).setIndex(i);
    // Never so narrow that the areas cannot take what their controls need beside the left column.
    const int areas = std::max(ui->wacont->minimumWidth(), ui->solvedGlarea->minimumSizeHint().width());
    setMinimumWidth(
        std::max(minimumWidth(), ui->listPans->minimumSizeHint().width() + 2 * areas + ColumnGaps));
    timeKey = new UserTimeKey(this, timeLog);
    resizeSettle = new QTimer(this);
    resizeSettle->setSingleShot(true);
    resizeSettle->setInterval(ResizeSettleMs);
    connectComponents();
    buildMenus();
    showFileTitle(QString());
}

void MainWindow::buildMenus() {
    ui->buildEditMenu(document->history().stack());
    ui->buildViewMenu();
    ui->buildToolsMenu();
    ui->buildHelpMenu();
    recent = new RecentProjects(*ui->menuRecent);
    connect(recent, &RecentProjects::chosen, this, &MainWindow::openRecent);
    connect(ui->keysHelp, &QAction::triggered, this, &MainWindow::showKeyboardAndMouse);
    connect(ui->about, &QAction::triggered, this, &MainWindow::showAbout);
    connect(ui->showMatches, &QAction::toggled, this, [this](bool on) { views->showRefineMatches(on); });
    connect(ui->showTextures, &QAction::toggled, this, [this](bool on) { views->showTextures(on); });
    connect(ui->solveAction, &QAction::triggered, this, &MainWindow::solve);
    connect(ui->refineAction, &QAction::triggered, this, &MainWindow::refine);
    connect(ui->markExact, &QAction::triggered, this, [this] { views->setMarkMethod(MarkMethod::Exact); });
    connect(ui->markPeeling, &QAction::triggered, this,
            [this] { views->setMarkMethod(MarkMethod::GpuPasses); });
    connect(ui->undo, &QAction::triggered, this, &MainWindow::undo);
    connect(ui->redo, &QAction::triggered, this, &MainWindow::redo);
}

void MainWindow::connectComponents() {
    // A message longer than the status bar stays readable whole in its tool tip.
    connect(statusBar(), &QStatusBar::messageChanged, statusBar(), &QWidget::setToolTip);
    connect(ui->loadproj, &QAction::triggered, this, &MainWindow::chooseOpenProject);
    connect(ui->saveproj, &QAction::triggered, this, &MainWindow::saveCurrentProject);
    connect(ui->saveprojas, &QAction::triggered, this, &MainWindow::chooseSaveProject);
    connect(ui->exit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->newproj, &QAction::triggered, this, [this] {
        if (maySetProjectAside())
            newProject();
    });
    connect(ui->importproj, &QAction::triggered, this, &MainWindow::chooseImportProject);
    connect(ui->exportaln, &QAction::triggered, this, &MainWindow::chooseExportAln);
    connect(ui->wacont, &WAContainer::objectDropped, ui->listPans, &ListPanelContainer::putInWorkingArea);
    connect(resizeSettle, &QTimer::timeout, this, &MainWindow::repaintAfterResize);
    connect(&document->history().stack(), &QUndoStack::cleanChanged, this,
            [this](bool clean) { setWindowModified(!clean); });
    connect(document.get(), &ProjectDocument::fileChanged, this, &MainWindow::showFileTitle);
    connect(document.get(), &ProjectDocument::recoveryFailed, this,
            [this](const QString& text) { showMessage(text, 5000); });
    connect(document.get(), &ProjectDocument::stepFailed, this, [this](const QString& detail) {
        showFileError(this, tr("Undo"), tr("The project could not be put back: %1").arg(detail));
    });
    connect(views.get(), &ViewCoordinator::message, this, [this](const QString& text) { showMessage(text); });
    // The marks' line takes at most part of the status bar, leaving the rest to the messages; a
    // longer line is cut, and whole in its tool tip.
    marksLabel = new QLabel(statusBar());
    statusBar()->addPermanentWidget(marksLabel);
    connect(views.get(), &ViewCoordinator::marksStatus, this, [this](const QString& text) {
        marksLabel->setText(marksLabel->fontMetrics().elidedText(text, Qt::ElideRight, MarksLineWidth));
        marksLabel->setToolTip(text);
    });
    // Marks that arrive after the change was recorded belong to that change's step.
    connect(views.get(), &ViewCoordinator::marksComputed, this,
            [this] { document->history().refreshMarks(); });
    connect(picker.get(), &ConstraintPicker::message, this, &MainWindow::showMessage);
    connect(picker.get(), &ConstraintPicker::constraintAdded, this,
            [this] { projectChanged(tr("Add Constraint")); });
}

ListPanelContainer& MainWindow::lists() const {
    return *ui->listPans;
}

MainWindow::~MainWindow() {
    // The project goes while the views it is drawn in still exist; the widgets still hold the
    // graph pointer but never touch it while being destroyed.
    document.reset();
    projectScreen.reset();
    picker.reset();
    reassembly.reset();
    views.reset();
}

void MainWindow::deleteGeometry(int objId) {
    // A constraint being added must not keep a pick on what goes away.
    if (GeometrObj* obj = document->graph().getObject(objId); obj && picker->holdsPickIn(obj))
        picker->cancel();
    views->deleteGeometry(objId);
}

void MainWindow::replaceInSolvedArea(int oldId, int newId) {
    SolvedSlots& solved = reassembly->driver().solvedSlots();
    solved.remove(oldId);
    solved.add(newId);
    views->replaceInSolvedArea(oldId, newId);
}

void MainWindow::solve() {
    {
        // A solve blocks the window until every level is done.
        BusyCursor busy;
        showMessage(tr("Solving ..."));
        reassembly->driver().solve();
        // The solve moved the samples: the modify panel shows and keeps the moved points.
        ui->listPans->reloadShownConstraint();
        ui->listPans->markMisfitConstraints();
        projectChanged(tr("Solve"));
    }
    // Stays until the next action: it is how the user tells whether the Solve did what they meant.
    const std::vector<SolveLevelReport>& reports = reassembly->driver().lastReports();
    const QStringList said =
        QStringList{solveSummary(reports, document->graph())} + solveDiagnosis(reports, document->graph());
    showMessage(said.join(QLatin1Char(' ')));
}

void MainWindow::refine() {
    TotalGraph& graph = document->graph();
    const RefineJob job = prepareRefine(graph, views->shownObjects());
    if (job.stages.empty()) {
        showMessage(refineReport(job, {}, 0).join(QStringLiteral(". ")) + QLatin1Char('.'));
        return;
    }
    const RefineOutcome outcome = runRefineWithProgress(this, job);
    if (outcome.cancelled) {
        showMessage(tr("Refine cancelled: nothing moved"));
        return;
    }
    const int moved = applyRefine(graph, job, outcome);
    ui->listPans->reloadShownConstraint();
    ui->listPans->markMisfitConstraints();
    for (const RefineStage& s : job.stages)
        for (int id : s.objects)
            if (GeometrObj* o = graph.getObject(id))
                views->makeThumbnail(o);
    views->refitAndRecomputeErrors(views->tolerance());
    views->setRefineMatches(matchDots(outcome, job.contactDistance));
    views->updateSolvedArea();
    views->updateAll();
    projectChanged(tr("Refine"));
    showMessage(refineReport(job, outcome, moved).join(QStringLiteral(". ")) + QLatin1Char('.'));
}

// --- file commands -------------------------------------------------------------------------

void MainWindow::chooseOpenProject() {
    if (!maySetProjectAside())
        return;
    if (const QString path = askProjectToRead(tr("Open Project")); !path.isEmpty())
        openProject(path);
}

QString MainWindow::dialogFolder() {
    return dialogStartFolder(projectFile());
}

QStringList MainWindow::recentProjects() const {
    return recent->paths();
}

QString MainWindow::askProjectToRead(const QString& caption) {
    const QString path = QFileDialog::getOpenFileName(this, caption, dialogFolder(), tr(ProjectFilter));
    rememberDialogChoice(path);
    return path;
}

QString MainWindow::askSavePath() {
    const QString start = projectFile().isEmpty() ? dialogFolder() : projectFile();
    const QString path =
        askSaveFileName(this, tr("Save Project"), start, tr("xml (*.xml);; prproj (*.prproj)"));
    rememberDialogChoice(path);
    return path;
}

bool MainWindow::chooseSaveProject() {
    const QString path = askSavePath();
    return !path.isEmpty() && saveProject(path);
}

bool MainWindow::saveCurrentProject() {
    return projectFile().isEmpty() ? chooseSaveProject() : saveProject(projectFile());
}

void MainWindow::openRecent(const QString& path) {
    if (maySetProjectAside())
        openProject(path);
}

void MainWindow::chooseImportProject() {
    if (const QString path = askProjectToRead(tr("Import a project")); !path.isEmpty())
        importProject(path);
}

void MainWindow::chooseExportAln() {
    const QString path = askSaveFileName(this, tr("Export aln file"), dialogFolder(), tr("aln (*.aln)"));
    rememberDialogChoice(path);
    if (!path.isEmpty())
        exportAln(path);
}

bool MainWindow::reportRead(const QString& path, const ProjectReadReport& report) {
    if (!report.ok()) {
        showFileError(this, tr("Open project error"),
                      report.status == ProjectReadReport::CannotOpen ? tr("Couldn't open the project")
                                                                     : tr("Badly written project file"),
                      path, report.detail);
        return false;
    }
    warnAboutMissingMeshes(this, report);
    return true;
}

bool MainWindow::openProject(const QString& path) {
    ProjectReadReport report;
    {
        showMessage(tr("Reading %1 ...").arg(QDir::toNativeSeparators(path)));
        MeshReadProgress progress(this, false);
        report = document->open(path, progress.options());
        statusBar()->clearMessage();
    }
    if (report.ok())
        recent->add(path);
    return reportRead(path, report);
}

bool MainWindow::saveProject(const QString& path) {
    if (QString error; !document->save(path, error)) {
        showFileError(this, tr("Save project error"), tr("Couldn't save the project"), path, error);
        return false;
    }
    recent->add(path);
    showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(path)), FinishedActionMs);
    return true;
}

bool MainWindow::importProject(const QString& path) {
    ProjectReadReport report;
    {
        MeshReadProgress progress(this, false);
        report = document->import(path, progress.options());
    }
    return reportRead(path, report);
}

bool MainWindow::exportAln(const QString& path) {
    if (QString error; !document->exportAln(path, error)) {
        showFileError(this, tr("Export error"),
                      tr("Couldn't write the file %1: %2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    showMessage(tr("Wrote the placement of every fragment to %1").arg(QDir::toNativeSeparators(path)),
                FinishedActionMs);
    return true;
}

bool MainWindow::maySetProjectAside() {
    if (!document->isModified())
        return true;
    const auto answer = QMessageBox::question(this, tr("Ostrakit"), tr("Save changes to the project?"),
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                              QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    return answer == QMessageBox::Save && saveCurrentProject();
}

bool MainWindow::offerRecovery() {
    if (!document->hasRecovery())
        return false;
    const auto answer = QMessageBox::question(
        this, tr("Ostrakit"),
        tr("Ostrakit ended last time with changes that were not saved. Restore the project as it was?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        document->discardRecovery();
        return false;
    }
    QString aside;
    const ProjectReadReport report = document->restoreRecovery(aside);
    if (!report.ok()) {
        const QString kept = QDir::toNativeSeparators(aside.isEmpty() ? recoveryFile().path() : aside);
        showFileError(this, tr("Open project error"),
                      aside.isEmpty()
                          ? tr("The recovery file %1 could not be read.").arg(kept)
                          : tr("The recovery file could not be read. It was kept as %1.").arg(kept));
        return false;
    }
    warnAboutMissingMeshes(this, report);
    return true;
}

void MainWindow::quit() {
    if (!closing && !maySetProjectAside())
        return;
    closeProject();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing && !maySetProjectAside()) {
        event->ignore();
        return;
    }
    closeProject();
    event->accept();
}

void MainWindow::closeProject() {
    closing = true;
    document->close();
}

void MainWindow::newProject() {
    document->startNew();
}

void MainWindow::showKeyboardAndMouse() {
    // Keys the window reads itself rather than through an action.
    const QList<HelpRow> windowKeys{
        {QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText),
         tr("Stop adding a constraint; take the highlight off the selected items")},
        {QKeySequence(Qt::Key_Space).toString(QKeySequence::NativeText),
         tr("Start or stop timing a task (written to %1)").arg(QLatin1String(UserTimeLog::DefaultFileName))}};
    ::showKeyboardAndMouse(this, windowKeys);
}

void MainWindow::showAbout() {
    ::showAbout(this, ui->solvedGlarea->area());
}

void MainWindow::undo() {
    picker->cancel();
    document->history().stack().undo();
}

void MainWindow::redo() {
    picker->cancel();
    document->history().stack().redo();
}

void MainWindow::showFileTitle(const QString& path) {
    setWindowTitle(path.isEmpty() ? tr("Ostrakit[*]")
                                  : tr("%1[*] - Ostrakit").arg(QFileInfo(path).fileName()));
}

void MainWindow::showMessage(const QString& text, int timeout) {
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text, timeout);
}

// --- events --------------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        picker->cancel();
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
    views->updateAll();
    update();
    resizeSettle->start();
}

void MainWindow::repaintAfterResize() {
    // The window system takes a moment to give the window its new size; a frame composed before
    // that shows the views' old pictures stretched, until something is drawn again.
    repaintAllViews(this);
    update();
}
