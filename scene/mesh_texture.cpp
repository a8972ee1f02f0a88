#include "mesh_texture.h"

#include "frag_mesh.h"
#include "large_arrays.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

template <class T> std::size_t capacityBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

constexpr std::uint32_t NoCopy = std::numeric_limits<std::uint32_t>::max();

// Whether a file name written in a mesh file is absolute, also as written on Windows ("C:/x.jpg",
// "\\server\x.jpg").
bool isAbsoluteName(const QString& name) {
    return QDir::isAbsolutePath(name) || (name.size() > 1 && name.at(1) == QLatin1Char(':')) ||
           name.startsWith(QLatin1Char('/'));
}

} // namespace

bool MeshTexture::hasImage() const {
    for (const TextureMaterial& m : materials)
        if (m.image)
            return true;
    return false;
}

QStringList MeshTexture::problems() const {
    QStringList lines;
    for (const TextureMaterial& m : materials)
        if (!m.image && !m.problem.isEmpty() && !lines.contains(m.problem))
            lines << m.problem;
    return lines;
}

std::size_t MeshTexture::memoryBytes() const {
    std::size_t bytes = capacityBytes(seamCopies) + capacityBytes(coords) + capacityBytes(faces) +
                        capacityBytes(faceMaterials);
    for (const TextureMaterial& m : materials)
        if (m.image)
            bytes += std::size_t(m.image->sizeInBytes());
    return bytes;
}

namespace {

// The vertices are welded in blocks of this many, each block by one thread; a block's copies are
// numbered in the order of its corners, and blocks follow each other, whatever the thread count.
constexpr std::uint32_t WeldBlock = 1u << 16;
// Marks a corner that points at a copy, by its number within its block, until the blocks' first
// numbers are known.
constexpr std::uint32_t CopyInBlock = 1u << 31;

struct BlockCopies {
    std::vector<std::uint32_t> vertices, next; // the copied vertex; the next copy of the same vertex
    std::vector<Eigen::Vector2f> coords;
};

Eigen::Vector2f finiteOrZero(const Eigen::Vector2f& uv) {
    return uv.allFinite() ? uv : Eigen::Vector2f::Zero();
}

// Welds the corners of the vertices of blocks [firstBlock, endBlock).
void weldBlocks(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                std::size_t firstBlock, std::size_t endBlock, MeshTexture& t,
                std::vector<std::uint32_t>& firstCopy, std::vector<BlockCopies>& blocks) {
    const std::size_t lo = firstBlock * WeldBlock, hi = std::min(endBlock * WeldBlock, t.vertexCount);
    for (std::size_t f = 0; f < mesh.faces.size(); ++f)
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = mesh.faces[f][c];
            if (v < lo || v >= hi)
                continue;
            const Eigen::Vector2f uv = finiteOrZero(cornerCoords[3 * f + std::size_t(c)]);
            std::uint32_t drawn = v;
            Eigen::Vector2f& own = t.coords[v];
            if (std::isnan(own.x())) {
                own = uv;
            } else if (own != uv) {
                BlockCopies& block = blocks[v / WeldBlock];
                std::uint32_t* link = &firstCopy[v];
                while (*link != NoCopy && block.coords[*link] != uv)
                    link = &block.next[*link];
                if (*link == NoCopy) {
                    *link = std::uint32_t(block.vertices.size());
                    block.vertices.push_back(v);
                    block.next.push_back(NoCopy);
                    block.coords.push_back(uv);
                }
                drawn = CopyInBlock | *link;
            }
            t.faces[f][c] = drawn;
        }
}

} // namespace

