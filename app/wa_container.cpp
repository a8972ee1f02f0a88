#include "wa_container.h"

#include "geometr_obj.h"
#include "interface_listener.h"

#include <QLabel>

WAContainer::WAContainer(QWidget* parent) : QWidget(parent), grid(this) {
    grid.setVerticalSpacing(2);
    grid.setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < AreaCount; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("workingArea%1").arg(i));
        panel->setAlignment(Qt::AlignCenter);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        panels[static_cast<std::size_t>(i)] = panel;
        grid.addWidget(panel, i, 0);
        repaintArea(i);
    }
    setMinimumSize(281, 521);
}

void WAContainer::clearAll() {
    for (int i = 0; i < AreaCount; ++i)
        clearArea(i);
}

void WAContainer::updateAll() {
    if (listener)
        listener->updateSolvedArea();
    for (int i = 0; i < AreaCount; ++i)
        repaintArea(i);
}

void WAContainer::setContent(int i, GeometrObj* obj) {
    shown[static_cast<std::size_t>(i)] = obj;
    repaintArea(i);
}

void WAContainer::repaintArea(int i) {
    const GeometrObj* obj = shown[static_cast<std::size_t>(i)];
    panels[static_cast<std::size_t>(i)]->setText(obj ? obj->displayName() : tr("Empty"));
}
