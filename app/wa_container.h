#pragma once

#include <QGridLayout>
#include <QWidget>
#include <vector>

class BaseGraph;
class GeometrObj;
class InterfaceListener;
class WGLArea;
class WGLPanel;

// The two working areas, stacked: area 0 above, area 1 below. Each shows one object at a time.
class WAContainer : public QWidget {
    Q_OBJECT
public:
    static constexpr int AreaCount = 2;

    explicit WAContainer(QWidget* parent = nullptr);

    // Hands the graph to both areas.
    void setGraph(BaseGraph* g);
    // Hands the listener to both panels (and their areas).
    void setListener(InterfaceListener* l);
    // Empties both areas.
    void clearAll();
    // Repaints the solved area (through the listener) and both working areas.
    void updateAll();

    WGLArea& area(int i) const;
    WGLPanel& panel(int i) const { return *panels[static_cast<std::size_t>(i)]; }
    // Object shown in area i (0 or 1), or null.
    GeometrObj* content(int i) const;
    // Shows obj in area i and repaints it.
    void setContent(int i, GeometrObj* obj);
    void clearArea(int i);
    void repaintArea(int i);

signals:
    // A tree item carrying an object id was dropped on area i.
    void objectDropped(int objId, int i);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The index of the area that is watched, -1 if none.
    int areaIndexOf(const QObject* watched) const;

    QGridLayout grid;
    BaseGraph* graph = nullptr;            // not owned
    std::vector<WGLPanel*> panels;         // children
    InterfaceListener* listener = nullptr; // not owned
};
