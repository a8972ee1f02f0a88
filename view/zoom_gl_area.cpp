#include "zoom_gl_area.h"

#include "frag_group.h"
#include "geometr_obj.h"
#include "view_labels.h"

ZoomGLArea::ZoomGLArea(QWidget* parent) : IGLArea(parent) {}

void ZoomGLArea::setObject(GeometrObj* o) {
    object = o;
    titleText = o ? o->displayName() : QString();
    update();
}

Box3d ZoomGLArea::contentBox() const {
    return object ? object->getBBox() : Box3d{};
}

Point3f ZoomGLArea::contentCenter() const {
    return object ? Point3f(object->getBBox().center().cast<float>()) : Point3f::Zero();
}

void ZoomGLArea::drawContent() {
    object->drawHighlighted(true);
}

void ZoomGLArea::paintOverlay(QPainter* painter) {
    object->drawConstraints(painter);
}

std::unique_ptr<FragGroup> ZoomGLArea::makeFragmentGroup() {
    return nullptr; // the zoom window shows no interpenetration of its own
}

void ZoomGLArea::paintLabels(QPainter* painter) {
    drawCornerLabel(*painter, titleText);
}
