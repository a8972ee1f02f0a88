#pragma once
// Reading project files. A file is read completely into a graph of its own; only a complete,
// consistent read is reported as success, so the caller can keep the open project otherwise.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>

#include "mesh_loading.h"
#include <map>
#include <memory>
#include <utility>

class QXmlStreamReader;
class TotalGraph;
struct FragMesh;

// A fragment's mesh already in memory, used instead of reading its file again.
struct KeptMesh {
    std::shared_ptr<FragMesh> mesh;
    QString path;          // the fragment's mesh path
    bool relative = false; // the project names it relative to its folder
};
// By the fragment's key ("parent:id") and the mesh path as the project text names it.
using KeptMeshes = std::map<std::pair<QString, QString>, KeptMesh>;

struct ProjectReadReport {
    enum Status { Ok, CannotOpen, BadlyWritten };
    Status status = Ok;
    QString detail;              // what was wrong ("line N: ..." where the text is at fault)
    QStringList missingMeshes;   // mesh files that could not be read, each "path: reason"
    QStringList meshFolders;     // the folders where the missing meshes were looked for
    QStringList missingTextures; // images of meshes read without them, each "mesh: image: reason"

    bool ok() const { return status == Ok; }
};

// Reads the project at path into graph, which must be empty and should have no listener (nothing
// is reported while reading). Mesh paths that cannot be read as written are also tried relative to
// the project's folder and as a bare file name in that folder; a relative path stays relative to
// the project when it is saved again. Files beyond any real project (over 64 MiB, a tag or
// attribute over 1 MiB, groups nested over 1,000 deep) are refused as badly written. On failure
// graph is left empty.
// meshFolder, when given, is where relative mesh paths start from instead of the file's folder.
// The meshes are read on all cores (see loadMeshes and its options) before the project text is
// read; the result is the same with any number of threads.
ProjectReadReport readProjectFile(const QString& path, TotalGraph& graph, const QDir* meshFolder = nullptr,
                                  const MeshLoadOptions& loading = {});

// Reads the "Graph" element the reader stands on into graph. meshFolder is where relative and
// moved mesh paths are looked for. A fragment found in kept takes that mesh, placed by its matrix,
// instead of reading the file.
ProjectReadReport readGraph(TotalGraph& graph, QXmlStreamReader& reader, const QDir& meshFolder,
                            const KeptMeshes* kept = nullptr);
// Reads project text as projectFileText writes it for folder, with the meshes of kept.
ProjectReadReport readProjectText(const QByteArray& text, TotalGraph& graph, const QDir& folder,
                                  const KeptMeshes* kept, const MeshLoadOptions& loading = {});
