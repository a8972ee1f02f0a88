#pragma once
// The fragment tree: every fragment a leaf, every user group a node above its members. It only
// mirrors the graph; changes go through the listener and the model.

#include "qinterf_widget.h"
#include "tree_items.h"

#include <QList>
#include <QTreeWidget>
#include <memory>

class PanelListener;
class QMenu;

// What a tree item carries when it is dragged: the id of the object an action on it works on.
inline constexpr char ObjectMimeType[] = "application/x-ostrakit-object";

// The tree widget of the panel: dragging an item hands out its object's id.
class ObjectTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    QStringList mimeTypes() const override;
    // What a drag of items carries: the object of the first; null if it has none.
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
};

class TreePanel : public QInterfWidget<ObjectTree>, public ControlWithChildren {
    Q_OBJECT
public:
    static constexpr int TreeHeight = 90;

    explicit TreePanel(QWidget* parent = nullptr);

    void setListener(PanelListener* l) { listener = l; }
    // Forgets every item without reporting selection changes.
    void clearContent() override;
    // A top-level item in the colour the graph gives its object.
    void addChildItem(MyTreeWidgetItem* item) override;

    // The context menu for the selected items (null with no selection); its actions work on the
    // selection as it is now.
    std::unique_ptr<QMenu> makeMenu();
    // Whether the selection can be grouped: two or more items under one parent, each in a
    // reassembly the solved area shows.
    bool selectionCanBeGrouped() const;
    // Renames the item's object (and a fragment's wrapper) to name; false for an empty name.
    bool renameItem(MyTreeWidgetItem* item, const QString& name);
    // Writes the group of item as a group file; false, with the reason, when it cannot.
    bool exportGroupTo(MyTreeWidgetItem* item, const QString& path, QString& error);

public slots:
    void showMenu(const QPoint& position);
    void split();
    void delGeom();
    void exportGroup();
    void excl2();
    void group();
    void changeGeomName();

private:
    // Makes the group that group() fills, with its item, under the selection's parent.
    FragGroupTreeWidgetItem* makeGroupBeside(QTreeWidgetItem* parentItem);
    MyTreeWidgetItem* selectedOne() const;
    void refreshConstraintTexts();

    PanelListener* listener = nullptr; // not owned
    QList<QTreeWidgetItem*> selection; // copied when a menu opens
};

// The object an action on item works on: a group item's group, or for a fragment item the hidden
// wrapper that holds the fragment in the graph.
GeometrObj* actionObject(MyTreeWidgetItem* item);
