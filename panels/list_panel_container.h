#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

struct FragMesh;

class BaseGraph;
class Constraint;
class ConstrListWidgetItem;
class ControlWithChildren;
class GeometrObj;
class PanelListener;
class AddConstrWidget;
class ListPanel;
class ModConstrPanel;
class MyTreeWidgetItem;
class QListWidgetItem;
class QTreeWidgetItem;
class TreePanel;

// The left column: title, fragment tree, constraint list and the constraint panels. The rows
// mirror the graph: a row keeps its constraint's id and finds the constraint through the graph.
class ListPanelContainer : public QWidget {
    Q_OBJECT
public:
    explicit ListPanelContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(PanelListener* l);
    void clear();
    void unfocusSelection();
    void addConstraintItem(Constraint* c);
    void removeConstraintItem(int id);
    // The modify panel shows nothing and no row is current (before the tree re-points or
    // deletes what constraints lie on).
    void clearConstraintSelection();
    // Items for obj and everything inside it under parent (null: top level). A hidden wrapper
    // adds no item of its own; its fragment's item goes under parent.
    void addTreeItems(GeometrObj* obj, ControlWithChildren* parent);
    // "Add a Fragment" with the files already chosen.
    void addFragmentFiles(const QStringList& files) { addFragments(files); }
    // Shows the object in working area wgla (0 or 1) and underlines its item, as "Put in Working
    // area" does; false if the area refused it.
    bool putInWorkingArea(int objId, int wgla);

    ListPanel* constraintListPanel() const { return constraintList; }
    ModConstrPanel* modifyConstraintPanel() const { return modifyPanel; }
    // The constraint panel's edits not applied yet: applied, or taken back.
    bool hasPendingEdits() const;
    void applyPendingEdits();
    void takeBackPendingEdits();
    // The shown constraint's points moved (a Solve): the panel shows and keeps where they are now.
    void reloadShownConstraint();
    // The rows of the graph's misfit constraints (misfitConstraints) turn red, the others take the
    // list's colour: after a Solve and whenever the rows are made anew from the graph.
    void markMisfitConstraints();
    // The constraint's row scrolled into view, where it has one.
    void showConstraintRow(int id);
    AddConstrWidget* addConstraintPanel() const { return addPanel; }
    TreePanel* treePanel() const { return tree; }
    // The item underlined for a working area, null if none.
    MyTreeWidgetItem* highlighted(int wgla) const;
    QLabel& titleLabel() { return title; }
    // The row of a listed constraint, null if it has none.
    ConstrListWidgetItem* constraintRow(int id) const;

public slots:
    void AddEmptyGroup();
    void AddFrag();
    void DeleteGroup();
    void OpenPutFragment();
    void DeleteConstraint();
    void HandleFocus(QListWidgetItem* current, QListWidgetItem* previous);
    void HandleFocus(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void EvidSelFrags();
    void UpdateConstraintText(int id);
    void setHighl(int wgla, MyTreeWidgetItem* item);
    void delHighl(int wgla, bool rhigl);
    void delHighl(int wgla) { delHighl(wgla, true); }
    void delHighl(MyTreeWidgetItem* item);

private:
    // The constraint a row stands for, looked up by its id; null if it is gone.
    Constraint* constraintOf(QListWidgetItem* row) const;
    QString describe(Constraint* c) const;
    void repaintViews();
    // The item whose action object is obj (for a wrapper: its fragment's item), null if none.
    MyTreeWidgetItem* itemActingOn(const GeometrObj* obj) const;
    // Deletes the item and its children, and every highlight they had.
    void deleteItem(MyTreeWidgetItem* item);

    // Reads each mesh into a new fragment with its wrapper and tree item; the files that cannot
    // be read are listed with the reader's reason and add nothing.
    void addFragments(const QStringList& files);
    // Adds the fragment of file with its mesh already read; false (with why) for an empty mesh.
    bool addFragment(const QString& file, std::shared_ptr<FragMesh> mesh, QString& error);

    AddConstrWidget* addPanel;   // child
    ModConstrPanel* modifyPanel; // child
    QVBoxLayout layout;
    TreePanel* tree;                   // child
    ListPanel* constraintList;         // child
    PanelListener* listener = nullptr; // not owned
    BaseGraph* graph = nullptr;        // not owned
    std::map<int, ConstrListWidgetItem*> constraintRows;
    std::map<int, MyTreeWidgetItem*> highlights; // working area -> item of the object it shows
    std::vector<int> focusedObjects;             // ids focused by the last selection change
    QLabel title;
};
