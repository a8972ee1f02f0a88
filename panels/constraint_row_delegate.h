#pragma once
// Draws a row of the constraint list in two columns: the description, cut with an ellipsis where
// the column is too narrow, and the relative error ("RE: 12.5%") always whole at the right edge,
// since the error is what tells the user which constraint is wrong. The row's text stays the
// whole description; its tool tip shows it when it is cut. Both columns take the row's foreground
// colour: red for a constraint that disagrees with the others after a Solve.

#include <QColor>
#include <QStyledItemDelegate>

class ConstraintRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text colour of a misfit constraint's row (see misfitConstraints).
    static constexpr QColor MisfitColor{200, 0, 0};

    // The description of a row's text and its error part, which the description ends with.
    struct Parts {
        QString description;
        QString error; // empty when the text has none
    };
    static Parts split(const QString& rowText);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Never wider than the view, so that no row needs horizontal scrolling.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};
