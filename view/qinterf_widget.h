#pragma once
// A content widget of type T above a row of push buttons in the program's button style. The
// panels of the left column and the working areas are built on it.

#include <QAbstractItemView>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWidget>
#include <type_traits>

template <class T> class QInterfWidget : public QWidget {
public:
    explicit QInterfWidget(QWidget* parent = nullptr)
        : QWidget(parent), layout(new QVBoxLayout(this)), buttonRow(new QHBoxLayout),
          buttons(new QWidget(this)), content(this),
          buttonStyle(QStringLiteral("QPushButton {border: 2px outset #34369b; font-size: 10pt;background: "
                                     "white;color:#34369b; border-radius: 6px;}") +
                      QStringLiteral(
                          "QPushButton:pressed{border-color: white;background-color:#34369b;color:white;}") +
                      QStringLiteral("QPushButton:hover{background-color:#eefffe;}")) {
        buttons->setMaximumHeight(ButtonRowHeight);
        buttons->setLayout(buttonRow);
        buttonRow->setContentsMargins(0, 0, 0, 0);
        buttons->setStyleSheet(buttonStyle);
        if constexpr (std::is_base_of_v<QAbstractItemView, T>)
            hideToolTipWhenRowsGo(*content.model());
    }

    static constexpr int ButtonRowHeight = 15;
    static constexpr int ButtonTextMargin = 4;

    // Puts the content above the button row (margin 1); subclasses call it last in their
    // constructor.
    virtual void buildLayout() {
        placeContent(*layout);
        layout->setSizeConstraint(QLayout::SetMinimumSize);
    }
    // The same, with the content and the buttons inside a titled frame.
    void buildFramedLayout(QGroupBox* frame) {
        auto* inner = new QVBoxLayout(frame);
        placeContent(*inner);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->addWidget(frame);
        layout->setSizeConstraint(QLayout::SetMinimumSize);
    }
    virtual void clearContent() {}

    // Adds a button to the row; its clicked() signal goes to receiver's slot (SLOT() syntax).
    QPushButton* addButton(const QString& text, const QObject* receiver, const char* slot) {
        auto* b = new QPushButton(text, buttons);
        // The style draws the text right against the border; leave it some air.
        b->ensurePolished();
        b->setMinimumWidth(b->sizeHint().width() + 2 * ButtonTextMargin);
        buttonRow->addWidget(b);
        QObject::connect(b, SIGNAL(clicked()), receiver, slot);
        return b;
    }

    T& contentWidget() { return content; }

private:
    // A tool tip describes the row under the mouse; once rows go (a deletion, a new project) it
    // would describe something that is no longer there.
    void hideToolTipWhenRowsGo(const QAbstractItemModel& model) {
        const auto hide = [] {
            if (QToolTip::isVisible())
                QToolTip::hideText();
        };
        QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, hide);
        QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, hide);
    }

    void placeContent(QVBoxLayout& into) {
        buttonRow->setSizeConstraint(QLayout::SetMinAndMaxSize);
        into.setContentsMargins(1, 1, 1, 1);
        into.setSpacing(2);
        into.addWidget(&content, 1);
        into.addWidget(buttons, 0);
    }

protected:
    QVBoxLayout* layout;    // owned by the widget
    QHBoxLayout* buttonRow; // owned by the button-row widget
    QWidget* buttons;       // child of this widget
    T content;              // child of this widget
    QString buttonStyle;
};
