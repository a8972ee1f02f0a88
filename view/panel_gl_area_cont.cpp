#include "panel_gl_area_cont.h"

#include "view_listener.h"

PanelGLAreaCont::PanelGLAreaCont(QWidget* parent)
    : QInterfWidget(parent), solveBtn(addButton(tr("Solve"), this, SLOT(solve()))) {
    buildLayout();
}

void PanelGLAreaCont::setListener(ViewListener* l) {
    listener = l;
    content.setListener(l);
}

void PanelGLAreaCont::solve() {
    if (listener)
        listener->solve();
}
