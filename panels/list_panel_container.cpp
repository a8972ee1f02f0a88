#include "list_panel_container.h"

#include "mesh_read_progress.h"

#include "base_graph.h"
#include "busy_cursor.h"
#include "choose_dialog.h"
#include "constraint.h"
#include "constraint_row_delegate.h"
#include "dialog_folder.h"
#include "frag_group.h"
#include "fragment.h"
#include "list_panel.h"
#include "mesh_texture.h"
#include "mod_constr_panel.h"
#include "panel_listener.h"
#include "solve_diagnosis.h"
#include "tree_panel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QShortcut>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <memory>

namespace {
constexpr int TreeStretch = 3, ListStretch = 2;

// Delete (and Backspace, as on keyboards without Delete) on a list or tree does what its delete
// button does. what says it in the window's list of keys.
void deleteKeyRuns(QWidget& view, ListPanelContainer* receiver, void (ListPanelContainer::*slot)(),
                   const QString& what) {
    for (const QKeySequence& key : {QKeySequence(QKeySequence::Delete), QKeySequence(Qt::Key_Backspace)}) {
        auto* del = new QShortcut(key, &view, nullptr, nullptr, Qt::WidgetShortcut);
        del->setWhatsThis(what);
        QObject::connect(del, &QShortcut::activated, receiver, slot);
    }
}
} // namespace

ListPanelContainer::ListPanelContainer(QWidget* parent)
    : QWidget(parent), addPanel(new AddConstrWidget(this)), modifyPanel(new ModConstrPanel(this)),
      layout(this), tree(new TreePanel(this)), constraintList(new ListPanel(this)), title(this) {
    title.setText(QStringLiteral("OSTRAKIT"));
    title.setStyleSheet(QStringLiteral("QLabel{ font-family: Georgia, serif; color: #34369b;text-align: "
                                       "justify;font-weight: bold;font-style: italic;font-size: 22pt;}"));
    layout.setSizeConstraint(QLayout::SetMinimumSize);
    tree->addButton(tr("Add a Fragment"), this, SLOT(AddFrag()));
    tree->addButton(tr("Delete Geometries"), this, SLOT(DeleteGroup()));
    tree->addButton(tr("Put in Working area"), this, SLOT(OpenPutFragment()));
    layout.addWidget(&title, 0, Qt::AlignTop);
    // The tree and the list share the height the column has beyond what the panels need.
    layout.addWidget(tree, TreeStretch);
    constraintList->addButton(tr("Delete Constraint"), this, SLOT(DeleteConstraint()));
    layout.addWidget(constraintList, ListStretch);
    layout.addWidget(modifyPanel, 0, Qt::AlignBottom);
    layout.addWidget(addPanel, 0, Qt::AlignBottom);
    adjustSize();

    QListWidget& list = constraintList->contentWidget();
    connect(&list, &QListWidget::currentItemChanged, this,
            qOverload<QListWidgetItem*, QListWidgetItem*>(&ListPanelContainer::HandleFocus));
    deleteKeyRuns(list, this, &ListPanelContainer::DeleteConstraint, tr("Delete the selected constraints"));
    QTreeWidget& items = tree->contentWidget();
    connect(&items, &QTreeWidget::itemSelectionChanged, this, &ListPanelContainer::EvidSelFrags);
    deleteKeyRuns(items, this, &ListPanelContainer::DeleteGroup,
                  tr("Delete the selected fragments and groups"));
}

void ListPanelContainer::setListener(PanelListener* l) {
    listener = l;
    tree->setListener(l);
    modifyPanel->setListener(l);
    addPanel->setListener(l);
}

MyTreeWidgetItem* ListPanelContainer::highlighted(int wgla) const {
    const auto it = highlights.find(wgla);
    return it == highlights.end() ? nullptr : it->second;
}

QString ListPanelContainer::describe(Constraint* c) const {
    QString text;
    if (graph)
        graph->constraintDescription(text, c);
    return text;
}

Constraint* ListPanelContainer::constraintOf(QListWidgetItem* row) const {
    const auto* r = dynamic_cast<ConstrListWidgetItem*>(row);
    return r && graph ? graph->getConstraint(r->id()) : nullptr;
}

ConstrListWidgetItem* ListPanelContainer::constraintRow(int id) const {
    const auto it = constraintRows.find(id);
    return it == constraintRows.end() ? nullptr : it->second;
}

