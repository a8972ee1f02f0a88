#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <map>

class BaseGraph;
class Constraint;
class ConstrListWidgetItem;
class ControlWithChildren;
class GeometrObj;
class InterfaceListener;
class ListPanel;
class MyTreeWidgetItem;
class QListWidgetItem;

// The left column: title, fragment tree, constraint list and the constraint panels. The rows
// mirror the graph: a row keeps its constraint's id and finds the constraint through the graph.
class ListPanelContainer : public QWidget {
    Q_OBJECT
public:
    explicit ListPanelContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(InterfaceListener* l) { listener = l; }
    void clear();
    void unfocusSelection();
    void addConstraintItem(Constraint* c);
    void removeConstraintItem(int id);
    void addTreeItems(GeometrObj*, ControlWithChildren*) {}

    ListPanel* constraintListPanel() const { return constraintList; }
    QLabel& titleLabel() { return title; }
    // The row of a listed constraint, null if it has none.
    ConstrListWidgetItem* constraintRow(int id) const;

public slots:
    void DeleteConstraint();
    void HandleFocus(QListWidgetItem* current, QListWidgetItem* previous);
    void UpdateConstraintText(int id);
    void delHighl(int, bool) {}
    void delHighl(MyTreeWidgetItem*) {}

private:
    // The constraint a row stands for, looked up by its id; null if it is gone.
    Constraint* constraintOf(QListWidgetItem* row) const;
    QString describe(Constraint* c) const;
    void repaintViews();

    QVBoxLayout layout;
    ListPanel* constraintList;             // child
    InterfaceListener* listener = nullptr; // not owned
    BaseGraph* graph = nullptr;            // not owned
    std::map<int, ConstrListWidgetItem*> constraintRows;
    QLabel title;
};
