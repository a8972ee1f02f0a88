#include "mod_constr_panel.h"

#include "base_graph.h"
#include "constraint.h"
#include "geometr_obj.h"
#include "panel_listener.h"

namespace {
QString panelStyle(int points) {
    return QStringLiteral("QGroupBox{font-size: %1pt;font-weight: bold;color: #34369b;}").arg(points);
}
} // namespace

// --- one side ----------------------------------------------------------------------------------

ConstrModContainer::ConstrModContainer(QWidget* parent)
    : QWidget(parent), outer(new QGridLayout(this)), group(new QGroupBox(tr("No Constraint Selected"), this)),
      inner(new QGridLayout(group)) {
    group->setStyleSheet(panelStyle(10));
    for (int i = 0; i < 3; ++i) {
        auto* box = new ConstrCoordSpinbox(i, group);
        box->setValueListener(this);
        inner->addWidget(box, 0, i);
        boxes[static_cast<std::size_t>(i)] = box;
    }
    inner->setContentsMargins(2, 2, 2, 2);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(group, 0, 0);
}

void ConstrModContainer::setSample(int k, const Point3d& p) {
    side = k;
    if (k < 0 || !updater) {
        side = -1;
        group->setTitle(tr("No Constraint Selected"));
    } else {
        QString title = tr("Sample in ");
        updater->appendObjectName(k, title);
        group->setTitle(title);
    }
    for (int i = 0; i < 3; ++i)
        coordinate(i).load(p[i]);
}

void ConstrModContainer::coordinateChanged(double delta, int index) {
    if (side >= 0 && updater)
        updater->moveSamplePoint(side, index, delta);
}

ModConstrWidget::ModConstrWidget(QWidget* parent) : QWidget(parent), stiff(new StiffSpinbox(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int k = 0; k < 2; ++k) {
        sides[static_cast<std::size_t>(k)] = new ConstrModContainer(this);
        grid->addWidget(sides[static_cast<std::size_t>(k)], k, 0);
    }
    grid->addWidget(stiff, 3, 0, Qt::AlignLeft);
}

// --- the modify panel ------------------------------------------------------------------------

ModConstrPanel::ModConstrPanel(QWidget* parent)
    : QInterfWidget(parent), group(new QGroupBox(tr("Modify the selected constraint"), this)) {
    group->setStyleSheet(panelStyle(12));
    content.stiffness().setReceiver(this);
    content.side(0).setUpdater(this);
    content.side(1).setUpdater(this);
    addButton(tr("Cancel"), this, SLOT(undo()));
    addButton(tr("Apply"), this, SLOT(apply()));
    buildFramedLayout(group);
}

Constraint* ModConstrPanel::current() const {
    BaseGraph* graph = listener && shownId >= 0 ? listener->getGraph() : nullptr;
    return graph ? graph->getConstraint(shownId) : nullptr;
}

bool ModConstrPanel::hasPendingEdits() const {
    return current() &&
           (!pendingOffsets[0].isZero(0) || !pendingOffsets[1].isZero(0) || pendingStiffness != 0);
}

void ModConstrPanel::reset() {
    shownId = -1;
    group->setTitle(tr("Modify the selected constraint"));
    for (int k = 0; k < 2; ++k)
        content.side(k).setSample(-1, Point3d::Zero());
    content.stiffness().load(1);
    pendingOffsets = {Point3d::Zero(), Point3d::Zero()};
    pendingStiffness = 0;
}

void ModConstrPanel::load(Constraint* c) {
    if (!c) {
        reset();
        return;
    }
    shownId = c->id();
    group->setTitle(tr("Modify the selected constraint ") + QString::number(c->id()));
    record(c);
    showValues(c);
}

void ModConstrPanel::reload() {
    if (Constraint* c = current())
        load(c);
}

void ModConstrPanel::record(Constraint* c) {
    for (int k = 0; k < 2; ++k) {
        auto& side = kept[static_cast<std::size_t>(k)];
        const auto samples = c->samplePoints(k);
        const auto refs = c->refSamplePoints(k);
        side.sample = samples.empty() ? Point3d::Zero() : samples.begin()->second;
        side.ref = refs.empty() ? Point3d::Zero() : refs.begin()->second;
    }
    keptStiffness = c->stiffness();
    pendingOffsets = {Point3d::Zero(), Point3d::Zero()};
    pendingStiffness = 0;
}

void ModConstrPanel::showValues(Constraint* c) {
    for (int k = 0; k < 2; ++k)
        content.side(k).setSample(k, kept[static_cast<std::size_t>(k)].sample);
    content.stiffness().load(c->stiffness());
}

void ModConstrPanel::moveSamplePoint(int side, int index, double delta) {
    Constraint* c = current();
    if (!c || side < 0 || side > 1 || index < 0 || index > 2)
        return;
    const auto k = static_cast<std::size_t>(side);
    pendingOffsets[k][index] = delta;
    // From the kept points, not by steps, so that taking an edit back leaves no rounding behind.
    const Point3d sample = kept[k].sample + pendingOffsets[k];
    const Point3d ref = kept[k].ref + pendingOffsets[k];
    c->setFirstPoints(c->frag(side), sample, ref);
    changed(c);
}

void ModConstrPanel::stiffnessChanged(int delta) {
    Constraint* c = current();
    if (!c)
        return;
    pendingStiffness = delta;
    c->setStiffness(keptStiffness + delta);
    changed(c);
}

void ModConstrPanel::appendObjectName(int side, QString& text) {
    Constraint* c = current();
    BaseGraph* graph = listener ? listener->getGraph() : nullptr;
    if (!c || !graph || side < 0 || side > 1 || !c->frag(side))
        return;
    if (const GeometrObj* o = graph->getObject(c->frag(side)->id))
        text += o->displayName();
}

void ModConstrPanel::apply() {
    if (Constraint* c = current()) {
        // What is shown now is what later edits and Cancel start from.
        record(c);
        showValues(c);
        if (listener)
            listener->projectChanged(tr("Modify Constraint"));
    }
    repaintViews();
}

void ModConstrPanel::undo() {
    Constraint* c = current();
    if (!c)
        return;
    for (int k = 0; k < 2; ++k) {
        const auto& side = kept[static_cast<std::size_t>(k)];
        if (!pendingOffsets[static_cast<std::size_t>(k)].isZero(0))
            c->setFirstPoints(c->frag(k), side.sample, side.ref);
    }
    c->setStiffness(keptStiffness);
    pendingOffsets = {Point3d::Zero(), Point3d::Zero()};
    pendingStiffness = 0;
    showValues(c);
    changed(c);
}

void ModConstrPanel::changed(Constraint* c) {
    c->updateColor();
    if (listener)
        listener->updateConstraintText(c->id());
    repaintViews();
}

void ModConstrPanel::repaintViews() {
    repaintAllViews(listener);
}

// --- the add panel ---------------------------------------------------------------------------

AddConstrWidget::AddConstrWidget(QWidget* parent)
    : QInterfWidget(parent), group(new QGroupBox(tr("Add a new constraint"), this)) {
    group->setStyleSheet(panelStyle(12));
    addButton(tr("Add Constraint"), this, SLOT(HandlePicking()));
    buildFramedLayout(group);
}

void AddConstrWidget::HandlePicking() {
    if (listener)
        listener->HandlePicking(int(ConstraintType::RubberBand), content.value());
}
