#include "tree_panel.h"

#include "geometr_obj.h"
#include "interface_listener.h"

#include <QHeaderView>
#include <QSignalBlocker>

TreePanel::TreePanel(QWidget* parent) : QInterfWidget<QTreeWidget>(parent) {
    content.setFixedHeight(TreeHeight);
    content.setSelectionMode(QAbstractItemView::ExtendedSelection);
    content.setContextMenuPolicy(Qt::CustomContextMenu);
    content.setHeaderHidden(true);
    buildLayout();
}

void TreePanel::clearContent() {
    const QSignalBlocker quiet(&content);
    content.clear();
}

void TreePanel::addChildItem(MyTreeWidgetItem* item) {
    content.addTopLevelItem(item);
    if (listener)
        item->setColour(listener->objectColour(item->object()->objId()));
    item->refreshToolTip();
}

GeometrObj* actionObject(MyTreeWidgetItem* item) {
    if (!item)
        return nullptr;
    GeometrObj* o = item->object();
    return item->isFragment() ? o->parentObject() : o;
}
