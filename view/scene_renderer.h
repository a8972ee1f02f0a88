#pragma once
// OpenGL drawing of the scene objects (fragments, groups' members, rubber-band constraints and
// their id labels), installed as the scene's SceneDrawer. Meshes are drawn from buffer objects
// kept on the GPU, uploaded once and refreshed only for what changed (FragMesh::changes).

// Installs the renderer (once; later calls do nothing). Drawing needs a current OpenGL 2.1
// compatibility context.
void installSceneRenderer();
