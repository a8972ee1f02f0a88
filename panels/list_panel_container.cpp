#include "list_panel_container.h"

ListPanelContainer::ListPanelContainer(QWidget* parent) : QWidget(parent), layout(this), title(this) {
    title.setText(tr("Fragments"));
    title.setStyleSheet(QStringLiteral("QLabel {color: #34369b; font-size: 14pt; font-weight: bold;}"));
    layout.addWidget(&title);
    layout.addStretch(1);
}
