#include "mesh_file_reader.h"

namespace {
MeshFileReader* installedReader = nullptr;
}

void setMeshFileReader(MeshFileReader* reader) {
    installedReader = reader;
}
MeshFileReader* meshFileReader() {
    return installedReader;
}
