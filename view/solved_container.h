#pragma once

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

class BaseGraph;
class InterfaceListener;

// The right column: the solved assembly with its "Solve" button and tolerance box. Until the
// solved view exists it shows its caption only.
class SolvedContainer : public QWidget {
    Q_OBJECT
public:
    explicit SolvedContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(InterfaceListener* l) { listener = l; }

private:
    QVBoxLayout layout;
    QLabel caption;
    BaseGraph* graph = nullptr;            // not owned
    InterfaceListener* listener = nullptr; // not owned
};
