#include "wgl_panel.h"

#include "view_listener.h"

WGLPanel::WGLPanel(QWidget* parent) : QInterfWidget<WGLArea>(parent) {
    addButton(tr("Clear"), this, SLOT(clearArea()));
    buildLayout();
}

void WGLPanel::setListener(ViewListener* l) {
    listener = l;
    content.setListener(l);
}

void WGLPanel::clearArea() {
    if (content.isEmpty())
        return;
    content.clearContent();
    content.update();
    if (listener)
        listener->removeTreeHighlight(content.getIndex(), true);
}
