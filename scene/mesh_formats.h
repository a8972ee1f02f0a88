#pragma once
// The mesh file formats Ostrakit reads, by file-name suffix. The readers live in the io layer,
// which registers them (installMeshReaders() in io/mesh_readers.h); the scene, the command line
// and the file dialogs only look them up here, so that a new format is one reader and one
// registration.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

struct FragMesh;

struct MeshFormat {
    QString suffix; // lower case, without the dot
    QString name;   // as the file dialog lists it
    // Reads the file into an empty mesh: positions, file colours (and hasVertexColors) and faces,
    // exactly as stored. On failure returns false, leaves the mesh empty and sets error to a message
    // that can be shown to the user.
    std::function<bool(const QString& path, FragMesh& mesh, QString& error)> read;
};

// Adds the format, or replaces the one registered for the same suffix (keeping its place).
// Meant for start-up; it is safe to call while meshes are read on other threads all the same.
void registerMeshFormat(MeshFormat format);
// In the order of their first registration.
std::vector<MeshFormat> meshFormats();
// The format of path's suffix: the last "."-separated piece of the file name (the whole name when
// it has no dot), in any letter case.
std::optional<MeshFormat> meshFormatFor(const QString& path);
// The registered suffixes, in order: {"ply", "obj", "stl", "off"}.
QStringList meshSuffixes();
// One file-dialog filter per format after one for all of them:
// "All meshes (*.ply *.obj *.stl *.off);;ply (*.ply);;obj (*.obj);;stl (*.stl);;off (*.off)".
QString meshFileDialogFilter();

// Reads path with the format of its suffix. A file of an unknown suffix is refused without being
// opened ("mesh.xyz: unknown mesh format; Ostrakit reads .ply, .obj, .stl and .off"). Otherwise as
// MeshFormat::read.
bool readMeshFile(const QString& path, FragMesh& mesh, QString& error);
