#include "scene_renderer.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "gl_functions.h"
#include "rband.h"
#include "scene_drawer.h"

#include <QPaintDevice>
#include <QPainter>
#include <cmath>
#include <vector>

namespace {

constexpr int SphereSlices = 36;
bool showTextures = true;
// How much of the focus colour a focused textured fragment takes on.
constexpr float FocusTint = 0.45f;
constexpr int SphereStacks = 18;

Color4b drawnColor(const Constraint& c) {
    return c.isFocused() ? c.getFocusColor() : c.getColor();
}

void setColor(QOpenGLFunctions_2_1& gl, const Constraint& c) {
    const Color4b col = drawnColor(c);
    gl.glColor4ub(col.r, col.g, col.b, col.a);
}

// First point of a range, if any.
bool firstOf(const Constraint::PointRange& range, Point3d& out) {
    if (range.empty())
        return false;
    out = range.begin()->second;
    return true;
}

class SceneRenderer : public SceneDrawer {
public:
    void drawFragment(Fragment& f, bool showMarkedFaces) override;
    void drawFragmentPickColors(Fragment& f) override;
    void drawConstraintMarkers(GeometrObj& o, QPainter* painter) override;
    void drawConstraint(Constraint& c) override;
    void drawConstraintSide(Constraint& c, const ObjId* side, float scale, SidePoints points) override;
    void forgetFragment(const Fragment* f) override { releaseFragmentBuffers(f); }

private:
    // Faces first .. first + count of b's index buffer, with the arrays bound.
    static void drawFaces(QOpenGLFunctions_2_1& gl, const FragmentBuffers& b, std::size_t first,
                          std::size_t count);
    // Ranges of a textured mesh's faces, each with its material's image (or in its colours).
    void drawTexturedRanges(QOpenGLFunctions_2_1& gl, const FragmentBuffers& b,
                            const std::vector<FragmentBuffers::MaterialRange>& ranges);

    struct Label {
        WindowDisc disc;
        QString text;
    };
    void queueLabel(QOpenGLFunctions_2_1& gl, const Point3d& p, double sphereRadius, const QString& text);
    void flushLabels(QOpenGLFunctions_2_1& gl, QPainter* painter);

    std::vector<Label> labels;
    int markerDepth = 0;      // nesting of drawConstraintMarkers through the groups' members
    bool focusedDraw = false; // the fragment drawn is focused (its highlight colours are bound)
    Color4b focusColor;       // of the fragment drawn
};

void SceneRenderer::drawFragment(Fragment& f, bool showMarkedFaces) {
    QOpenGLFunctions_2_1* glp = currentFixedFunctions();
    if (!glp)
        return;
    QOpenGLFunctions_2_1& gl = *glp;
    FragmentBuffers* b = FragmentBufferCache::instance().prepare(gl, f);
    if (!b || b->faceCount == 0)
        return;

    gl.glPushAttrib(GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_TRANSFORM_BIT);
    gl.glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    gl.glMatrixMode(GL_MODELVIEW);
    gl.glPushMatrix();
    gl.glTranslated(b->origin.x(), b->origin.y(), b->origin.z());

    gl.glBindBuffer(GL_ARRAY_BUFFER, b->positions);
    gl.glVertexPointer(3, GL_FLOAT, 0, nullptr);
    gl.glEnableClientState(GL_VERTEX_ARRAY);
    gl.glBindBuffer(GL_ARRAY_BUFFER, b->normals);
    gl.glNormalPointer(GL_FLOAT, 0, nullptr);
    gl.glEnableClientState(GL_NORMAL_ARRAY);
    focusedDraw = f.isFocused();
    focusColor = f.getFocusColor();
    gl.glBindBuffer(GL_ARRAY_BUFFER, focusedDraw ? b->highlights : b->colors);
    gl.glColorPointer(4, GL_UNSIGNED_BYTE, 0, nullptr);
    gl.glEnableClientState(GL_COLOR_ARRAY);
    gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b->indices);

    const std::size_t unmarked = b->faceCount - b->markedCount;
    const bool textured = showTextures && b->texCoords;
    if (textured)
        drawTexturedRanges(gl, *b, b->unmarkedRanges);
    else if (unmarked > 0)
        drawFaces(gl, *b, 0, unmarked);
    if (b->markedCount > 0) {
        if (showMarkedFaces) {
            gl.glDisableClientState(GL_COLOR_ARRAY);
            gl.glColor4f(1.0f, 0.0f, 0.0f, 1.0f);
            drawFaces(gl, *b, unmarked, b->markedCount);
        } else if (textured) {
            drawTexturedRanges(gl, *b, b->markedRanges);
        } else {
            drawFaces(gl, *b, unmarked, b->markedCount);
        }
    }

    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    gl.glPopMatrix();
    gl.glPopClientAttrib();
    gl.glPopAttrib();
}

