#include "tree_items.h"

#include "frag_group.h"
#include "fragment.h"
#include "thumbnail_store.h"

#include <QPixmap>

QColor toQColor(Color4b c) {
    return QColor(c.r, c.g, c.b, 255);
}

MyTreeWidgetItem::MyTreeWidgetItem(GeometrObj* object, const QString& text) : obj(object) {
    setText(0, text);
    itemFont.setPointSize(11);
    itemFont.setWeight(QFont::Bold);
    itemFont.setItalic(false);
    setFont(0, itemFont);
}

bool MyTreeWidgetItem::isFragment() const {
    return obj->isFragment() != 0;
}

void MyTreeWidgetItem::setFocused(bool focused) {
    obj->setFocused(focused);
}

void MyTreeWidgetItem::setColour(Color4b c) {
    setForeground(0, QBrush(toQColor(c)));
}

Color4b MyTreeWidgetItem::colour() const {
    return obj->getColor();
}

void MyTreeWidgetItem::setHighlighted(bool on) {
    highlighted = on;
    itemFont.setUnderline(on);
    setFont(0, itemFont);
}

void MyTreeWidgetItem::refreshToolTip() {
    setToolTip(0, thumbnailToolTip(*obj));
}

FragTreeWidgetItem::FragTreeWidgetItem(Fragment* f) : MyTreeWidgetItem(f, f->displayName()) {}

void FragTreeWidgetItem::setColour(Color4b c) {
    object()->setColor(c);
    MyTreeWidgetItem::setColour(c);
}

FragGroupTreeWidgetItem::FragGroupTreeWidgetItem(FragGroup* g)
    : FragGroupTreeWidgetItem(g, g->displayName()) {}

FragGroupTreeWidgetItem::FragGroupTreeWidgetItem(FragGroup* g, const QString& text)
    : MyTreeWidgetItem(g, text) {
    refreshIcon();
}

void FragGroupTreeWidgetItem::refreshIcon() {
    QPixmap swatch(12, 12);
    swatch.fill(toQColor(object()->getColor()));
    setIcon(0, QIcon(swatch));
}

void FragGroupTreeWidgetItem::setColour(Color4b c) {
    object()->setColor(c);
    refreshIcon();
    MyTreeWidgetItem::setColour(c);
    for (int i = 0; i < childCount(); ++i)
        if (auto* item = dynamic_cast<MyTreeWidgetInt*>(child(i)))
            item->setColour(c);
}

void FragGroupTreeWidgetItem::addChildItem(MyTreeWidgetItem* item) {
    item->setColour(object()->getColor());
    addChild(item);
    item->refreshToolTip();
}
