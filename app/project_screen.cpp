#include "project_screen.h"

#include "constraint_picker.h"
#include "geometr_obj.h"
#include "list_panel_container.h"
#include "main_window_ui.h"
#include "panel_gl_area.h"
#include "reassembly.h"
#include "thumbnail_store.h"
#include "total_graph.h"
#include "view_coordinator.h"
#include "wa_container.h"

ProjectScreen::ProjectScreen(const MainWindowUi& ui, TotalGraph& graph, ViewCoordinator& views,
                             ConstraintPicker& picker, Reassembly& reassembly)
    : ui(ui), graph(graph), views(views), picker(picker), reassembly(reassembly) {}

void ProjectScreen::clearViews() {
    // A constraint being added belongs to the project that goes.
    picker.cancel();
    views.clear();
    reassembly.clear();
    ui.listPans->clear();
}

void ProjectScreen::announceProject(bool computeMarks, const std::map<QString, QByteArray>* thumbnails) {
    for (const auto& [id, o] : graph.objectTable()) {
        if (!o->isTopLevel())
            continue;
        if (o->isVisible()) {
            views.addToSolvedArea(id);
            o->setVisible(true);
        }
        ui.listPans->addTreeItems(o, nullptr);
    }
    for (const auto& [id, c] : graph.constraintTable()) {
        views.showSolvedConstraint(id);
        ui.listPans->addConstraintItem(c);
    }
    ui.listPans->markMisfitConstraints();
    // A project saved after a solve opens with its interpenetration marks.
    if (computeMarks && !views.solvedArea().isEmpty())
        views.updateSolvedErrors();
    for (const auto& [id, o] : graph.objectTable()) {
        // A picture kept from when the object looked the same is put back rather than drawn.
        bool putBack = false;
        if (thumbnails)
            if (const auto kept = thumbnails->find(o->imageKey()); kept != thumbnails->end())
                putBack = storeThumbnailBytes(kept->first, kept->second);
        if (!putBack)
            views.makeThumbnail(o);
    }
    views.updateSolvedArea();
    views.updateAll();
}

void ProjectScreen::showImported(const std::vector<GeometrObj*>& incoming) {
    ui.listPans->markMisfitConstraints();
    for (GeometrObj* o : incoming)
        views.makeThumbnail(o);
    views.updateAll();
}

std::array<int, 2> ProjectScreen::workingAreaIds() const {
    std::array<int, 2> ids{-1, -1};
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (const GeometrObj* o = ui.wacont->content(i))
            ids[std::size_t(i)] = o->id();
    return ids;
}

void ProjectScreen::showInWorkingAreas(const std::array<int, 2>& ids) {
    for (int i = 0; i < WAContainer::AreaCount; ++i)
        if (ids[std::size_t(i)] >= 0)
            ui.listPans->putInWorkingArea(ids[std::size_t(i)], i);
}

bool ProjectScreen::hasPendingEdits() const {
    return ui.listPans->hasPendingEdits();
}
void ProjectScreen::applyPendingEdits() {
    ui.listPans->applyPendingEdits();
}
void ProjectScreen::takeBackPendingEdits() {
    ui.listPans->takeBackPendingEdits();
}
