#pragma once

#include "spinbox_panel.h"

#include <QDoubleSpinBox>

class ViewListener;

// The error tolerance under the solved area: a depth difference below it does not count as one
// fragment lying inside another. The exact marks take it in the model's units, the depth-peeling
// passes in window depth units; the label says which.
class ToleranceSpinboxPanel : public SpinboxPanel<double, QDoubleSpinBox> {
    Q_OBJECT
public:
    static constexpr double Smallest = 0.00001;
    enum class Units { WindowDepth, Model };

    explicit ToleranceSpinboxPanel(QWidget* parent = nullptr);
    // Shows value in these units without reporting it as a new tolerance.
    void showTolerance(double value, Units units);
    void setListener(ViewListener* l) { listener = l; }
    double tolerance() const { return value; }

public slots:
    // Tells the listener about each new value once.
    void updTolerance(double val);

private:
    double value = Smallest;
    ViewListener* listener = nullptr; // not owned
};
