#include "constraint_spinboxes.h"

namespace {
const char* const CoordinateLabels[] = {"X: ", "Y: ", "Z: "};
}

StiffSpinbox::StiffSpinbox(QWidget* parent) : SpinboxPanel(tr("Stiffnes:"), parent) {
    box.setMinimum(1);
    load(1);
    connect(&box, &QSpinBox::valueChanged, this, &StiffSpinbox::vChanged);
}

void StiffSpinbox::vChanged(int v) {
    if (receiver)
        receiver->stiffnessChanged(v - base);
}

ConstrCoordSpinbox::ConstrCoordSpinbox(int index, QWidget* parent)
    : SpinboxPanel(tr(CoordinateLabels[index]), parent), coordinate(index) {
    box.setDecimals(Decimals); // before the range, which the decimals round
    box.setRange(-Limit, Limit);
    // The range alone would ask for room for ten digits and five decimals in each of six boxes.
    box.setMinimumWidth(box.fontMetrics().horizontalAdvance(QStringLiteral("-0000000.00000")));
    connect(&box, &QDoubleSpinBox::valueChanged, this, &ConstrCoordSpinbox::vChanged);
}

void ConstrCoordSpinbox::vChanged(double v) {
    if (listener)
        listener->coordinateChanged(v - base, coordinate);
}
