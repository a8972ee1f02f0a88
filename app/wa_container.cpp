#include "wa_container.h"

#include "interface_listener.h"
#include "wgl_panel.h"

WAContainer::WAContainer(QWidget* parent) : QWidget(parent), grid(this) {
    grid.setVerticalSpacing(2);
    grid.setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < AreaCount; ++i) {
        auto* panel = new WGLPanel(this);
        panel->setObjectName(QStringLiteral("workingArea%1").arg(i));
        panels.push_back(panel);
        grid.addWidget(panel, i, 0);
    }
    setMinimumSize(281, 521);
}

void WAContainer::setGraph(BaseGraph* g) {
    graph = g;
    for (WGLPanel* p : panels)
        p->area().setGraph(g);
}

void WAContainer::setListener(InterfaceListener* l) {
    listener = l;
    for (WGLPanel* p : panels)
        p->setListener(l);
}

WGLArea& WAContainer::area(int i) const {
    return panels[static_cast<std::size_t>(i)]->area();
}

GeometrObj* WAContainer::content(int i) const {
    return area(i).getContent();
}

void WAContainer::clearAll() {
    for (int i = 0; i < AreaCount; ++i)
        area(i).reset();
}

void WAContainer::updateAll() {
    if (listener)
        listener->updateSolvedArea();
    for (int i = 0; i < AreaCount; ++i)
        area(i).update();
}

void WAContainer::setContent(int i, GeometrObj* obj) {
    area(i).setContent(obj);
    area(i).update();
}

void WAContainer::clearArea(int i) {
    area(i).reset();
}

void WAContainer::repaintArea(int i) {
    area(i).update();
}
