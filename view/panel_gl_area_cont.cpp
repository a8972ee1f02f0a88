#include "panel_gl_area_cont.h"

#include "interface_listener.h"

PanelGLAreaCont::PanelGLAreaCont(QWidget* parent)
    : QInterfWidget(parent), solveBtn(addButton(tr("Solve"), this, SLOT(solve()))) {
    buildLayout();
}

void PanelGLAreaCont::setListener(InterfaceListener* l) {
    listener = l;
    content.setListener(l);
}

void PanelGLAreaCont::solve() {
    if (listener)
        listener->solve();
}
