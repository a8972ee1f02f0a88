#include "scene_lighting.h"

#include <QOpenGLFunctions_2_1>

void applySceneLighting(QOpenGLFunctions_2_1& gl) {
    gl.glEnable(GL_LIGHTING);
    gl.glEnable(GL_LIGHT0);
    gl.glEnable(GL_NORMALIZE);
    gl.glEnable(GL_COLOR_MATERIAL);
    gl.glEnable(GL_DEPTH_TEST);
    gl.glDisable(GL_CULL_FACE);
    gl.glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
}
