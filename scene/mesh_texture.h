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
// coordinate met at a vertex keeps the vertex's own index, later different ones get copies: those
// of vertices 0..65535 first, in the order their corners are met, then those of the next 65536
// vertices, and so on. Runs on all cores; the result depends only on the input. A coordinate that
// is not finite counts as (0, 0).
MeshTexture weldTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                               std::vector<std::uint16_t> faceMaterials);

// What a reader ends with for a file with texture coordinates: mesh.texture set from the corner
// coordinates (weldTextureCorners) and the materials, each image found and read beside the mesh
// file at meshPath (findTextureImage; materials come with name and imageName set). Needs the
// mesh's faces; a missing or unreadable image leaves its material without image and with a problem.
void attachTexture(FragMesh& mesh, const QString& meshPath, const std::vector<Eigen::Vector2f>& cornerCoords,
                   std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials);

// The largest image side read, and the largest number of pixels.
constexpr int MaxTextureSide = 16384;
constexpr qint64 MaxTexturePixels = qint64(16384) * 16384;

// Finds the image `name`, as the mesh file at meshPath names it, relative to the mesh's folder. A
// name that climbs out of that folder ("../x.jpg") is refused; an absolute name (written on
// another machine, as a rule) is looked for by its file name beside the mesh. Sets
// material.imagePath and reads the image, or sets material.problem.
void findTextureImage(const QString& meshPath, TextureMaterial& material);

// Reads the image at path, refusing one larger than MaxTextureSide or MaxTexturePixels before it is
// decoded. Null with problem set on failure (problem names the image).
std::shared_ptr<const QImage> readTextureImage(const QString& path, QString& problem);
