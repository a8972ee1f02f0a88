#pragma once
// OpenGL drawing of the scene objects (fragments, groups' members, rubber-band constraints and
// their id labels), installed as the scene's SceneDrawer. Meshes are drawn from buffer objects
// kept on the GPU, uploaded once and refreshed only for what changed (FragMesh::changes).
//
// Contract with the views:
// - Drawing needs a current OpenGL 2.1 compatibility context; the buffers live in the context's
//   share group (all views share one with Qt::AA_ShareOpenGLContexts).
// - Fragments are drawn with the caller's lighting, colour material and matrices; the renderer
//   restores every state it changes (attributes, client arrays, buffer bindings, matrices).
// - drawConstraintMarkers(o, painter) expects the painter to be in native painting (between
//   beginNativePainting and endNativePainting); it leaves native painting briefly to draw the id
//   labels and returns in native painting with the GL state and matrices as they were. With a
//   null painter only the markers are drawn.

#include "render_buffers.h"

#include "scene_drawer.h"
#include "view_labels.h"

class Constraint;
class Fragment;
class QOpenGLFunctions_2_1;

// Installs the renderer (once; later calls do nothing). Drawing needs a current OpenGL 2.1
// compatibility context.
void installSceneRenderer();

// Whether textured fragments show their texture (lit like the rest) or their colour, as other
// fragments do (the group colours). Shown by default.
void setTexturesShown(bool shown);
bool texturesShown();

// GPU traffic since the last reset (every buffer upload counts), for tests and benchmarks: a
// frame in which nothing changed adds nothing.
RenderCounters sceneRenderCounters();
void resetSceneRenderCounters();

// Frees the GPU copies of f's mesh in every share group, whatever context is current (a deleted
// fragment calls it; buffers of a fragment that is no longer drawn are freed after some idle
// minutes anyway). A fragment drawn again afterwards is uploaded again.
void releaseFragmentBuffers(const Fragment* f);

// Side `side` of c drawn by the constraint itself at the given points (Constraint::drawSide takes
// them as an integer).
void drawSideOf(Constraint& c, const ObjId* side, float scale, SidePoints points);

// Radius (scene units) of the sphere drawConstraintSide draws for side k of c at that scale: 0
// for constraints without spheres.
double sphereRadius(const Constraint& c, int k, float scale);

// A sphere of the given radius (scene units) at p, unlit, in col; the GL state is kept.
void drawSphere(QOpenGLFunctions_2_1& gl, const Point3d& p, double radius, const Color4b& col);

// The unit sphere the constraint sides are drawn with: 36 slices x 18 stacks, positions (which
// are also the normals) three floats per vertex, triangles as index triples.
struct SphereMesh {
    std::vector<float> vertices;
    std::vector<GLuint> indices;
};
const SphereMesh& unitSphere();