void SceneRenderer::drawFaces(QOpenGLFunctions_2_1& gl, const FragmentBuffers& b, std::size_t first,
                              std::size_t count) {
    // The index range spares the driver a scan of the indices.
    const auto last = GLuint(b.drawnVertexCount > 0 ? b.drawnVertexCount - 1 : 0);
    const auto offset = static_cast<std::uintptr_t>(3 * first * sizeof(GLuint));
    gl.glDrawRangeElements(GL_TRIANGLES, 0, last, GLsizei(3 * count), GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(offset));
}

void SceneRenderer::drawTexturedRanges(QOpenGLFunctions_2_1& gl, const FragmentBuffers& b,
                                       const std::vector<FragmentBuffers::MaterialRange>& ranges) {
    gl.glPushAttrib(GL_TEXTURE_BIT | GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT);
    gl.glBindBuffer(GL_ARRAY_BUFFER, b.texCoords);
    gl.glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    gl.glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    const GLboolean colorMaterial = gl.glIsEnabled(GL_COLOR_MATERIAL);
    // The image is lit as the rest, by a material of its own: white, or a focused fragment's
    // highlight mixed with white, so that the picture still shows through the tint. (The current
    // colour that colour tracking would take is not dependable once a colour array was in use.)
    const GLfloat tint = focusedDraw ? FocusTint : 0.0f;
    const GLfloat material[4] = {1.0f - tint + tint * float(focusColor.r) / 255.0f,
                                 1.0f - tint + tint * float(focusColor.g) / 255.0f,
                                 1.0f - tint + tint * float(focusColor.b) / 255.0f, 1.0f};
    for (const FragmentBuffers::MaterialRange& r : ranges) {
        const GLuint image = r.material < b.textures.size() ? b.textures[r.material] : 0;
        if (image) {
            gl.glEnable(GL_TEXTURE_2D);
            gl.glBindTexture(GL_TEXTURE_2D, image);
            gl.glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
            gl.glDisableClientState(GL_COLOR_ARRAY);
            gl.glDisable(GL_COLOR_MATERIAL);
            gl.glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, material);
            gl.glColor4fv(material);
        } else { // a material without image shows the fragment's colours
            gl.glDisable(GL_TEXTURE_2D);
            if (colorMaterial)
                gl.glEnable(GL_COLOR_MATERIAL);
            gl.glEnableClientState(GL_COLOR_ARRAY);
        }
        drawFaces(gl, b, r.first, r.count);
    }
    gl.glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    gl.glEnableClientState(GL_COLOR_ARRAY);
    gl.glPopAttrib();
}

void SceneRenderer::drawFragmentPickColors(Fragment& f) {
    QOpenGLFunctions_2_1* glp = currentFixedFunctions();
    if (!glp)
        return;
    QOpenGLFunctions_2_1& gl = *glp;
    FragmentBufferCache& cache = FragmentBufferCache::instance();
    FragmentBuffers* b = cache.prepare(gl, f);
    if (!b || b->faceCount == 0)
        return;
    cache.preparePick(gl, *b, f.mesh());

    // The read-back colours must equal the codes: no lighting, blending, dithering or fog, and
    // one colour per face.
    gl.glPushAttrib(GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_TRANSFORM_BIT | GL_ENABLE_BIT |
                    GL_COLOR_BUFFER_BIT);
    gl.glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    gl.glDisable(GL_LIGHTING);
    gl.glDisable(GL_BLEND);
    gl.glDisable(GL_DITHER);
    gl.glDisable(GL_FOG);
    gl.glDisable(GL_TEXTURE_2D);
    gl.glShadeModel(GL_FLAT);
    gl.glMatrixMode(GL_MODELVIEW);
    gl.glPushMatrix();
    gl.glTranslated(b->origin.x(), b->origin.y(), b->origin.z());

    gl.glBindBuffer(GL_ARRAY_BUFFER, b->pickPositions);
    gl.glVertexPointer(3, GL_FLOAT, 0, nullptr);
    gl.glEnableClientState(GL_VERTEX_ARRAY);
    gl.glBindBuffer(GL_ARRAY_BUFFER, b->pickColors);
    gl.glColorPointer(4, GL_UNSIGNED_BYTE, 0, nullptr);
    gl.glEnableClientState(GL_COLOR_ARRAY);
    gl.glDisableClientState(GL_NORMAL_ARRAY);
    gl.glDrawArrays(GL_TRIANGLES, 0, GLsizei(3 * b->faceCount));

    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glPopMatrix();
    gl.glPopClientAttrib();
    gl.glPopAttrib();
}

