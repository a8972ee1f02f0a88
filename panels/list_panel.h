#pragma once
// The constraint list of the left column and its rows.

#include "qinterf_widget.h"

#include <QListWidget>

class Constraint;

// A row that stands for a model object of type T; it keeps only the object's id, by which the
// object is looked up again, so a row never points at an object that is gone.
template <class T> class MyListWidgetItem : public QListWidgetItem {
public:
    MyListWidgetItem(const QString& text, int objectId) : QListWidgetItem(text), objId(objectId) {}
    int id() const { return objId; }

private:
    int objId;
};

// A row of the constraint list: the constraint's description.
class ConstrListWidgetItem : public MyListWidgetItem<Constraint> {
public:
    using MyListWidgetItem<Constraint>::MyListWidgetItem;
};

// The constraint list: at least ListHeight high, taller where the column has room; each row shows
// its relative error whole (see ConstraintRowDelegate).
class ListPanel : public QInterfWidget<QListWidget> {
    Q_OBJECT
public:
    static constexpr int ListHeight = 90;

    explicit ListPanel(QWidget* parent = nullptr);
    // Deletes every row without reporting a change of the current row.
    void clearContent() override;
};
