#pragma once
// The spin boxes of the constraint panels and the interfaces through which they report edits. An
// edit is reported as the difference between the box's value and the value it was loaded with.

#include "spinbox_panel.h"

#include <QDoubleSpinBox>
#include <QSpinBox>

class QString;

// Hears of an edited coordinate: delta from the loaded value, index 0 = x, 1 = y, 2 = z.
class SpinboxListener {
public:
    virtual ~SpinboxListener() = default;
    virtual void coordinateChanged(double delta, int index) = 0;
};

// Changes the constraint a panel shows. A side is 0 or 1; deltas are from the loaded values.
class ConstraintUpdater {
public:
    virtual ~ConstraintUpdater() = default;
    virtual void moveSamplePoint(int side, int index, double delta) = 0;
    virtual void stiffnessChanged(int delta) = 0;
    // Appends the display name of the object side lies on.
    virtual void appendObjectName(int side, QString& text) = 0;
};

// A constraint's stiffness, never below 1.
class StiffSpinbox : public SpinboxPanel<int, QSpinBox> {
    Q_OBJECT
public:
    explicit StiffSpinbox(QWidget* parent = nullptr);
    // Null (the add panel) reports nothing.
    void setReceiver(ConstraintUpdater* r) { receiver = r; }
    int value() const { return box.value(); }

public slots:
    void vChanged(int v);

private:
    ConstraintUpdater* receiver = nullptr; // not owned
};

// One coordinate of a sample point. The range holds georeferenced coordinates; a value with more
// decimals than the box shows is only written back when the user edits it.
class ConstrCoordSpinbox : public SpinboxPanel<double, QDoubleSpinBox> {
    Q_OBJECT
public:
    static constexpr double Limit = 1e9;
    static constexpr int Decimals = 5;

    ConstrCoordSpinbox(int index, QWidget* parent = nullptr);
    void setValueListener(SpinboxListener* l) { listener = l; }

public slots:
    void vChanged(double v);

private:
    SpinboxListener* listener = nullptr; // not owned
    int coordinate;                      // 0 = x, 1 = y, 2 = z
};
