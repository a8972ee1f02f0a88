#pragma once
// A small modal dialog that asks for one of a few options, shown as radio buttons with "OK" and
// "Cancel". Closing it from its frame counts as OK; Cancel and Esc give no answer.

#include <QDialog>
#include <QStringList>
#include <vector>

class QRadioButton;

class ChooseDialog : public QDialog {
    Q_OBJECT
public:
    explicit ChooseDialog(QWidget* parent = nullptr);

    // The options under a group box titled title, option checkedIndex (0-based) checked.
    void build(const QStringList& options, const QString& title, int checkedIndex = 0);
    // 0 when cancelled, otherwise the 1-based index of the chosen option.
    int answer() const { return chosen; }
    QPushButton* okButton() const { return ok; }
    QPushButton* cancelButton() const { return cancel; }
    const std::vector<QRadioButton*>& optionButtons() const { return radios; }

public slots:
    void okDialog();
    void cancelDialog();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int checkedAnswer() const;

    int chosen = 0;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    std::vector<QRadioButton*> radios;
};

// Shows a ChooseDialog modally; 0 when cancelled, otherwise the 1-based index of the option.
int chooseOption(const QString& title, const QStringList& options, QWidget* parent = nullptr);