void SceneRenderer::drawConstraint(Constraint& c) {
    QOpenGLFunctions_2_1* glp = currentFixedFunctions();
    Point3d p0, p1;
    if (!glp || !firstOf(c.samplePoints(0), p0) || !firstOf(c.samplePoints(1), p1))
        return;
    QOpenGLFunctions_2_1& gl = *glp;
    gl.glPushAttrib(GL_ALL_ATTRIB_BITS);
    gl.glDisable(GL_LIGHTING);
    gl.glLineWidth(3.0f);
    setColor(gl, c);
    gl.glBegin(GL_LINES);
    gl.glVertex3d(p0.x(), p0.y(), p0.z());
    gl.glVertex3d(p1.x(), p1.y(), p1.z());
    gl.glEnd();
    gl.glPopAttrib();
}

void SceneRenderer::drawConstraintSide(Constraint& c, const ObjId* side, float scale, SidePoints points) {
    QOpenGLFunctions_2_1* glp = currentFixedFunctions();
    if (!glp)
        return;
    const int k = c.sideOf(side);
    Point3d p;
    if (!firstOf(points == SidePoints::Recorded ? c.refSamplePoints(k) : c.samplePoints(k), p))
        return;
    const double radius = sphereRadius(c, k, scale);
    if (radius == 0.0)
        return; // a sphere of radius 0 covers no pixel
    drawSphere(*glp, p, radius, drawnColor(c));
}

void SceneRenderer::drawConstraintMarkers(GeometrObj& o, QPainter* painter) {
    QOpenGLFunctions_2_1* glp = currentFixedFunctions();
    if (!glp)
        return;
    QOpenGLFunctions_2_1& gl = *glp;
    ++markerDepth;
    ObjId* self = &o.objId();
    auto* group = dynamic_cast<FragGroup*>(&o);
    const std::vector<Constraint*> attached = o.constraintList(); // drawing must not see edits
    for (Constraint* c : attached) {
        const int k = c->sideOf(self);
        Point3d at;
        bool labelled;
        double radius = 0.0; // of the sphere drawn
        if (!group) {
            drawSideOf(*c, self, 1.0f, SidePoints::Recorded);
            radius = sphereRadius(*c, k, 1.0f);
            labelled = firstOf(c->samplePoints(k), at);
        } else if (!o.isTopLevel()) {
            c->draw();
            labelled = firstOf(c->samplePoints(k), at);
        } else if (group->isWrapper()) {
            drawSideOf(*c, self, 1.0f, SidePoints::Recorded);
            radius = sphereRadius(*c, k, 1.0f);
            labelled = firstOf(c->refSamplePoints(k), at);
        } else {
            drawSideOf(*c, self, 0.0f, SidePoints::Recorded); // only the label shows
            labelled = firstOf(c->samplePoints(k), at);
        }
        if (labelled && painter)
            queueLabel(gl, at, radius, QString::number(c->id()));
    }
    // A user group passes the call on to its members; a wrapper does not (its fragment's
    // constraints are the wrapper's).
    if (group && !group->isWrapper())
        for (const auto& [id, child] : group->childMap())
            child->drawConstraints(painter);
    if (--markerDepth == 0)
        flushLabels(gl, painter);
}

void SceneRenderer::queueLabel(QOpenGLFunctions_2_1& gl, const Point3d& p, double sphereRadius,
                               const QString& text) {
    Eigen::Matrix4d projection, modelView;
    std::array<int, 4> viewport{};
    gl.glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
    gl.glGetDoublev(GL_MODELVIEW_MATRIX, modelView.data());
    gl.glGetIntegerv(GL_VIEWPORT, viewport.data());
    WindowDisc disc;
    if (projectDisc(p, sphereRadius, projection, modelView, viewport, disc))
        labels.push_back({disc, text});
}

