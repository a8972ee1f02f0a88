#pragma once
// The constraint list of the left column and its rows.

#include "qinterf_widget.h"

#include <QListWidget>

class Constraint;

// A row that stands for a model object; it keeps the object's id, by which the object is looked
// up again (the row never holds the only copy of anything).
template <class T> class MyListWidgetItem : public QListWidgetItem {
public:
    MyListWidgetItem(const QString& text, T* object, int objectId)
        : QListWidgetItem(text), obj(object), objId(objectId) {}
    T* object() const { return obj; }
    int id() const { return objId; }

private:
    T* obj;    // not owned
    int objId; // copied at construction
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
