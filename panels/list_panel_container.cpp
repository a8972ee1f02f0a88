#include "list_panel_container.h"

#include "base_graph.h"
#include "constraint.h"
#include "interface_listener.h"
#include "list_panel.h"

#include <QShortcut>

ListPanelContainer::ListPanelContainer(QWidget* parent)
    : QWidget(parent), layout(this), constraintList(new ListPanel(this)), title(this) {
    title.setText(QStringLiteral("OSTRAKIT"));
    title.setStyleSheet(QStringLiteral("QLabel{ font-family: Georgia, serif; color: #34369b;text-align: "
                                       "justify;font-weight: bold;font-style: italic;font-size: 22pt;}"));
    layout.setSizeConstraint(QLayout::SetMinimumSize);
    layout.addWidget(&title, 0, Qt::AlignTop);
    constraintList->addButton(tr("Delete Constraint"), this, SLOT(DeleteConstraint()));
    layout.addWidget(constraintList, 0, Qt::AlignTop);
    layout.addStretch(1);
    adjustSize();

    QListWidget& list = constraintList->contentWidget();
    connect(&list, &QListWidget::currentItemChanged, this,
            qOverload<QListWidgetItem*, QListWidgetItem*>(&ListPanelContainer::HandleFocus));
    // Delete on the list does what its button does.
    auto* del = new QShortcut(QKeySequence::Delete, &list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, &ListPanelContainer::DeleteConstraint);
}

QString ListPanelContainer::describe(Constraint* c) const {
    QString text;
    if (graph)
        graph->constraintDescription(text, c);
    return text;
}

Constraint* ListPanelContainer::constraintOf(QListWidgetItem* row) const {
    const auto* r = dynamic_cast<ConstrListWidgetItem*>(row);
    return r && graph ? graph->getConstraint(r->id()) : nullptr;
}

ConstrListWidgetItem* ListPanelContainer::constraintRow(int id) const {
    const auto it = constraintRows.find(id);
    return it == constraintRows.end() ? nullptr : it->second;
}

void ListPanelContainer::repaintViews() {
    if (!listener)
        return;
    listener->updateSolvedArea();
    listener->updateWorkingArea(0);
    listener->updateWorkingArea(1);
}

void ListPanelContainer::clear() {
    constraintList->clearContent();
    constraintRows.clear();
}

void ListPanelContainer::unfocusSelection() {
    for (QListWidgetItem* row : constraintList->contentWidget().selectedItems())
        if (Constraint* c = constraintOf(row))
            c->setFocused(false);
    if (listener) {
        listener->updateWorkingArea(0);
        listener->updateWorkingArea(1);
        listener->updateSolvedArea();
    }
}

void ListPanelContainer::addConstraintItem(Constraint* c) {
    if (!c)
        return;
    auto* row = new ConstrListWidgetItem(describe(c), c, c->id());
    constraintRows.emplace(c->id(), row); // an id listed already keeps its row
    constraintList->contentWidget().addItem(row);
}

void ListPanelContainer::UpdateConstraintText(int id) {
    ConstrListWidgetItem* row = constraintRow(id);
    Constraint* c = graph ? graph->getConstraint(id) : nullptr;
    if (row && c)
        row->setText(describe(c));
}

void ListPanelContainer::removeConstraintItem(int id) {
    QListWidget& list = constraintList->contentWidget();
    for (int i = 0; i < list.count(); ++i)
        if (const auto* row = dynamic_cast<ConstrListWidgetItem*>(list.item(i)); row && row->id() == id) {
            delete list.takeItem(i);
            break;
        }
    constraintRows.erase(id);
}

void ListPanelContainer::DeleteConstraint() {
    QListWidget& list = constraintList->contentWidget();
    auto* row = dynamic_cast<ConstrListWidgetItem*>(list.currentItem());
    if (!row)
        return;
    const int id = row->id();
    list.takeItem(list.row(row));
    constraintRows.erase(id);
    if (listener)
        listener->deleteConstraint(id);
    delete row;
}

void ListPanelContainer::HandleFocus(QListWidgetItem* current, QListWidgetItem* previous) {
    if (previous && !current)
        return;
    if (Constraint* c = constraintOf(previous))
        c->setFocused(false);
    if (Constraint* c = constraintOf(current))
        c->setFocused(true);
    repaintViews();
}
