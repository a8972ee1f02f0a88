#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

class BaseGraph;
class Constraint;
class ControlWithChildren;
class GeometrObj;
class InterfaceListener;
class MyTreeWidgetItem;

// The left column: fragment tree, constraint list and the constraint panels. For now it shows the
// column's title and a placeholder where the tree and lists will go.
class ListPanelContainer : public QWidget {
    Q_OBJECT
public:
    explicit ListPanelContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(InterfaceListener* l) { listener = l; }
    void clear() {}
    void unfocusSelection() {}
    void addConstraintItem(Constraint*) {}
    void removeConstraintItem(int) {}
    void addTreeItems(GeometrObj*, ControlWithChildren*) {}

public slots:
    void UpdateConstraintText(int) {}
    void delHighl(int, bool) {}
    void delHighl(MyTreeWidgetItem*) {}

private:
    QVBoxLayout layout;
    InterfaceListener* listener = nullptr; // not owned
    BaseGraph* graph = nullptr;            // not owned
    QLabel title;
};
