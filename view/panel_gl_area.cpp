#include "panel_gl_area.h"

#include "base_graph.h"
#include "constraint.h"
#include "error_marks.h"
#include "frag_group.h"
#include "gl_functions.h"
#include "scene_renderer.h"
#include "view_listener.h"

#include <QOpenGLFunctions_2_1>

PanelGLArea::PanelGLArea(QWidget* parent) : IGLArea(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

GeometrObj* PanelGLArea::object(int id) const {
    return graph ? graph->getObject(id) : nullptr;
}

Point3f PanelGLArea::contentCenter() const {
    const Box3d shown = shownBox();
    return shown.isNull() ? Point3f::Zero() : Point3f(shown.center().cast<float>());
}

Box3d PanelGLArea::shownBox() const {
    Box3d shown;
    for (int id : shownObjects)
        if (GeometrObj* o = object(id); o && o->isVisible())
            shown.add(o->getMeshBBox());
    // The constraint ends drawn lie on the meshes, except where a mesh is missing or a point was
    // moved off its surface: the view shows them too.
    for (int id : shownConstraints) {
        Constraint* c = graph ? graph->getConstraint(id) : nullptr;
        if (!c)
            continue;
        const auto [r0, r1] = roots(c);
        const GeometrObj* sides[2] = {r0, r1};
        for (int k = 0; k < 2; ++k) {
            const Constraint::PointRange points = c->samplePoints(k);
            if (sides[k] && sides[k]->isVisible() && points.begin() != points.end())
                shown.add(points.begin()->second);
        }
    }
    return shown;
}

void PanelGLArea::clearContent() {
    shownObjects.clear();
    shownConstraints.clear();
    clicks.clear();
    update();
}

void PanelGLArea::drawContent() {
    for (int id : shownObjects)
        if (GeometrObj* o = object(id); o && o->isVisible())
            o->draw(showError);
    drawDots();
}

void PanelGLArea::setDots(std::vector<Dot> d) {
    shownDots = std::move(d);
    update();
}

void PanelGLArea::drawDots() {
    QOpenGLFunctions_2_1* gl = currentFixedFunctions();
    if (!gl || shownDots.empty())
        return;
    gl->glPushAttrib(GL_ENABLE_BIT | GL_POINT_BIT | GL_CURRENT_BIT);
    gl->glDisable(GL_LIGHTING);
    gl->glPointSize(4.0f);
    gl->glBegin(GL_POINTS);
    for (const Dot& d : shownDots) {
        gl->glColor4ub(d.colour.r, d.colour.g, d.colour.b, d.colour.a);
        gl->glVertex3d(d.at.x(), d.at.y(), d.at.z());
    }
    gl->glEnd();
    gl->glPopAttrib();
}

std::pair<GeometrObj*, GeometrObj*> PanelGLArea::roots(Constraint* c) const {
    GeometrObj* r[2] = {nullptr, nullptr};
    for (int k = 0; k < 2; ++k)
        if (GeometrObj* o = c->frag(k) ? object(c->frag(k)->id) : nullptr)
            r[k] = object(o->rootId());
    return {r[0], r[1]};
}

void PanelGLArea::paintOverlay(QPainter*) {
    const float scale = 1.0f / trackball.scale();
    for (auto it = shownConstraints.begin(); it != shownConstraints.end();) {
        Constraint* c = graph ? graph->getConstraint(*it) : nullptr;
        if (!c) {
            it = shownConstraints.erase(it); // deleted since it was shown
            continue;
        }
        ++it;
        const auto [r0, r1] = roots(c);
        const bool visible0 = r0 && r0->isVisible(), visible1 = r1 && r1->isVisible();
        const QString label = QString::number(c->id());
        if (visible0 && visible1) {
            c->draw();
            queueLabel(c->firstPoint(c->frag(0)), 0.0, label);
        } else if (visible0 || visible1) {
            ObjId* side = c->frag(visible0 ? 0 : 1);
            drawSideOf(*c, side, scale, SidePoints::Moved);
            queueLabel(c->firstPoint(side), sphereRadius(*c, c->sideOf(side), scale), label);
        }
    }
}

GeometrObj* PanelGLArea::pickObject(std::vector<std::uint32_t>& hits) {
    if (clicks.empty())
        return nullptr;
    const QPoint pixel = clickedPixel();
    const int x = pixel.x(), y = pixel.y();
    for (int id : shownObjects)
        if (GeometrObj* o = object(id); o && o->isVisible())
            if (GeometrObj* hit = searchPick(o, x, y, hits))
                return hit;
    return nullptr;
}

std::unique_ptr<FragGroup> PanelGLArea::makeFragmentGroup() {
    return ::makeFragmentGroup(graph, {shownObjects.begin(), shownObjects.end()});
}

void PanelGLArea::addObject(int id) {
    shownObjects.insert(id);
    if (GeometrObj* o = object(id); o && o->isVisible())
        box.add(o->getMeshBBox());
}

void PanelGLArea::removeObject(int id) {
    if (!isShown(id))
        return;
    if (GeometrObj* o = object(id)) {
        o->setMarked(false);
        o->setVisible(false);
    }
    shownObjects.erase(id);
}

void PanelGLArea::refitBox() {
    box = shownBox();
}

bool PanelGLArea::anyShownContains(int id) const {
    for (int shown : shownObjects)
        if (GeometrObj* o = object(shown); o && o->containsId(id))
            return true;
    return false;
}

ErrorReport PanelGLArea::updateErrors() {
    if (!errorView || !listener || !graph)
        return {};
    ErrorReport report =
        errorView->update(graph, {shownObjects.begin(), shownObjects.end()}, listener->getTolerance());
    update();
    return report;
}
