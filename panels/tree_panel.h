#pragma once
// The fragment tree: every fragment a leaf, every user group a node above its members. It only
// mirrors the graph; changes go through the listener and the model.

#include "qinterf_widget.h"
#include "tree_items.h"

#include <QList>
#include <QTreeWidget>
#include <memory>

class InterfaceListener;
class QMenu;

class TreePanel : public QInterfWidget<QTreeWidget>, public ControlWithChildren {
    Q_OBJECT
public:
    static constexpr int TreeHeight = 90;

    explicit TreePanel(QWidget* parent = nullptr);

    void setListener(InterfaceListener* l) { listener = l; }
    // Forgets every item without reporting selection changes.
    void clearContent() override;
    // A top-level item in the colour the graph gives its object.
    void addChildItem(MyTreeWidgetItem* item) override;

    // The context menu for the selected items (null with no selection); its actions work on the
    // selection as it is now.
    std::unique_ptr<QMenu> makeMenu();
    // Renames the item's object (and a fragment's wrapper) to name; false for an empty name.
    bool renameItem(MyTreeWidgetItem* item, const QString& name);
    // Writes the group of item as a group file; false, with the reason, when it cannot.
    bool exportGroupTo(MyTreeWidgetItem* item, const QString& path, QString& error);

public slots:
    void showMenu(const QPoint& position);
    void delGeom();
    void exportGroup();
    void changeGeomName();

private:
    MyTreeWidgetItem* selectedOne() const;
    void refreshConstraintTexts();

    InterfaceListener* listener = nullptr; // not owned
    QList<QTreeWidgetItem*> selection;     // copied when a menu opens
};

// The object an action on item works on: a group item's group, or for a fragment item the hidden
// wrapper that holds the fragment in the graph.
GeometrObj* actionObject(MyTreeWidgetItem* item);
