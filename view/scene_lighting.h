#pragma once
// The fixed-function state in which every view draws the scene: the working areas, the solved
// area, the zoom window and the thumbnails alike.

class QOpenGLFunctions_2_1;

// Light 0 at its OpenGL defaults, colour material, normalised normals and the depth test; both
// sides of every triangle drawn and lit, since scanned pieces are thin open shells seen from
// either side. Call with the view's context current.
void applySceneLighting(QOpenGLFunctions_2_1& gl);
