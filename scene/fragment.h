#pragma once

#include "frag_mesh.h"
#include "geometr_obj.h"

#include <QString>
#include <memory>
#include <vector>

// One scanned piece: a triangle mesh read from a mesh file (PLY, OBJ, STL, OFF). It always lives inside its
// own hidden wrapper group with the same id; the graph reaches it through that wrapper.
class Fragment : public GeometrObj {
public:
    explicit Fragment(BaseGraph* graph);
    ~Fragment() override;
    // Sets the path and reads the mesh at once; the caller checks hasMesh()/loadError() and then
    // calls computeCentroid().
    Fragment(BaseGraph* graph, const QString& meshPath);

    void setColor(Color4b c) override;
    int isFragment() const override { return 1; }
    void applyTransform(const Matrix44d* m) override;
    void draw(bool showMarkedFaces) override;
    void drawHighlighted(bool showMarkedFaces) override;
    bool hasConstraintsDeep() const override { return hasDeepConstraints; }
    QString displayName() const override { return name; }
    Box3d getMeshBBox() const override { return meshData->bbox; }
    void setMarked(bool m) override { marked = m; }
    void setId(int newId) override { objIdentity.id = newId; }
    bool isMarked() const override { return marked; }
    Point3d currentCentroid() const override { return currentCentroidPoint; }
    void setColorFrom(const Color4b& c) override { setColor(c); }
    void drawPickColors() override;
    int faceFromPickColor(int r, int g, int b, GeometrObj** owner) override;
    QString imageKey() const override;

    // Reads the file at path: ".ply" in any letter case with the PLY reader, anything else with the
    // OBJ reader; then box, vertex and face normals, face adjacency. On failure the mesh stays
    // empty and loadError() tells why.
    bool loadMesh();
    QString loadError() const { return lastLoadError; }
    bool hasMesh() const { return !meshData->faces.empty() || !meshData->vertices.empty(); }
    // centroid := mean of the vertex positions; currentCentroid := centroid.
    void computeCentroid();
    // name and fileName := the file-name part of path.
    void setPathNames();
    void setPath(const QString& p) { path = p; }
    // Where the mesh file is (as passed, or as found when a project was read).
    QString meshPath() const { return path; }
    // The project names the mesh relative to the project file's folder, and is to go on doing so
    // wherever it is saved next.
    void setPathRelativeToProject(bool relative) { relativeToProject = relative; }
    bool pathRelativeToProject() const { return relativeToProject; }
    QString fileName() const { return fileNamePart; }

    // Face k gets pick code base + k and the matching pick colour.
    void assignPickColors();
    void setBasePickCode(int base) { basePickCode = base; }
    int getBasePickCode() const { return basePickCode; }

    FragMesh& mesh() { return *meshData; }
    const FragMesh& mesh() const { return *meshData; }
    // The mesh object itself: an undo step keeps it alive after the fragment has gone.
    const std::shared_ptr<FragMesh>& sharedMesh() const { return meshData; }
    // Takes over a mesh kept from an earlier state of the project (its file box and centroid
    // included); syncPlacement() then moves it to this fragment's matrix.
    void adoptMesh(std::shared_ptr<FragMesh> kept);
    // Moves the vertices from where the mesh is placed to this fragment's matrix (all of the matrix
    // for a freshly read mesh), with box, normals and current centroid.
    void syncPlacement();

private:
    std::shared_ptr<FragMesh> meshData = std::make_shared<FragMesh>(); // never null
    Point3d currentCentroidPoint = Point3d::Zero(); // matrix * centroid, kept after every transform
    QString path;
    bool relativeToProject = false;
    bool marked = false;
    std::vector<int> pickCodes;
    int basePickCode = 0;
    QString fileNamePart;
    bool hasDeepConstraints = false; // a fragment never holds constraints of members
    QString lastLoadError;
};
