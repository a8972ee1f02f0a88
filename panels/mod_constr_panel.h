#pragma once
// The panels below the constraint list: one shows the selected constraint (each side's first
// sample point and the stiffness) and changes it as the values are edited, with Cancel and
// Apply; the other starts adding a constraint by picking with a chosen stiffness.

#include "constraint_spinboxes.h"
#include "geometry_types.h"
#include "qinterf_widget.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QWidget>
#include <array>

class Constraint;
class PanelListener;

// One side of the shown constraint: the object it lies on and its first sample point.
class ConstrModContainer : public QWidget, public SpinboxListener {
    Q_OBJECT
public:
    explicit ConstrModContainer(QWidget* parent = nullptr);
    void setUpdater(ConstraintUpdater* u) { updater = u; }
    // Shows side (0 or 1) with point p without reporting an edit; side -1 shows nothing.
    void setSample(int side, const Point3d& p);
    int shownSide() const { return side; }
    ConstrCoordSpinbox& coordinate(int index) { return *boxes[static_cast<std::size_t>(index)]; }
    QGroupBox& groupBox() { return *group; }

    void coordinateChanged(double delta, int index) override;

private:
    QGridLayout* outer;                       // owned by the widget
    QGroupBox* group;                         // child
    QGridLayout* inner;                       // owned by the group box
    std::array<ConstrCoordSpinbox*, 3> boxes; // children of the group box
    ConstraintUpdater* updater = nullptr;     // not owned
    int side = -1;                            // -1 while nothing is shown
};

// Both sides and the stiffness.
class ModConstrWidget : public QWidget {
public:
    explicit ModConstrWidget(QWidget* parent = nullptr);
    ConstrModContainer& side(int k) { return *sides[static_cast<std::size_t>(k & 1)]; }
    StiffSpinbox& stiffness() { return *stiff; }

private:
    std::array<ConstrModContainer*, 2> sides; // children
    StiffSpinbox* stiff;                      // child
};

// Shows the selected constraint and edits it live. The panel keeps the constraint's id, never a
// pointer to it, and looks it up through the graph; what was loaded or last applied is kept
// exactly, so Cancel restores the points bit for bit.
class ModConstrPanel : public QInterfWidget<ModConstrWidget>, public ConstraintUpdater {
    Q_OBJECT
public:
    explicit ModConstrPanel(QWidget* parent = nullptr);
    void setListener(PanelListener* l) { listener = l; }

    // The constraint shown, null if none (or if it is gone from the graph).
    Constraint* current() const;
    int currentId() const { return shownId; }
    // Edits made since the last load or Apply.
    bool hasPendingEdits() const;
    void reset();
    void load(Constraint* c);
    // The shown constraint's points were moved by something else (a solve): its edits are kept
    // and the boxes show where its points are now.
    void reload();
    QGroupBox& groupBox() { return *group; }

    void moveSamplePoint(int side, int index, double delta) override;
    void stiffnessChanged(int delta) override;
    void appendObjectName(int side, QString& text) override;

public slots:
    void undo();
    void apply();

private:
    // The first points of one side as loaded or last applied.
    struct SideRecord {
        Point3d sample = Point3d::Zero();
        Point3d ref = Point3d::Zero();
    };
    void record(Constraint* c);
    void showValues(Constraint* c);
    // The constraint's text, colour and every view showing it follow an edit.
    void changed(Constraint* c);
    void repaintViews();

    PanelListener* listener = nullptr; // not owned
    int shownId = -1;                  // -1 while nothing is shown
    QGroupBox* group;                  // child, frames the content and the buttons
    std::array<SideRecord, 2> kept;
    std::array<Point3d, 2> pendingOffsets{Point3d::Zero(), Point3d::Zero()};
    int keptStiffness = 1;
    int pendingStiffness = 0;
};

// "Add Constraint": picking in the working areas with the stiffness of the box.
class AddConstrWidget : public QInterfWidget<StiffSpinbox> {
    Q_OBJECT
public:
    explicit AddConstrWidget(QWidget* parent = nullptr);
    void setListener(PanelListener* l) { listener = l; }
    QGroupBox& groupBox() { return *group; }

public slots:
    void HandlePicking();

private:
    QGroupBox* group;                  // child, frames the content and the button
    PanelListener* listener = nullptr; // not owned
};
