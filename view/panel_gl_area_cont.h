#pragma once

#include "panel_gl_area.h"
#include "qinterf_widget.h"

class ViewListener;

// The solved area with its "Solve" button.
class PanelGLAreaCont : public QInterfWidget<PanelGLArea> {
    Q_OBJECT
public:
    explicit PanelGLAreaCont(QWidget* parent = nullptr);

    void setListener(ViewListener* l);
    PanelGLArea& area() { return content; }
    QPushButton* solveButton() const { return solveBtn; }

private slots:
    void solve();

private:
    ViewListener* listener = nullptr; // not owned
    QPushButton* solveBtn;
};
