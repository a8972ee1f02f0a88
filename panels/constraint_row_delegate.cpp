#include "constraint_row_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace {
// The description ends with the error: "... to piece_2. RE: 12.5%".
const QString ErrorMark = QStringLiteral("RE: ");
constexpr int ColumnGap = 8;
} // namespace

ConstraintRowDelegate::Parts ConstraintRowDelegate::split(const QString& rowText) {
    const qsizetype at = rowText.lastIndexOf(ErrorMark);
    if (at < 0)
        return {rowText, QString()};
    return {rowText.left(at).trimmed(), rowText.mid(at)};
}

void ConstraintRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem row = option;
    initStyleOption(&row, index);
    const Parts parts = split(row.text);
    row.text.clear();
    QStyle* style = row.widget ? row.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &row, painter, row.widget); // background, selection

    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &row, row.widget);
    const int errorWidth = row.fontMetrics.horizontalAdvance(parts.error);
    const QRect descriptionRect = text.adjusted(0, 0, -(errorWidth + ColumnGap), 0);
    const QPalette::ColorRole role =
        row.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setFont(row.font);
    painter->setPen(row.palette.color(role));
    painter->drawText(descriptionRect, Qt::AlignLeft | Qt::AlignVCenter,
                      row.fontMetrics.elidedText(parts.description, Qt::ElideRight, descriptionRect.width()));
    painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter, parts.error);
    painter->restore();
}

QSize ConstraintRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
        size.setWidth(std::min(size.width(), view->viewport()->width()));
    return size;
}

bool ConstraintRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                      const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view);
    return true;
}
