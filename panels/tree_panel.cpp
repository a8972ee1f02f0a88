#include "tree_panel.h"

#include "base_graph.h"
#include "frag_group.h"
#include "fragment.h"
#include "geometr_obj.h"
#include "interface_listener.h"
#include "placement_export.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QSignalBlocker>

TreePanel::TreePanel(QWidget* parent) : QInterfWidget<QTreeWidget>(parent) {
    content.setFixedHeight(TreeHeight);
    content.setSelectionMode(QAbstractItemView::ExtendedSelection);
    content.setContextMenuPolicy(Qt::CustomContextMenu);
    content.setHeaderHidden(true);
    connect(&content, &QWidget::customContextMenuRequested, this, &TreePanel::showMenu);
    // F2 renames the current item, as in every tree.
    auto* rename = new QShortcut(QKeySequence(Qt::Key_F2), &content, nullptr, nullptr, Qt::WidgetShortcut);
    connect(rename, &QShortcut::activated, this, [this] {
        selection =
            content.currentItem() ? QList<QTreeWidgetItem*>{content.currentItem()} : content.selectedItems();
        changeGeomName();
        selection.clear();
    });
    buildLayout();
}

void TreePanel::clearContent() {
    const QSignalBlocker quiet(&content);
    content.clear();
    selection.clear();
}

MyTreeWidgetItem* TreePanel::selectedOne() const {
    return selection.size() == 1 ? dynamic_cast<MyTreeWidgetItem*>(selection.front()) : nullptr;
}

std::unique_ptr<QMenu> TreePanel::makeMenu() {
    selection = content.selectedItems();
    if (selection.isEmpty())
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    if (MyTreeWidgetItem* one = selectedOne()) {
        if (!one->isFragment())
            menu->addAction(tr("Export Group"), this, &TreePanel::exportGroup);
        menu->addAction(tr("Delete Geometries"), this, &TreePanel::delGeom);
        menu->addAction(tr("Change Item Name"), this, &TreePanel::changeGeomName);
    }
    return menu;
}

void TreePanel::showMenu(const QPoint& position) {
    if (std::unique_ptr<QMenu> menu = makeMenu(); menu && !menu->isEmpty())
        menu->exec(content.viewport()->mapToGlobal(position));
    selection.clear();
}

void TreePanel::delGeom() {
    MyTreeWidgetItem* item = selectedOne();
    GeometrObj* obj = actionObject(item);
    if (!obj || !listener)
        return;
    listener->clearConstraintSelection();
    for (int area = 0; area < 2; ++area)
        if (ObjId* shown = listener->workingAreaObjectId(area); shown && obj->containsId(shown->id))
            listener->removeTreeHighlight(area, false);
    const int id = obj->id();
    selection.clear();
    delete item;
    listener->deleteGeometry(id);
}

void TreePanel::refreshConstraintTexts() {
    if (BaseGraph* graph = listener ? listener->getGraph() : nullptr)
        for (const auto& [id, c] : graph->constraintTable())
            listener->updateConstraintText(id);
}

bool TreePanel::renameItem(MyTreeWidgetItem* item, const QString& name) {
    if (!item || name.isEmpty())
        return false;
    item->setText(0, name);
    item->object()->setName(name);
    if (item->isFragment())
        if (GeometrObj* wrapper = item->object()->parentObject())
            wrapper->setName(name);
    // Every row that names the object shows the new name.
    refreshConstraintTexts();
    return true;
}

void TreePanel::changeGeomName() {
    MyTreeWidgetItem* item = selectedOne();
    if (!item)
        return;
    if (listener)
        listener->clearConstraintSelection();
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, tr("Enter name"), tr("New name:"), QLineEdit::Normal, QString(), &ok);
    if (ok)
        renameItem(item, name);
}

bool TreePanel::exportGroupTo(MyTreeWidgetItem* item, const QString& path, QString& error) {
    GeometrObj* group = item && !item->isFragment() ? item->object() : nullptr;
    if (!group) {
        error = tr("only a group can be exported");
        return false;
    }
    return exportGroupFile(path, *group, error);
}

void TreePanel::exportGroup() {
    MyTreeWidgetItem* item = selectedOne();
    if (!item || item->isFragment())
        return;
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Group"), QDir::currentPath(),
                                                      tr("xml (*.xml);;prproj (*.prproj)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportGroupTo(item, path, error))
        QMessageBox::warning(this, tr("Export Group"),
                             tr("Couldn't write %1: %2").arg(QDir::toNativeSeparators(path), error));
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