MeshTexture weldTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                               std::vector<std::uint16_t> faceMaterials) {
    using large_arrays::forParts;
    MeshTexture t;
    const std::size_t nv = mesh.vertices.size();
    const std::size_t nf = mesh.faces.size();
    t.vertexCount = nv;
    t.faceMaterials = std::move(faceMaterials);
    const float unset = std::numeric_limits<float>::quiet_NaN();
    t.coords.assign(nv, Eigen::Vector2f(unset, unset));
    t.faces.resize(nf);
    std::vector<std::uint32_t> firstCopy(nv, NoCopy);
    const std::size_t blockCount = (nv + WeldBlock - 1) / WeldBlock;
    std::vector<BlockCopies> blocks(blockCount);
    // Every thread reads all corners and welds those of its own blocks' vertices.
    const unsigned parts = std::min<unsigned>(large_arrays::partsFor(3 * nf), unsigned(blockCount));
    forParts(blockCount, std::max(parts, 1u), [&](unsigned, std::size_t begin, std::size_t end) {
        weldBlocks(mesh, cornerCoords, begin, end, t, firstCopy, blocks);
    });

    std::vector<std::uint32_t> blockStart(blockCount + 1, std::uint32_t(nv));
    for (std::size_t b = 0; b < blockCount; ++b) {
        blockStart[b + 1] = blockStart[b] + std::uint32_t(blocks[b].vertices.size());
        t.seamCopies.insert(t.seamCopies.end(), blocks[b].vertices.begin(), blocks[b].vertices.end());
        t.coords.insert(t.coords.end(), blocks[b].coords.begin(), blocks[b].coords.end());
    }
    large_arrays::forRange(nf, [&](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f)
            for (int c = 0; c < 3; ++c)
                if (std::uint32_t& drawn = t.faces[f][c]; drawn & CopyInBlock)
                    drawn = blockStart[mesh.faces[f][c] / WeldBlock] + (drawn & ~CopyInBlock);
    });
    for (std::size_t v = 0; v < nv; ++v) // vertices no face uses
        if (std::isnan(t.coords[v].x()))
            t.coords[v] = Eigen::Vector2f::Zero();
    return t;
}

std::shared_ptr<const QImage> readTextureImage(const QString& path, QString& problem) {
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo(path).isFile()) {
        problem = QStringLiteral("%1: no such image").arg(name);
        return nullptr;
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > MaxTextureSide || size.height() > MaxTextureSide ||
                           qint64(size.width()) * size.height() > MaxTexturePixels)) {
        problem = QStringLiteral(
                      "%1: the image is %2 × %3 pixels; Ostrakit reads images of at most %4 pixels a side")
                      .arg(name)
                      .arg(size.width())
                      .arg(size.height())
                      .arg(MaxTextureSide);
        return nullptr;
    }
    // Four bytes a pixel at most, once the size is known to be within bounds.
    reader.setAllocationLimit(int(MaxTexturePixels * 4 / (1024 * 1024)));
    QImage image;
    if (!size.isValid() || !reader.read(&image) || image.isNull()) {
        problem = QStringLiteral("%1: the image cannot be read (%2)").arg(name, reader.errorString());
        return nullptr;
    }
    // The layout the GPU takes as it is (blue, green, red, alpha bytes).
    const QImage::Format drawn = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() != drawn)
        image.convertTo(drawn);
    return std::make_shared<const QImage>(std::move(image));
}

void findTextureImage(const QString& meshPath, TextureMaterial& material) {
    const QFileInfo meshFile(meshPath);
    QString name = material.imageName.trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty()) {
        material.problem = QStringLiteral("%1: a material names no image").arg(meshFile.fileName());
        return;
    }
    if (isAbsoluteName(name)) {
        name = name.section(QLatin1Char('/'), -1);
    } else {
        name = QDir::cleanPath(name);
        if (name == QLatin1String("..") || name.startsWith(QLatin1String("../"))) {
            material.problem =
                QStringLiteral("%1: the image %2 lies outside the mesh's folder; it was not read")
                    .arg(meshFile.fileName(), material.imageName);
            return;
        }
    }
    material.imagePath = meshFile.absoluteDir().filePath(name);
    material.image = readTextureImage(material.imagePath, material.problem);
    if (!material.image)
        material.problem = QStringLiteral("%1: %2").arg(meshFile.fileName(), material.problem);
}

void attachTexture(FragMesh& mesh, const QString& meshPath, const std::vector<Eigen::Vector2f>& cornerCoords,
                   std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials) {
    auto texture =
        std::make_shared<MeshTexture>(weldTextureCorners(mesh, cornerCoords, std::move(faceMaterials)));
    for (TextureMaterial& m : materials)
        findTextureImage(meshPath, m);
    texture->materials = std::move(materials);
    mesh.texture = std::move(texture);
}
