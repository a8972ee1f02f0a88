#pragma once

#include "igl_area.h"

class QPushButton;

// A working area: shows one object (a fragment's wrapper or a user group) on its own, turned with
// the trackball, with the constraints of the object and of everything inside it.
class WGLArea : public IGLArea {
    Q_OBJECT
public:
    explicit WGLArea(QWidget* parent = nullptr);

    void reset() override { clearContent(); }
    bool isEmpty() const override { return content == nullptr; }
    Box3d contentBox() const override;
    Point3f contentCenter() const override;
    void clearContent() override;
    void drawContent() override;
    void paintOverlay(QPainter* painter) override;
    GeometrObj* pickObject(std::vector<std::uint32_t>& hits) override;
    std::unique_ptr<FragGroup> makeFragmentGroup() override;

    void setIndex(int i) { index = i; }
    int getIndex() const { return index; }
    // The caller repaints.
    void setContent(GeometrObj* o) { content = o; }
    GeometrObj* getContent() const { return content; }
    float sampleScaleFactor() const { return sampleScale; }

protected:
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintLabels(QPainter* painter) override;

private slots:
    void OpenZoom();

private:
    int index = 0;
    GeometrObj* content = nullptr; // not owned
    QPushButton* zoomButton;
    float sampleScale = 1.0f; // keeps constraint spheres the same size on screen while zooming
};
