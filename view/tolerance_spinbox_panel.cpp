#include "tolerance_spinbox_panel.h"

#include "view_listener.h"

ToleranceSpinboxPanel::ToleranceSpinboxPanel(QWidget* parent)
    : SpinboxPanel(tr("Change Error Tolerance"), parent) {
    box.setDecimals(5); // before the minimum, which two decimals would round to 0
    box.setMinimum(Smallest);
    box.setValue(Smallest);
    box.setSingleStep(Smallest);
    grid->setSpacing(1);
    grid->setSizeConstraint(QLayout::SetMinimumSize);
    connect(&box, &QDoubleSpinBox::valueChanged, this, &ToleranceSpinboxPanel::updTolerance);
}

void ToleranceSpinboxPanel::updTolerance(double val) {
    if (val == value)
        return;
    value = val;
    if (listener)
        listener->setTolerance(static_cast<float>(val));
}
