#pragma once
// The fragment tree: every fragment a leaf, every user group a node above its members. It only
// mirrors the graph; changes go through the listener and the model.

#include "qinterf_widget.h"
#include "tree_items.h"

#include <QTreeWidget>

class InterfaceListener;

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

private:
    InterfaceListener* listener = nullptr; // not owned
};

// The object an action on item works on: a group item's group, or for a fragment item the hidden
// wrapper that holds the fragment in the graph.
GeometrObj* actionObject(MyTreeWidgetItem* item);
