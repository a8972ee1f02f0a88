#pragma once
// The items of the fragment tree. An item stands for one model object (a fragment, or a user
// group); it shows the object's name in the object's colour and never owns the object.

#include "geometry_types.h"

#include <QTreeWidgetItem>

class FragGroup;
class Fragment;
class GeometrObj;

class MyTreeWidgetInt : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    virtual bool isFragment() const = 0;
    virtual void setFocused(bool focused) = 0;
    virtual void setColour(Color4b c) = 0;
    virtual Color4b colour() const = 0;
};

class MyTreeWidgetItem : public MyTreeWidgetInt {
public:
    MyTreeWidgetItem(GeometrObj* object, const QString& text);

    bool isFragment() const override;
    void setFocused(bool focused) override;
    // The text in the colour (opaque).
    void setColour(Color4b c) override;
    Color4b colour() const override;

    GeometrObj* object() const { return obj; }
    bool isHighlighted() const { return highlighted; }
    // Underlined while its object is shown in a working area.
    void setHighlighted(bool on);
    // The thumbnail of the object above its name.
    void refreshToolTip();

private:
    GeometrObj* obj; // not owned
    QFont itemFont;
    bool highlighted = false;
};

// Where items can be attached: the tree itself (top level) or a group's item.
class ControlWithChildren {
public:
    virtual ~ControlWithChildren() = default;
    // Attaches item below this control and gives it its colour and tool tip.
    virtual void addChildItem(MyTreeWidgetItem* item) = 0;
};

class FragTreeWidgetItem : public MyTreeWidgetItem {
public:
    explicit FragTreeWidgetItem(Fragment* f);
    // Also recolours the fragment.
    void setColour(Color4b c) override;
};

class FragGroupTreeWidgetItem : public MyTreeWidgetItem, public ControlWithChildren {
public:
    // The text is the group's name; a group just made by the user passes "Group: N".
    explicit FragGroupTreeWidgetItem(FragGroup* g);
    FragGroupTreeWidgetItem(FragGroup* g, const QString& text);

    // Recolours the group, its icon, its text and every child item.
    void setColour(Color4b c) override;
    void addChildItem(MyTreeWidgetItem* item) override;
    void refreshIcon();
};

QColor toQColor(Color4b c);
