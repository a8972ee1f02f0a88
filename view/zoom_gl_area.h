#pragma once
// The 3D view of the zoom window: one object in the camera, fit and trackball of the working
// areas, drawn in its highlight mode with its constraint markers, and its display name in the
// top-left corner. It never enters pick mode, and has no listener.

#include "igl_area.h"

#include <QString>

class ZoomGLArea : public IGLArea {
    Q_OBJECT
public:
    explicit ZoomGLArea(QWidget* parent = nullptr);

    // The object shown (not owned, may be null); the title becomes its displayName() now.
    void setObject(GeometrObj* o);
    GeometrObj* getObject() const { return object; }
    QString title() const { return titleText; }

    void reset() override { clearContent(); }
    bool isEmpty() const override { return object == nullptr; }
    Box3d contentBox() const override;
    Point3f contentCenter() const override;
    void clearContent() override { setObject(nullptr); }
    void drawContent() override;
    void paintOverlay(QPainter* painter) override;
    GeometrObj* pickObject(std::vector<std::uint32_t>&) override { return nullptr; }
    std::unique_ptr<FragGroup> makeFragmentGroup() override;

protected:
    void paintLabels(QPainter* painter) override;

private:
    QString titleText;
    GeometrObj* object = nullptr; // not owned
};
