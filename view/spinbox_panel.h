#pragma once
// A label and a spin box side by side, for int (QSpinBox) or double (QDoubleSpinBox) values. The
// base value is what the box showed when last loaded, so that edits can be told from loads.

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>

template <class V, class S> class SpinboxPanel : public QWidget {
public:
    explicit SpinboxPanel(const QString& text, QWidget* parent = nullptr)
        : QWidget(parent), label(text, this), grid(new QGridLayout(this)), box(this) {
        label.setStyleSheet(QStringLiteral("QLabel{font-size: 10pt;font-weight: bold;color: #34369b;}"));
        grid->setContentsMargins(1, 1, 1, 1);
        grid->addWidget(&label, 0, 0);
        grid->addWidget(&box, 0, 1);
        box.setSingleStep(1);
        box.setRange(-100000, 100000);
        box.setValue(0);
    }

    S& spinBox() { return box; }
    const S& spinBox() const { return box; }
    QLabel& caption() { return label; }
    V baseValue() const { return base; }
    // Shows v without reporting it as an edit. The base is v as the box shows it, so an edit
    // brought back to the shown value is no change at all.
    void load(V v) {
        const QSignalBlocker quiet(box);
        box.setValue(v);
        base = box.value();
    }

protected:
    QLabel label;
    QGridLayout* grid; // owned by the widget
    S box;
    V base{};
};
