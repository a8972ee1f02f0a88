#include "tolerance_spinbox_panel.h"

#include "view_listener.h"

#include <cmath>

ToleranceSpinboxPanel::ToleranceSpinboxPanel(QWidget* parent)
    : SpinboxPanel(tr("Change Error Tolerance"), parent) {
    box.setDecimals(5); // before the minimum, which two decimals would round to 0
    box.setMinimum(Smallest);
    box.setValue(Smallest);
    box.setSingleStep(Smallest);
    // A new tolerance recomputes the marks: it counts once typed, not at every key.
    box.setKeyboardTracking(false);
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

void ToleranceSpinboxPanel::showTolerance(double v, Units units) {
    const QSignalBlocker quiet(box);
    if (units == Units::Model) {
        label.setText(tr("Tolerance (model units)"));
        setToolTip(tr("A face is marked when it lies deeper than this below the surface of another "
                      "fragment, in the units of the mesh files"));
        box.setDecimals(6);
        box.setRange(0.0, 99999.0);
        // One step changes the leading digit of the default.
        box.setSingleStep(v > 0 ? std::pow(10.0, std::floor(std::log10(v))) : 1e-6);
    } else {
        label.setText(tr("Change Error Tolerance"));
        setToolTip(tr("A face is marked when it lies deeper than this behind another fragment's "
                      "surface, in window depth units of the depth-peeling passes"));
        box.setDecimals(5);
        box.setRange(Smallest, 100000);
        box.setSingleStep(Smallest);
    }
    load(v);
    value = box.value();
}
