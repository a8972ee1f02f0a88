#include "wa_container.h"

#include "interface_listener.h"
#include "tree_panel.h"
#include "wgl_panel.h"

#include <QDropEvent>
#include <QMimeData>

WAContainer::WAContainer(QWidget* parent) : QWidget(parent), grid(this) {
    grid.setVerticalSpacing(2);
    grid.setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < AreaCount; ++i) {
        auto* panel = new WGLPanel(this);
        panel->setObjectName(QStringLiteral("workingArea%1").arg(i));
        panels.push_back(panel);
        grid.addWidget(panel, i, 0);
        panel->area().setAcceptDrops(true);
        panel->area().installEventFilter(this);
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

int WAContainer::areaIndexOf(const QObject* watched) const {
    for (int i = 0; i < AreaCount; ++i)
        if (watched == &area(i))
            return i;
    return -1;
}

bool WAContainer::eventFilter(QObject* watched, QEvent* event) {
    const int i = areaIndexOf(watched);
    const QEvent::Type type = event->type();
    if (i < 0 || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return QWidget::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event); // the base of the drag enter and move events
    const QString format = QString::fromLatin1(ObjectMimeType);
    if (!drop->mimeData() || !drop->mimeData()->hasFormat(format))
        return QWidget::eventFilter(watched, event);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        bool ok = false;
        const int id = drop->mimeData()->data(format).toInt(&ok);
        if (ok)
            emit objectDropped(id, i);
    }
    return true;
}
