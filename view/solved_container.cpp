#include "solved_container.h"

SolvedContainer::SolvedContainer(QWidget* parent)
    : QWidget(parent), layout(this), areaContainer(this), tolerance(this), spacer(this) {
    tolerance.setMaximumHeight(22);
    spacer.setMaximumHeight(12);
    layout.setContentsMargins(0, 0, 0, 0);
    layout.addWidget(&areaContainer, 1);
    layout.addWidget(&tolerance);
    layout.addWidget(&spacer, 0, Qt::AlignBottom);
}

void SolvedContainer::setListener(ViewListener* l) {
    areaContainer.setListener(l);
    tolerance.setListener(l);
}
