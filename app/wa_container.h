#pragma once

#include <QGridLayout>
#include <QWidget>
#include <array>

class BaseGraph;
class GeometrObj;
class InterfaceListener;
class QLabel;

// The two working areas, stacked: area 0 above, area 1 below. Each shows one object at a time.
// Until the 3D working areas exist each area is a frame that names the object it shows.
class WAContainer : public QWidget {
    Q_OBJECT
public:
    static constexpr int AreaCount = 2;

    explicit WAContainer(QWidget* parent = nullptr);

    void setGraph(BaseGraph* g) { graph = g; }
    void setListener(InterfaceListener* l) { listener = l; }
    // Empties both areas.
    void clearAll();
    // Repaints the solved area (through the listener) and both working areas.
    void updateAll();

    // Object shown in area i (0 or 1), or null.
    GeometrObj* content(int i) const { return shown[static_cast<std::size_t>(i)]; }
    void setContent(int i, GeometrObj* obj);
    void clearArea(int i) { setContent(i, nullptr); }
    void repaintArea(int i);

private:
    QGridLayout grid;
    BaseGraph* graph = nullptr; // not owned
    std::array<QLabel*, AreaCount> panels{};
    std::array<GeometrObj*, AreaCount> shown{};
    InterfaceListener* listener = nullptr; // not owned
};
