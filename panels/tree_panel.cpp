#include "tree_panel.h"

#include "base_graph.h"
#include "constraint.h"
#include "dialog_folder.h"
#include "frag_group.h"
#include "fragment.h"
#include "geometr_obj.h"
#include "group_moves.h"
#include "panel_listener.h"
#include "placement_export.h"
#include "save_file_dialog.h"

#include <QDir>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QShortcut>
#include <QSignalBlocker>

QStringList ObjectTree::mimeTypes() const {
    return {QString::fromLatin1(ObjectMimeType)};
}

QMimeData* ObjectTree::mimeData(const QList<QTreeWidgetItem*>& items) const {
    GeometrObj* obj =
        items.isEmpty() ? nullptr : actionObject(dynamic_cast<MyTreeWidgetItem*>(items.front()));
    if (!obj)
        return nullptr;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(ObjectMimeType), QByteArray::number(obj->id()));
    return data;
}

TreePanel::TreePanel(QWidget* parent) : QInterfWidget<ObjectTree>(parent) {
    content.setMinimumHeight(TreeHeight); // taller where the column has room
    // An item dragged onto a working area is shown there.
    content.setDragEnabled(true);
    content.setDragDropMode(QAbstractItemView::DragOnly);
    content.setDefaultDropAction(Qt::CopyAction);
    content.setSelectionMode(QAbstractItemView::ExtendedSelection);
    content.setContextMenuPolicy(Qt::CustomContextMenu);
    content.setHeaderHidden(true);
    connect(&content, &QWidget::customContextMenuRequested, this, &TreePanel::showMenu);
    // F2 renames the current item, as in every tree.
    auto* rename = new QShortcut(QKeySequence(Qt::Key_F2), &content, nullptr, nullptr, Qt::WidgetShortcut);
    rename->setWhatsThis(tr("Rename the current fragment or group"));
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
        if (!one->isFragment()) {
            menu->addAction(tr("Split"), this, &TreePanel::split);
            menu->addAction(tr("Export Group"), this, &TreePanel::exportGroup);
        }
        if (one->parent())
            menu->addAction(tr("Exclude"), this, &TreePanel::excl2);
        menu->addAction(tr("Delete Geometries"), this, &TreePanel::delGeom);
        menu->addAction(tr("Change Item Name"), this, &TreePanel::changeGeomName);
    } else if (selection.size() > 1) {
        QAction* group = menu->addAction(tr("Group"), this, &TreePanel::group);
        if (!selectionCanBeGrouped()) {
            group->setEnabled(false);
            group->setStatusTip(
                tr("Only objects under one parent, all shown in the solved area, can be grouped"));
        }
    }
    return menu;
}

void TreePanel::showMenu(const QPoint& position) {
    if (std::unique_ptr<QMenu> menu = makeMenu(); menu && !menu->isEmpty())
        menu->exec(content.viewport()->mapToGlobal(position));
    selection.clear();
}

bool TreePanel::selectionCanBeGrouped() const {
    if (selection.size() < 2)
        return false;
    QTreeWidgetItem* parent = selection.front()->parent();
    for (QTreeWidgetItem* i : selection) {
        GeometrObj* obj = actionObject(dynamic_cast<MyTreeWidgetItem*>(i));
        if (!obj || i->parent() != parent)
            return false;
        GeometrObj* root = obj->owningGraph() ? obj->owningGraph()->getObject(obj->rootId()) : nullptr;
        if (!root || !root->isVisible())
            return false;
    }
    return true;
}

FragGroupTreeWidgetItem* TreePanel::makeGroupBeside(QTreeWidgetItem* parentItem) {
    auto* parentGroupItem = dynamic_cast<FragGroupTreeWidgetItem*>(parentItem);
    auto* parentGroup = parentGroupItem ? static_cast<FragGroup*>(parentGroupItem->object()) : nullptr;
    FragGroup* group = listener->getGraph()->addUserGroup(parentGroup);
    auto* item = new FragGroupTreeWidgetItem(group);
    if (parentGroupItem)
        parentGroupItem->addChild(item);
    else
        content.addTopLevelItem(item);
    item->setColour(group->getColor());
    return item;
}

