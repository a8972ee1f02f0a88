#pragma once
// The project as the window shows it: what the views and lists do when the document puts a
// project in place, takes it away or records a step.

#include "project_document.h"

class ConstraintPicker;
class Reassembly;
class TotalGraph;
class ViewCoordinator;
struct MainWindowUi;

class ProjectScreen final : public ProjectViews {
public:
    // Nothing is owned; everything outlives the screen.
    ProjectScreen(const MainWindowUi& ui, TotalGraph& graph, ViewCoordinator& views, ConstraintPicker& picker,
                  Reassembly& reassembly);

    void clearViews() override;
    void announceProject(bool computeMarks, const std::map<QString, QByteArray>* thumbnails) override;
    void showImported(const std::vector<GeometrObj*>& incoming) override;
    std::array<int, 2> workingAreaIds() const override;
    void showInWorkingAreas(const std::array<int, 2>& ids) override;
    bool hasPendingEdits() const override;
    void applyPendingEdits() override;
    void takeBackPendingEdits() override;

private:
    const MainWindowUi& ui;
    TotalGraph& graph;
    ViewCoordinator& views;
    ConstraintPicker& picker;
    Reassembly& reassembly;
};
