#include "list_panel.h"

#include <QSignalBlocker>

ListPanel::ListPanel(QWidget* parent) : QInterfWidget<QListWidget>(parent) {
    content.setFixedHeight(ListHeight);
    content.setSelectionMode(QAbstractItemView::ExtendedSelection);
    adjustSize();
    buildLayout();
}

void ListPanel::clearContent() {
    const QSignalBlocker quiet(&content);
    content.clear();
}
