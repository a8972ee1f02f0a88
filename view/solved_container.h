#pragma once

#include "panel_gl_area_cont.h"
#include "tolerance_spinbox_panel.h"

#include <QVBoxLayout>
#include <QWidget>

class BaseGraph;
class ViewListener;

// The right column: the solved assembly with its "Solve" button, the tolerance box under it.
class SolvedContainer : public QWidget {
    Q_OBJECT
public:
    explicit SolvedContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { areaContainer.area().setGraph(g); }
    void setListener(ViewListener* l);
    PanelGLArea& area() { return areaContainer.area(); }
    PanelGLAreaCont& container() { return areaContainer; }
    ToleranceSpinboxPanel& tolerancePanel() { return tolerance; }

private:
    QVBoxLayout layout;
    PanelGLAreaCont areaContainer;
    ToleranceSpinboxPanel tolerance;
    QWidget spacer;
};