void ListPanelContainer::repaintViews() {
    repaintAllViews(listener);
}

void ListPanelContainer::clear() {
    tree->clearContent();
    constraintList->clearContent();
    modifyPanel->reset();
    constraintRows.clear();
    highlights.clear();
    focusedObjects.clear();
}

void ListPanelContainer::clearConstraintSelection() {
    // Edits not applied go with the selection.
    if (modifyPanel->hasPendingEdits())
        modifyPanel->undo();
    modifyPanel->reset();
    QListWidget& list = constraintList->contentWidget();
    if (Constraint* c = constraintOf(list.currentItem()))
        c->setFocused(false);
    const QSignalBlocker quiet(list);
    list.setCurrentItem(nullptr);
    list.clearSelection();
}

void ListPanelContainer::unfocusSelection() {
    for (QTreeWidgetItem* item : tree->contentWidget().selectedItems())
        if (auto* i = dynamic_cast<MyTreeWidgetItem*>(item))
            i->setFocused(false);
    for (QListWidgetItem* row : constraintList->contentWidget().selectedItems())
        if (Constraint* c = constraintOf(row))
            c->setFocused(false);
    if (listener) {
        listener->updateWorkingArea(0);
        listener->updateWorkingArea(1);
        listener->updateSolvedArea();
    }
}

void ListPanelContainer::addConstraintItem(Constraint* c) {
    if (!c)
        return;
    auto* row = new ConstrListWidgetItem(describe(c), c->id());
    constraintRows.emplace(c->id(), row); // an id listed already keeps its row
    constraintList->contentWidget().addItem(row);
}

void ListPanelContainer::markMisfitConstraints() {
    const Misfits misfits = graph ? misfitConstraints(*graph) : Misfits{};
    for (const auto& [id, row] : constraintRows) {
        const bool misfit = std::binary_search(misfits.ids.begin(), misfits.ids.end(), id);
        row->setData(Qt::ForegroundRole,
                     misfit ? QVariant(QBrush(ConstraintRowDelegate::MisfitColor)) : QVariant());
    }
}

void ListPanelContainer::UpdateConstraintText(int id) {
    ConstrListWidgetItem* row = constraintRow(id);
    Constraint* c = graph ? graph->getConstraint(id) : nullptr;
    if (row && c)
        row->setText(describe(c));
}

void ListPanelContainer::removeConstraintItem(int id) {
    QListWidget& list = constraintList->contentWidget();
    for (int i = 0; i < list.count(); ++i)
        if (const auto* row = dynamic_cast<ConstrListWidgetItem*>(list.item(i)); row && row->id() == id) {
            // A constraint that goes with its object leaves no row current: selecting an
            // unrelated constraint in its place would surprise.
            const QSignalBlocker quiet(list);
            const bool wasCurrent = list.currentItem() == row;
            delete list.takeItem(i);
            if (wasCurrent) {
                list.setCurrentItem(nullptr);
                list.clearSelection();
            }
            break;
        }
    constraintRows.erase(id);
    if (modifyPanel->currentId() == id)
        modifyPanel->reset();
}

void ListPanelContainer::DeleteConstraint() {
    QListWidget& list = constraintList->contentWidget();
    auto* row = dynamic_cast<ConstrListWidgetItem*>(list.currentItem());
    if (!row)
        return;
    const int id = row->id();
    if (modifyPanel->currentId() == id)
        modifyPanel->reset();
    // The row that becomes current is focused and shown, so Delete again deletes it.
    list.takeItem(list.row(row));
    constraintRows.erase(id);
    if (listener)
        listener->deleteConstraint(id);
    delete row;
    if (listener)
        listener->projectChanged(tr("Delete Constraint"));
}

void ListPanelContainer::HandleFocus(QListWidgetItem* current, QListWidgetItem* previous) {
    if (previous && !current)
        return;
    if (Constraint* c = constraintOf(previous))
        c->setFocused(false);
    Constraint* shown = constraintOf(current);
    if (shown)
        shown->setFocused(true);
    // Edits not applied belong to the constraint they were made on.
    modifyPanel->undo();
    modifyPanel->reset();
    modifyPanel->load(shown);
    repaintViews();
}

// --- tree ------------------------------------------------------------------------------------

