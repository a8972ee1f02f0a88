#include "zoom_dialog.h"

#include "geometr_obj.h"
#include "zoom_gl_area.h"

#include <QResizeEvent>
#include <QScreen>

ZoomDialog::ZoomDialog(QWidget* parent) : QDialog(parent), zoomArea(new ZoomGLArea(this)) {
    fitToScreen();
}

void ZoomDialog::fitToScreen() {
    const QScreen* s = screen();
    if (!s)
        return;
    const QRect g = s->geometry();
    if (size() != g.size())
        setFixedSize(g.size()); // sends another resize event, which finds the size right
    zoomArea->setFixedSize(size());
}

void ZoomDialog::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    fitToScreen();
}

void ZoomDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // The dialog may open on another screen than the one it was built for.
    fitToScreen();
    const QScreen* s = screen();
    if (s && pos() != s->geometry().topLeft())
        move(s->geometry().topLeft());
}

void openZoom(GeometrObj* content, QWidget* parent) {
    if (!content)
        return;
    const bool wasFocused = content->isFocused();
    content->setFocused(false); // no highlight colours in the zoom view
    {
        ZoomDialog dialog(parent);
        dialog.area()->setObject(content);
        dialog.exec();
    }
    content->setFocused(wasFocused);
}