void TreePanel::group() {
    if (!listener || !selectionCanBeGrouped())
        return;
    listener->clearConstraintSelection();
    const QList<QTreeWidgetItem*> moving = selection;
    QTreeWidgetItem* parentItem = moving.front()->parent();
    FragGroupTreeWidgetItem* groupItem = makeGroupBeside(parentItem);
    auto* group = static_cast<FragGroup*>(groupItem->object());

    std::vector<GeometrObj*> objs;
    bool shownPlaced = false;
    for (QTreeWidgetItem* i : moving) {
        GeometrObj* obj = actionObject(dynamic_cast<MyTreeWidgetItem*>(i));
        objs.push_back(obj);
        // The solved area shows the new group instead of its members.
        if (listener->isInSolvedArea(obj->id())) {
            shownPlaced = shownPlaced || obj->isVisible();
            listener->removeFromSolvedArea(obj->id());
        }
    }
    for (Constraint* c : moveIntoGroup(*group, objs))
        listener->updateConstraintText(c->id());
    if (shownPlaced)
        group->setVisible(true);
    for (QTreeWidgetItem* i : moving) {
        if (parentItem)
            parentItem->removeChild(i);
        else
            content.takeTopLevelItem(content.indexOfTopLevelItem(i));
        groupItem->addChildItem(static_cast<MyTreeWidgetItem*>(i));
    }
    if (group->isVisible())
        listener->addToSolvedArea(group->rootId());
    listener->updateSolvedArea();
    listener->makeThumbnail(group);
    groupItem->refreshToolTip();
    groupItem->setExpanded(true);
    content.scrollToItem(groupItem);
    selection.clear();
    listener->projectChanged(tr("Group"));
}

void TreePanel::split() {
    auto* item = dynamic_cast<FragGroupTreeWidgetItem*>(selectedOne());
    if (!item || !listener)
        return;
    auto* group = static_cast<FragGroup*>(item->object());
    listener->clearConstraintSelection();
    for (int area = 0; area < 2; ++area)
        if (ObjId* shown = listener->workingAreaObjectId(area); shown && group->containsId(shown->id))
            listener->removeTreeHighlight(area, false);
    auto* parentItem = dynamic_cast<FragGroupTreeWidgetItem*>(item->parent());
    auto* parentGroup = dynamic_cast<FragGroup*>(group->parentObject());
    selection.clear();
    delete item; // with the items of the members, made anew below
    listener->clearConstraintSelection();

    for (Constraint* c : returnConstraintsToMembers(*group))
        listener->updateConstraintText(c->id());
    const bool placed = group->isVisible();
    std::vector<GeometrObj*> members;
    for (const auto& [id, member] : group->childMap())
        members.push_back(member);
    for (GeometrObj* member : members) {
        member->detachFromParent();
        member->setFocused(false);
        if (parentGroup) {
            parentGroup->addChild(member);
            listener->addTreeItems(member, parentItem);
            continue;
        }
        member->setColor(listener->objectColour(member->objId()));
        // A member that nothing holds in place leaves the solved area with its group.
        const bool shown = placed && member->hasConstraintsDeep();
        member->setVisible(shown);
        if (shown)
            listener->addToSolvedArea(member->id());
        listener->updateSolvedArea();
        listener->addTreeItems(member, nullptr);
    }
    listener->deleteGeometry(group->id());
    listener->projectChanged(tr("Split"));
}

void TreePanel::excl2() {
    MyTreeWidgetItem* item = selectedOne();
    GeometrObj* obj = actionObject(item);
    if (!obj || !listener || !item->parent() || obj->isTopLevel())
        return;
    listener->clearConstraintSelection();
    item->parent()->removeChild(item);
    BaseGraph* graph = listener->getGraph();
    GeometrObj* root = graph->getObject(obj->rootId());
    GeometrObj* oldParent = obj->parentObject();
    for (Constraint* c : excludeFromParent(*obj))
        listener->updateConstraintText(c->id());
    obj->setColor(listener->objectColour(obj->objId()));
    if (root && listener->isInSolvedArea(root->id())) {
        obj->setVisible(true);
        listener->addToSolvedArea(obj->id());
        listener->updateSolvedArea();
    }
    content.addTopLevelItem(item);
    item->setColour(obj->getColor());
    listener->makeThumbnail(oldParent);
    selection.clear();
    listener->projectChanged(tr("Exclude"));
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
    listener->projectChanged(tr("Delete Geometries"));
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
    if (listener)
        listener->projectChanged(tr("Rename"));
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
    const QString start = listener ? listener->dialogFolder() : QDir::currentPath();
    const QString path =
        askSaveFileName(this, tr("Export Group"), start, tr("xml (*.xml);;prproj (*.prproj)"));
    if (path.isEmpty())
        return;
    rememberDialogChoice(path);
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