void ListPanelContainer::addTreeItems(GeometrObj* obj, ControlWithChildren* parent) {
    if (!obj)
        return;
    ControlWithChildren* under = parent ? parent : tree;
    MyTreeWidgetItem* own = nullptr;
    if (auto* f = dynamic_cast<Fragment*>(obj)) {
        own = new FragTreeWidgetItem(f);
        under->addChildItem(own);
    } else if (auto* g = dynamic_cast<FragGroup*>(obj)) {
        ControlWithChildren* members = under;
        if (!g->isHidden()) {
            auto* item = new FragGroupTreeWidgetItem(g);
            under->addChildItem(item);
            own = item;
            members = item;
        }
        for (const auto& [id, member] : g->childMap()) {
            if (auto* fragment = dynamic_cast<Fragment*>(member)) {
                auto* leaf = new FragTreeWidgetItem(fragment);
                members->addChildItem(leaf);
                if (!own)
                    own = leaf; // a hidden wrapper is shown by its fragment's item
            } else {
                addTreeItems(member, members);
            }
        }
    }
    if (own && listener)
        if (const int area = listener->findWorkingAreaOf(obj->objId()); area >= 0)
            setHighl(area, own);
}

void ListPanelContainer::EvidSelFrags() {
    // Objects are looked up again by id: the one focused may have been deleted meanwhile.
    for (int id : focusedObjects)
        if (GeometrObj* o = graph ? graph->getObject(id) : nullptr)
            o->setFocused(false);
    focusedObjects.clear();
    const QList<QTreeWidgetItem*> selected = tree->contentWidget().selectedItems();
    for (QTreeWidgetItem* item : selected)
        if (auto* i = dynamic_cast<MyTreeWidgetItem*>(item)) {
            i->setFocused(true);
            focusedObjects.push_back(i->object()->id());
        }
    if (!selected.isEmpty())
        repaintViews();
}

void ListPanelContainer::HandleFocus(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (previous && !current)
        return;
    if (auto* p = dynamic_cast<MyTreeWidgetItem*>(previous))
        p->setFocused(false);
    if (auto* c = dynamic_cast<MyTreeWidgetItem*>(current))
        c->setFocused(true);
    repaintViews();
}

void ListPanelContainer::setHighl(int wgla, MyTreeWidgetItem* item) {
    if (MyTreeWidgetItem* old = highlighted(wgla); old && old != item)
        old->setHighlighted(false);
    highlights[wgla] = item;
    item->setHighlighted(true);
}

void ListPanelContainer::delHighl(int wgla, bool rhigl) {
    const auto it = highlights.find(wgla);
    if (it == highlights.end())
        return;
    if (rhigl)
        it->second->setHighlighted(false);
    highlights.erase(it);
}

void ListPanelContainer::delHighl(MyTreeWidgetItem* item) {
    auto found = highlights.end();
    for (auto it = highlights.begin(); it != highlights.end(); ++it)
        if (it->second == item)
            found = it;
    item->setHighlighted(false);
    if (found != highlights.end())
        highlights.erase(found);
}

MyTreeWidgetItem* ListPanelContainer::itemActingOn(const GeometrObj* obj) const {
    for (QTreeWidgetItemIterator it(&tree->contentWidget()); *it; ++it)
        if (auto* item = dynamic_cast<MyTreeWidgetItem*>(*it); item && actionObject(item) == obj)
            return item;
    return nullptr;
}

void ListPanelContainer::deleteItem(MyTreeWidgetItem* item) {
    // No highlight may keep an item that goes, nor one below it.
    for (auto it = highlights.begin(); it != highlights.end();) {
        bool inside = false;
        for (QTreeWidgetItem* i = it->second; i && !inside; i = i->parent())
            inside = i == item;
        it = inside ? highlights.erase(it) : std::next(it);
    }
    delete item; // takes it out of its parent or the top level
}

void ListPanelContainer::DeleteGroup() {
    if (!graph || !listener)
        return;
    QTreeWidget& items = tree->contentWidget();
    const QList<QTreeWidgetItem*> selected = items.selectedItems();
    std::vector<int> ids;
    for (QTreeWidgetItem* item : selected)
        if (GeometrObj* o = actionObject(dynamic_cast<MyTreeWidgetItem*>(item)))
            ids.push_back(o->id());
    listener->clearConstraintSelection();
    items.clearSelection();
    // A member selected with its group went with the group: its id names nothing any more.
    for (int id : ids) {
        GeometrObj* o = graph->getObject(id);
        if (!o)
            continue;
        if (MyTreeWidgetItem* item = itemActingOn(o))
            deleteItem(item);
        listener->deleteGeometry(id);
    }
    listener->projectChanged(tr("Delete Geometries"));
}

