#pragma once
// The texture of a fragment mesh: texture coordinates per face corner and the images of the file's
// materials. Photogrammetry hands sherds over this way, and the painted decoration is often what
// tells where a piece goes.
//
// The coordinates are kept ready for drawing: a vertex that has one coordinate on all its corners
// is drawn once, and a vertex on a seam of the texture map (different coordinates on different
// corners) is drawn once per coordinate. Drawn vertex v < vertexCount is mesh vertex v; the ones
// after it are copies of the vertices seamCopies names.

#include "geometry_types.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

struct FragMesh;

// One material of the file and its image.
struct TextureMaterial {
    QString name;      // the material's name (usemtl / newmtl), or empty when the file names none
    QString imageName; // the image as the file names it
    QString imagePath; // the file looked for; empty when the name was refused
    std::shared_ptr<const QImage> image; // null when the image is missing or unreadable
    QString problem; // why there is no image, naming it ("sherd.obj: sherd.jpg: no such image")
};

struct MeshTexture {
    using Face = std::array<std::uint32_t, 3>;

    std::vector<TextureMaterial> materials;
    std::size_t vertexCount = 0;              // the mesh's vertices
    std::vector<std::uint32_t> seamCopies;    // drawn vertex vertexCount + k copies mesh vertex seamCopies[k]
    std::vector<Eigen::Vector2f> coords;      // per drawn vertex, (u, v) with v upwards in the image
    std::vector<Face> faces;                  // per mesh face, its drawn vertices
    std::vector<std::uint16_t> faceMaterials; // per mesh face; empty when every face has material 0

    std::size_t drawnVertexCount() const { return coords.size(); }
    std::uint32_t meshVertexOf(std::uint32_t drawn) const {
        return drawn < vertexCount ? drawn : seamCopies[drawn - vertexCount];
    }
    Eigen::Vector2f cornerCoord(std::size_t face, int corner) const { return coords[faces[face][corner]]; }
    std::uint16_t materialOf(std::size_t face) const {
        return faceMaterials.empty() ? std::uint16_t(0) : faceMaterials[face];
    }
    // True when at least one material has its image.
    bool hasImage() const;
    // The problems of the materials without image, one line each.
    QStringList problems() const;
    // Bytes of the coordinates and faces (capacity), and of the decoded images.
    std::size_t memoryBytes() const;
};

// Builds the drawn vertices of mesh (its faces and vertex count) from coordinates given per face
// corner (three per face, in face order) and a material per face (empty for all 0). The first
// coordinate met at a vertex keeps the vertex's own index, later different ones get copies in the
// order they are met. A coordinate that is not finite counts as (0, 0), and -0 as 0. Runs on all
// cores; the result depends only on the input, and the time is linear in the corners however many
// copies one vertex has.
MeshTexture weldTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                               std::vector<std::uint16_t> faceMaterials);

// A corner without texture coordinate, for weldIndexedTextureCorners: (0, 0).
constexpr std::uint32_t NoTextureCoord = 0xffffffffu;

// weldTextureCorners with the coordinates given as a table and, per face corner, an index into it
// (or NoTextureCoord), as an OBJ file gives them: the same result without a coordinate per corner.
MeshTexture weldIndexedTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& coords,
                                      const std::vector<std::uint32_t>& cornerCoords,
                                      std::vector<std::uint16_t> faceMaterials);

// What a reader ends with for a file with texture coordinates: mesh.texture set from the corner
// coordinates (weldTextureCorners) and the materials, each image found and read beside the mesh
// file at meshPath (findTextureImages; materials come with name and imageName set). Needs the
// mesh's faces; a missing or unreadable image leaves its material without image and with a problem.
void attachTexture(FragMesh& mesh, const QString& meshPath, const std::vector<Eigen::Vector2f>& cornerCoords,
                   std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials);
// The same with materials whose images were looked for already (findTextureImages), so that a
// reader can have the images decoded while it parses; and with the corners already welded.
void attachFoundTexture(FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                        std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials);
void attachFoundTexture(FragMesh& mesh, MeshTexture welded, std::vector<TextureMaterial> materials);

// The largest image side read, and the largest number of pixels.
constexpr int MaxTextureSide = 16384;
constexpr qint64 MaxTexturePixels = qint64(16384) * 16384;

// Where a file that the mesh file at meshPath names (an image, a material library) is looked for:
// relative to the mesh's folder, and an absolute name (written on another machine, as a rule) by
// its file name beside the mesh. Empty for a name that climbs out of that folder ("../x.jpg"),
// which is never read: a mesh from elsewhere must not make Ostrakit open files around it.
QString fileBesideMesh(const QString& meshPath, const QString& name);

// Finds the image `name`, as the mesh file at meshPath names it (fileBesideMesh), and reads it.
// Sets material.imagePath and material.image, or material.problem.
void findTextureImage(const QString& meshPath, TextureMaterial& material);
// findTextureImage for every material that names an image; the others keep the problem their
// reader gave them. Each image file is read once however many materials name it, and different
// files are decoded at the same time; the result does not depend on the number of cores.
void findTextureImages(const QString& meshPath, std::vector<TextureMaterial>& materials);

// Reads the image at path, refusing one larger than MaxTextureSide or MaxTexturePixels before it is
// decoded (a PNG's size is taken from its header as written, so that a size beyond what the
// decoder accepts is named too). Null with problem set on failure (problem names the image).
std::shared_ptr<const QImage> readTextureImage(const QString& path, QString& problem);
