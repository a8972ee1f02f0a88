#include "list_panel.h"

#include "constraint_row_delegate.h"

#include <QSignalBlocker>

ListPanel::ListPanel(QWidget* parent) : QInterfWidget<QListWidget>(parent) {
    content.setMinimumHeight(ListHeight);
    content.setItemDelegate(new ConstraintRowDelegate(&content));
    content.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content.setSelectionMode(QAbstractItemView::ExtendedSelection);
    adjustSize();
    buildLayout();
}

void ListPanel::clearContent() {
    const QSignalBlocker quiet(&content);
    content.clear();
}
