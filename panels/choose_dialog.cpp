#include "choose_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ChooseDialog::ChooseDialog(QWidget* parent) : QDialog(parent) {}

void ChooseDialog::build(const QStringList& options, const QString& title, int checkedIndex) {
    auto* grid = new QGridLayout(this);
    auto* box = new QGroupBox(title, this);
    auto* column = new QVBoxLayout(box);
    for (int i = 0; i < options.size(); ++i) {
        auto* radio = new QRadioButton(options[i], box);
        radio->setChecked(i == checkedIndex);
        column->addWidget(radio);
        radios.push_back(radio);
    }
    column->addStretch(1);
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    ok = new QPushButton(tr("OK"), row);
    cancel = new QPushButton(tr("Cancel"), row);
    ok->setDefault(true);
    rowLayout->addWidget(ok);
    rowLayout->addWidget(cancel);
    grid->addWidget(box, 0, 0);
    grid->addWidget(row, 1, 0);
    adjustSize();
    setFixedSize(sizeHint());
    connect(ok, &QPushButton::clicked, this, &ChooseDialog::okDialog);
    connect(cancel, &QPushButton::clicked, this, &ChooseDialog::cancelDialog);
}

int ChooseDialog::checkedAnswer() const {
    int answer = 0;
    for (std::size_t i = 0; i < radios.size(); ++i)
        if (radios[i]->isChecked())
            answer = int(i) + 1;
    return answer;
}

void ChooseDialog::closeEvent(QCloseEvent* event) {
    // OK and the frame's close button end here: the checked option is the answer.
    chosen = checkedAnswer();
    event->accept();
    done(QDialog::Accepted);
}

void ChooseDialog::okDialog() {
    close();
}

void ChooseDialog::cancelDialog() {
    close();
    chosen = 0;
}

void ChooseDialog::reject() {
    // Esc: as Cancel.
    chosen = 0;
    QDialog::reject();
}

int chooseOption(const QString& title, const QStringList& options, QWidget* parent) {
    ChooseDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.build(options, title);
    dialog.exec();
    return dialog.answer();
}