void ListPanelContainer::OpenPutFragment() {
    auto* item = dynamic_cast<MyTreeWidgetItem*>(tree->contentWidget().currentItem());
    if (!item || !listener)
        return;
    const int answer =
        chooseOption(tr("Choose working gl area"), {tr("Working area 1"), tr("Working area 2")}, this);
    if (GeometrObj* obj = actionObject(item))
        putInWorkingArea(obj->id(), answer - 1);
}

bool ListPanelContainer::putInWorkingArea(int objId, int wgla) {
    GeometrObj* obj = graph ? graph->getObject(objId) : nullptr;
    MyTreeWidgetItem* item = obj ? itemActingOn(obj) : nullptr;
    if (!item || !listener || !listener->putInWorkingArea(obj, wgla))
        return false;
    setHighl(wgla, item);
    return true;
}

void ListPanelContainer::AddEmptyGroup() {
    if (!graph)
        return;
    FragGroup* group = graph->addUserGroup();
    auto* item = new FragGroupTreeWidgetItem(group);
    tree->contentWidget().insertTopLevelItem(0, item);
    item->setColour(group->getColor());
    item->refreshToolTip();
    if (listener)
        listener->projectChanged(tr("Add an Empty Group"));
}

void ListPanelContainer::AddFrag() {
    const QString start = listener ? listener->dialogFolder() : QDir::currentPath();
    const QStringList files =
        QFileDialog::getOpenFileNames(this, tr("Choose a mesh"), start, meshFileDialogFilter());
    if (!files.isEmpty())
        rememberDialogChoice(files.front());
    addFragments(files);
}

void ListPanelContainer::addFragments(const QStringList& files) {
    if (files.isEmpty() || !graph)
        return;
    std::vector<MeshLoad> loads;
    for (const QString& file : files)
        loads.push_back(MeshLoad{{file}, nullptr, -1, {}});
    QStringList failures, missingTextures;
    {
        BusyCursor busy;
        {
            // Cancel stops before the meshes not yet begun; the ones read are added.
            MeshReadProgress progress(this, true);
            loadMeshes(loads, progress.options());
        }
        for (std::size_t i = 0; i < loads.size(); ++i) {
            // A mesh left unread by Cancel has no error.
            QString error = loads[i].error;
            const QString& file = files[qsizetype(i)];
            if (loads[i].mesh && loads[i].mesh->texture)
                missingTextures << loads[i].mesh->texture->problems();
            const bool added = loads[i].mesh && addFragment(file, std::move(loads[i].mesh), error);
            if (!added && !error.isEmpty())
                failures << tr("%1: %2").arg(QDir::toNativeSeparators(file), error);
        }
    }
    if (listener)
        listener->projectChanged(tr("Add Fragments"));
    if (!failures.isEmpty())
        QMessageBox::warning(this, tr("Couldn't read meshes"),
                             tr("These files were not added:\n\n%1").arg(failures.join(QLatin1Char('\n'))));
    warnAboutMissingTextures(this, missingTextures);
}

bool ListPanelContainer::addFragment(const QString& file, std::shared_ptr<FragMesh> mesh, QString& error) {
    FragGroup* wrapper = graph->addFragment(file, std::move(mesh), error);
    if (!wrapper)
        return false;
    auto* item = new FragTreeWidgetItem(wrapper->wrappedFragment());
    tree->contentWidget().addTopLevelItem(item);
    item->setColour(wrapper->getColor());
    item->refreshToolTip();
    return true;
}

bool ListPanelContainer::hasPendingEdits() const {
    return modifyPanel->hasPendingEdits();
}
void ListPanelContainer::applyPendingEdits() {
    modifyPanel->apply();
}
void ListPanelContainer::takeBackPendingEdits() {
    modifyPanel->undo();
}
void ListPanelContainer::reloadShownConstraint() {
    modifyPanel->reload();
}
void ListPanelContainer::showConstraintRow(int id) {
    if (QListWidgetItem* row = constraintRow(id))
        constraintList->contentWidget().scrollToItem(row);
}
