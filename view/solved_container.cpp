#include "solved_container.h"

SolvedContainer::SolvedContainer(QWidget* parent) : QWidget(parent), layout(this), caption(this) {
    caption.setText(tr("Solved"));
    caption.setAlignment(Qt::AlignCenter);
    caption.setFrameShape(QFrame::StyledPanel);
    layout.setContentsMargins(0, 0, 0, 0);
    layout.addWidget(&caption, 1);
}
