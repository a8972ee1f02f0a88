#pragma once
// Reading fragment meshes from their files and preparing them for drawing, one mesh or many at
// once on all cores.

#include "mesh_formats.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct FragMesh;

// Reads the mesh file at path into mesh with the format of its suffix (readMeshFile in
// mesh_formats.h), then prepares it: attributes, bounding box (also kept as the file's box),
// normals, adjacency and the file's centroid. On failure mesh is left empty and error tells why.
bool readPreparedMesh(const QString& path, FragMesh& mesh, QString& error);

// One mesh to read: the first of candidates that can be read wins. Candidates after the first are
// only tried when they are existing files.
struct MeshLoad {
    QStringList candidates;
    std::shared_ptr<FragMesh> mesh; // set when a candidate was read
    int used = -1;                  // the candidate read, or -1
    QString error; // when none was read: the problem of the first that is a file, else of the first
};

struct MeshLoadOptions {
    unsigned threads = 0; // meshes read at the same time; 0 for one per core
    // Called on the calling thread about every 50 ms and at the end with the meshes done so far.
    // Returning false stops reading meshes not yet begun (they are left unread, without error).
    std::function<bool(int done, int total)> progress;
};

// Reads every load, several at the same time, and returns when all are done. The result does not
// depend on the number of threads.
void loadMeshes(std::vector<MeshLoad>& loads, const MeshLoadOptions& options = {});