void SceneRenderer::flushLabels(QOpenGLFunctions_2_1& gl, QPainter* painter) {
    if (!painter || labels.empty()) {
        labels.clear();
        return;
    }
    Eigen::Matrix4d projection, modelView;
    GLint matrixMode = GL_MODELVIEW;
    gl.glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
    gl.glGetDoublev(GL_MODELVIEW_MATRIX, modelView.data());
    gl.glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    gl.glPushAttrib(GL_ALL_ATTRIB_BITS);
    gl.glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    // QPainter's text disappears behind the scene with the depth test on.
    gl.glDisable(GL_DEPTH_TEST);
    painter->endNativePainting();

    QPaintDevice* device = painter->device();
    const double ratio = device ? device->devicePixelRatioF() : 1.0;
    const double height = device ? device->height() : 0.0;
    std::vector<LabelSpot> spots;
    for (const Label& l : labels)
        spots.push_back(labelSpot(l.disc, height, ratio, l.text));
    labels.clear();
    drawLabels(*painter, spots);

    painter->beginNativePainting();
    gl.glPopClientAttrib();
    gl.glPopAttrib();
    // Native painting loads QPainter's own matrices; put the scene's back.
    gl.glMatrixMode(GL_PROJECTION);
    gl.glLoadMatrixd(projection.data());
    gl.glMatrixMode(GL_MODELVIEW);
    gl.glLoadMatrixd(modelView.data());
    gl.glMatrixMode(GLenum(matrixMode));
}

} // namespace

void setTexturesShown(bool shown) {
    showTextures = shown;
}

bool texturesShown() {
    return showTextures;
}

void installSceneRenderer() {
    static SceneRenderer* renderer = new SceneRenderer; // lives as long as the program
    if (sceneDrawer() != renderer)
        setSceneDrawer(renderer);
}

RenderCounters sceneRenderCounters() {
    return FragmentBufferCache::instance().counters();
}

void resetSceneRenderCounters() {
    FragmentBufferCache::instance().resetCounters();
}

void releaseFragmentBuffers(const Fragment* f) {
    FragmentBufferCache::instance().release(f);
}

void drawSideOf(Constraint& c, const ObjId* side, float scale, SidePoints points) {
    c.drawSide(side, scale, points == SidePoints::Recorded ? 1 : 0);
}

double sphereRadius(const Constraint& c, int k, float scale) {
    const auto* band = dynamic_cast<const RBand*>(&c);
    return band ? std::abs(double(band->radius(k)) * double(scale)) : 0.0;
}

const SphereMesh& unitSphere() {
    static const SphereMesh sphere = [] {
        SphereMesh s;
        s.vertices.reserve(3 * (SphereSlices + 1) * (SphereStacks + 1));
        for (int i = 0; i <= SphereStacks; ++i) {
            const double phi = M_PI * i / SphereStacks;
            for (int j = 0; j <= SphereSlices; ++j) {
                const double theta = 2.0 * M_PI * j / SphereSlices;
                s.vertices.push_back(float(std::sin(phi) * std::cos(theta)));
                s.vertices.push_back(float(std::sin(phi) * std::sin(theta)));
                s.vertices.push_back(float(std::cos(phi)));
            }
        }
        const GLuint row = SphereSlices + 1;
        for (GLuint i = 0; i < SphereStacks; ++i)
            for (GLuint j = 0; j < SphereSlices; ++j) {
                const GLuint a = i * row + j, b = a + row;
                s.indices.insert(s.indices.end(), {a, b, a + 1, a + 1, b, b + 1});
            }
        return s;
    }();
    return sphere;
}

void drawSphere(QOpenGLFunctions_2_1& gl, const Point3d& p, double radius, const Color4b& col) {
    const SphereMesh& sphere = unitSphere();
    gl.glPushAttrib(GL_ALL_ATTRIB_BITS);
    gl.glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    gl.glDisable(GL_LIGHTING);
    gl.glColor4ub(col.r, col.g, col.b, col.a);
    gl.glMatrixMode(GL_MODELVIEW);
    gl.glPushMatrix();
    gl.glTranslated(p.x(), p.y(), p.z());
    gl.glScaled(radius, radius, radius);
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    gl.glVertexPointer(3, GL_FLOAT, 0, sphere.vertices.data());
    gl.glNormalPointer(GL_FLOAT, 0, sphere.vertices.data());
    gl.glEnableClientState(GL_VERTEX_ARRAY);
    gl.glEnableClientState(GL_NORMAL_ARRAY);
    gl.glDisableClientState(GL_COLOR_ARRAY);
    gl.glDrawElements(GL_TRIANGLES, GLsizei(sphere.indices.size()), GL_UNSIGNED_INT, sphere.indices.data());
    gl.glPopMatrix();
    gl.glPopClientAttrib();
    gl.glPopAttrib();
}
