#pragma once

#include "panel_gl_area.h"
#include "qinterf_widget.h"

class ViewListener;

// The solved area with its "Solve" button and, beside it, "Refine".
class PanelGLAreaCont : public QInterfWidget<PanelGLArea> {
    Q_OBJECT
public:
    explicit PanelGLAreaCont(QWidget* parent = nullptr);

    void setListener(ViewListener* l);
    PanelGLArea& area() { return content; }
    QPushButton* solveButton() const { return solveBtn; }
    QPushButton* refineButton() const { return refineBtn; }

private slots:
    void solve();
    void refine();

private:
    ViewListener* listener = nullptr; // not owned
    QPushButton* solveBtn;
    QPushButton* refineBtn;
};
