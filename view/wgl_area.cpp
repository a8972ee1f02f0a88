#include "wgl_area.h"

#include "constraint.h"
#include "error_marks.h"
#include "frag_group.h"
#include "fragment.h"
#include "scene_renderer.h"
#include "zoom_dialog.h"

#include <QOpenGLFunctions_2_1>
#include <QPainter>
#include <QPushButton>
#include <set>

WGLArea::WGLArea(QWidget* parent) : IGLArea(parent), zoomButton(new QPushButton(QStringLiteral("+"), this)) {
    zoomButton->setFixedSize(18, 18);
    connect(zoomButton, &QPushButton::clicked, this, &WGLArea::OpenZoom);
}

Box3d WGLArea::contentBox() const {
    return content ? content->getBBox() : Box3d{};
}

Point3f WGLArea::contentCenter() const {
    if (!content)
        return Point3f::Zero();
    return content->getMeshBBox().center().cast<float>();
}

void WGLArea::clearContent() {
    content = nullptr;
    clicks.clear();
    update();
    sampleScale = 1.0f;
}

void WGLArea::drawContent() {
    content->drawHighlighted(showError);
}

void WGLArea::paintOverlay(QPainter*) {
    std::set<Constraint*> shown;
    content->collectConstraints(shown);
    for (Constraint* c : shown) {
        ObjId* self = &content->objId();
        if (c->frag(0) == self || c->frag(1) == self) {
            drawSideOf(*c, self, sampleScale, SidePoints::Moved);
            queueLabel(c->firstPoint(self), sphereRadius(*c, c->sideOf(self), sampleScale),
                       QString::number(c->id()));
        } else {
            // The constraint joins objects inside the content: the whole band.
            c->draw();
            queueLabel(c->firstPoint(c->frag(0)), 0.0, QString::number(c->id()));
        }
    }
}

void WGLArea::paintLabels(QPainter* painter) {
    drawCornerLabel(*painter, content ? content->displayName() : tr("Empty"));
}

GeometrObj* WGLArea::pickObject(std::vector<std::uint32_t>& hits) {
    if (clicks.empty())
        return nullptr;
    const QPoint pixel = clickedPixel();
    return searchPick(content, pixel.x(), pixel.y(), hits);
}

std::unique_ptr<FragGroup> WGLArea::makeFragmentGroup() {
    return content ? ::makeFragmentGroup(graph, {content->id()}) : nullptr;
}

void WGLArea::wheelEvent(QWheelEvent* e) {
    IGLArea::wheelEvent(e);
    sampleScale = 1.0f / trackball.scale();
}

void WGLArea::resizeEvent(QResizeEvent* e) {
    IGLArea::resizeEvent(e);
    zoomButton->move(width() - zoomButton->width(), 0);
}

void WGLArea::OpenZoom() {
    openZoom(content, this);
}
