#include "scene_drawer.h"

namespace {
SceneDrawer* installedDrawer = nullptr;
}

void setSceneDrawer(SceneDrawer* drawer) {
    installedDrawer = drawer;
}
SceneDrawer* sceneDrawer() {
    return installedDrawer;
}
