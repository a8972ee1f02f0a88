#include "mesh_texture.h"

#include "frag_mesh.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

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

MeshTexture weldTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                               std::vector<std::uint16_t> faceMaterials) {
    MeshTexture t;
    const std::size_t nv = mesh.vertices.size();
    const std::size_t nf = mesh.faces.size();
    t.vertexCount = nv;
    t.faceMaterials = std::move(faceMaterials);
    t.coords.assign(nv, Eigen::Vector2f::Zero());
    t.faces.resize(nf);
    std::vector<bool> seen(nv, false);
    // The copies of one vertex form a chain: firstCopy[v], then nextCopy[k] after copy k.
    std::vector<std::uint32_t> firstCopy(nv, NoCopy), nextCopy;
    for (std::size_t f = 0; f < nf; ++f)
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = mesh.faces[f][c];
            const Eigen::Vector2f& uv = cornerCoords[3 * f + std::size_t(c)];
            std::uint32_t drawn = v;
            if (!seen[v]) {
                seen[v] = true;
                t.coords[v] = uv;
            } else if (t.coords[v] != uv) {
                std::uint32_t* link = &firstCopy[v];
                while (*link != NoCopy && t.coords[nv + *link] != uv)
                    link = &nextCopy[*link];
                if (*link == NoCopy) {
                    *link = std::uint32_t(t.seamCopies.size());
                    t.seamCopies.push_back(v);
                    nextCopy.push_back(NoCopy);
                    t.coords.push_back(uv);
                }
                drawn = std::uint32_t(nv + *link);
            }
            t.faces[f][c] = drawn;
        }
    t.coords.shrink_to_fit();
    t.seamCopies.shrink_to_fit();
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
