#include "panel_gl_area_cont.h"

#include "view_listener.h"

PanelGLAreaCont::PanelGLAreaCont(QWidget* parent)
    : QInterfWidget(parent), solveBtn(addButton(tr("Solve"), this, SLOT(solve()))),
      refineBtn(addButton(tr("Refine"), this, SLOT(refine()))) {
    refineBtn->setToolTip(
        tr("Fit the fracture surfaces of the joined pieces onto each other, all pieces at once"));
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

void PanelGLAreaCont::refine() {
    if (listener)
        listener->refine();
}
