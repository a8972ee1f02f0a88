#include "project_document.h"

#include "busy_cursor.h"
#include "frag_group.h"
#include "fragment.h"
#include "placement_export.h"
#include "project_writer.h"
#include "thumbnail_store.h"
#include "total_graph.h"

#include <QDir>
#include <QTimer>
#include <algorithm>

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

// Reads a project file into an empty graph with the busy cursor.
ProjectReadReport readBusily(const QString& file, TotalGraph& into, const MeshLoadOptions& loading) {
    BusyCursor busy;
    return readProjectFile(file, into, nullptr, loading);
}
} // namespace

ProjectDocument::ProjectDocument(QObject* parent) : QObject(parent), project(std::make_unique<TotalGraph>()) {
    steps = new ProjectHistory([this] { return captureState(); },
                               [this](const ProjectState& s) { return restoreState(s); }, this);
    recoveryTimer = new QTimer(this);
    recoveryTimer->setSingleShot(true);
    connect(recoveryTimer, &QTimer::timeout, this, &ProjectDocument::writeRecovery);
    connect(&steps->stack(), &QUndoStack::indexChanged, this, &ProjectDocument::scheduleRecovery);
    connect(&steps->stack(), &QUndoStack::cleanChanged, this, &ProjectDocument::scheduleRecovery);
}

ProjectDocument::~ProjectDocument() {
    // The steps go first, quietly: the views they would report to are going.
    steps->stack().disconnect();
    delete steps;
    project->setListener(nullptr);
    project->deleteAll();
}

bool ProjectDocument::isModified() const {
    return !steps->stack().isClean() || views->hasPendingEdits();
}

ProjectReadReport ProjectDocument::open(const QString& file, const MeshLoadOptions& loading) {
    TotalGraph loaded;
    const ProjectReadReport report = readBusily(file, loaded, loading);
    if (!report.ok())
        return report;
    replaceWith(loaded);
    startHistory(file);
    return report;
}

bool ProjectDocument::save(const QString& file, QString& error) {
    // What the panel shows is what is saved.
    if (views->hasPendingEdits())
        views->applyPendingEdits();
    if (!saveProjectFile(file, *project, error))
        return false;
    steps->stack().setClean();
    setFile(file);
    recovery.remove();
    return true;
}

ProjectReadReport ProjectDocument::import(const QString& file, const MeshLoadOptions& loading) {
    TotalGraph imported;
    const ProjectReadReport report = readBusily(file, imported, loading);
    if (!report.ok())
        return report;
    std::vector<GeometrObj*> incoming;
    for (const auto& [id, o] : imported.objectTable())
        incoming.push_back(o);
    project->importGraph(&imported);
    imported.clear();
    views->showImported(incoming);
    recordChange(tr("Import"));
    return report;
}

bool ProjectDocument::exportAln(const QString& file, QString& error) const {
    return exportAlnFile(file, *project, error);
}

void ProjectDocument::startNew() {
    views->clearViews();
    project->deleteAll();
    startHistory(QString());
}

void ProjectDocument::recordChange(const QString& action) {
    if (views->hasPendingEdits())
        views->takeBackPendingEdits();
    steps->record(action);
}

ProjectReadReport ProjectDocument::restoreRecovery(QString& aside) {
    TotalGraph loaded;
    QString savedAs;
    ProjectReadReport report;
    {
        BusyCursor busy;
        report = recovery.read(loaded, savedAs);
    }
    if (!report.ok()) {
        aside = recovery.setAside();
        return report;
    }
    replaceWith(loaded);
    steps->startOver();
    setFile(savedAs);
    // Not saved anywhere yet: the project is modified until it is.
    steps->stack().resetClean();
    return report;
}

void ProjectDocument::close() {
    closed = true;
    recoveryTimer->stop();
    recovery.remove();
}

void ProjectDocument::startHistory(const QString& file) {
    steps->startOver();
    steps->stack().setClean();
    setFile(file);
    recovery.remove();
}

void ProjectDocument::setFile(const QString& file) {
    path = file;
    emit fileChanged(path);
}

void ProjectDocument::replaceWith(TotalGraph& loaded) {
    views->clearViews();
    project->deleteAll();
    project->takeOver(loaded);
    views->announceProject(true, nullptr);
}

ProjectState ProjectDocument::captureState() const {
    ProjectState s;
    s.folder = QDir::currentPath();
    s.text = projectFileText(*project, QDir(s.folder));
    s.meshes = keepMeshes(*project, QDir(s.folder));
    if (views) // the first state is recorded before the views are handed over, with none shown
        s.workingAreas = views->workingAreaIds();
    for (Fragment* f : allFragments(*project))
        if (MarkRuns runs = markRuns(f->mesh()); !runs.empty())
            s.marks[f->key()] = std::move(runs);
    for (const auto& [id, o] : project->objectTable())
        if (QByteArray png = thumbnailBytes(thumbnailName(o->imageKey())); !png.isEmpty())
            s.thumbnails[o->imageKey()] = png;
    return s;
}

bool ProjectDocument::restoreState(const ProjectState& s) {
    TotalGraph restored;
    ProjectReadReport report;
    {
        BusyCursor busy;
        report = readProjectText(s.text, restored, QDir(s.folder), &s.meshes);
    }
    if (!report.ok()) {
        // The meshes the failed read took go back to their fragments' places and colours.
        for (Fragment* f : allFragments(*project)) {
            f->syncPlacement();
            f->setColor(f->getColor());
        }
        emit stepFailed(report.detail);
        return false;
    }
    BusyCursor busy;
    views->clearViews();
    project->deleteAll();
    project->takeOver(restored);
    // The marks the state showed, rather than computing them again.
    for (Fragment* f : allFragments(*project)) {
        const auto it = s.marks.find(f->key());
        applyMarkRuns(f->mesh(), it == s.marks.end() ? MarkRuns() : it->second);
    }
    views->announceProject(false, &s.thumbnails);
    std::array<int, 2> shown = s.workingAreas;
    for (int& id : shown)
        if (id >= 0 && !project->getObject(id))
            id = -1;
    views->showInWorkingAreas(shown);
    return true;
}

void ProjectDocument::scheduleRecovery() {
    if (recoveryTimer->isActive())
        return;
    const qint64 since = sinceRecoveryWrite.isValid() ? sinceRecoveryWrite.elapsed() : recoveryInterval;
    recoveryTimer->start(int(std::max<qint64>(0, recoveryInterval - since)));
}

void ProjectDocument::writeRecovery() {
    if (closed)
        return;
    // Not in the middle of a long operation: the project may be half changed.
    if (BusyCursor::active()) {
        recoveryTimer->start(1000);
        return;
    }
    sinceRecoveryWrite.start();
    if (steps->stack().isClean()) {
        recovery.remove();
        return;
    }
    QString error;
    if (!recovery.write(*project, path, error))
        emit recoveryFailed(tr("Couldn't write the recovery file %1: %2")
                                .arg(QDir::toNativeSeparators(recovery.path()), error));
}
