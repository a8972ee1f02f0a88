#include "mesh_texture.h"

#include "frag_mesh.h"

#include "large_arrays.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <atomic>
#include <bit>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>

namespace {

template <class T> std::size_t capacityBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

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

// A drawn vertex's key: the mesh vertex and the bits of its coordinate.
struct CopyKey {
    std::uint32_t vertex;
    std::uint32_t u, v;
    bool operator==(const CopyKey&) const = default;
};

struct CopyKeyHash {
    std::size_t operator()(const CopyKey& k) const {
        const std::uint64_t a = (std::uint64_t(k.u) << 32 | k.v) * 0x9e3779b97f4a7c15ULL;
        return std::size_t(a ^ (a >> 29) ^ (std::uint64_t(k.vertex) * 0xbf58476d1ce4e5b9ULL));
    }
};

// The coordinate as it is welded and drawn: one that is not finite as (0, 0), and -0 as 0, so that
// equal coordinates have equal bits.
Eigen::Vector2f canonical(const Eigen::Vector2f& uv) {
    if (!uv.allFinite())
        return Eigen::Vector2f::Zero();
    return {uv.x() + 0.0f, uv.y() + 0.0f};
}

bool sameBits(const Eigen::Vector2f& a, const Eigen::Vector2f& b) {
    return std::bit_cast<std::uint32_t>(a.x()) == std::bit_cast<std::uint32_t>(b.x()) &&
           std::bit_cast<std::uint32_t>(a.y()) == std::bit_cast<std::uint32_t>(b.y());
}

} // namespace

namespace {

constexpr std::uint32_t NoFace = std::numeric_limits<std::uint32_t>::max();

// Per vertex, the first face that uses it (NoFace for none). Each thread owns a range of vertices
// and walks all faces in order, so that the first face it meets is the first one, without atomic
// operations (whose barriers would stall the scattered loads one after the other).
std::vector<std::uint32_t> firstFaces(const FragMesh& mesh) {
    std::vector<std::uint32_t> first;
    large_arrays::assignFresh(first, mesh.vertices.size(), NoFace);
    large_arrays::forRange(first.size(), [&](std::size_t b, std::size_t e) {
        const std::size_t count = e - b;
        for (std::size_t f = 0; f < mesh.faces.size(); ++f)
            for (std::uint32_t v : mesh.faces[f])
                if (std::size_t(v) - b < count && first[v] == NoFace)
                    first[v] = std::uint32_t(f);
    });
    return first;
}

// The first corner of vertex v, in its first face.
std::size_t firstCorner(const FragMesh& mesh, std::uint32_t face, std::size_t v) {
    const FragMesh::Face& corners = mesh.faces[face];
    return 3 * std::size_t(face) + (corners[0] == v ? 0 : corners[1] == v ? 1 : 2);
}

// The weld of weldTextureCorners, with corners.coord(i) the coordinate of corner i (3 f + c) and
// corners.key(i) a number that is equal for two corners only if their coordinates are (cheaper to
// compare than the coordinates, whose loads dominate the time on a shuffled mesh). Each vertex
// keeps the coordinate of its first corner; the corners that differ from it (the seams, a small
// share as a rule) are then given their copies one after the other in face order, so that the
// result is the one a single pass over the faces gives, on any number of cores. The coordinates
// are stored once their number is known.
template <typename Corners>
MeshTexture weld(const FragMesh& mesh, const Corners& corners, std::vector<std::uint16_t> faceMaterials) {
    using Key = decltype(corners.key(0));
    MeshTexture t;
    const std::size_t nv = mesh.vertices.size();
    const std::size_t nf = mesh.faces.size();
    t.vertexCount = nv;
    t.faceMaterials = std::move(faceMaterials);
    const std::vector<std::uint32_t> first = firstFaces(mesh);
    const auto firstCoord = [&](std::size_t v) {
        return first[v] == NoFace ? Eigen::Vector2f(Eigen::Vector2f::Zero())
                                  : canonical(corners.coord(firstCorner(mesh, first[v], v)));
    };
    std::vector<Key> firstKey;
    large_arrays::assignFresh(firstKey, nv, Key{});
    large_arrays::forRange(nv, [&](std::size_t b, std::size_t e) {
        for (std::size_t v = b; v < e; ++v)
            if (first[v] != NoFace)
                firstKey[v] = corners.key(firstCorner(mesh, first[v], v));
    });

    large_arrays::assignFresh(t.faces, nf, MeshTexture::Face{});
    const unsigned parts = large_arrays::partsFor(nf);
    std::vector<std::vector<std::size_t>> seams(parts); // corners, per part of the faces
    large_arrays::forParts(nf, parts, [&](unsigned part, std::size_t b, std::size_t e) {
        for (std::size_t f = b; f < e; ++f)
            for (std::size_t c = 0; c < 3; ++c) {
                const std::uint32_t v = mesh.faces[f][c];
                t.faces[f][c] = v;
                const std::size_t i = 3 * f + c;
                if (corners.key(i) != firstKey[v] && !sameBits(firstCoord(v), canonical(corners.coord(i))))
                    seams[part].push_back(i);
            }
    });

    std::vector<Eigen::Vector2f> copyCoords;
    std::unordered_map<CopyKey, std::uint32_t, CopyKeyHash> copies;
    for (const std::vector<std::size_t>& inPart : seams)
        for (std::size_t i : inPart) {
            const std::uint32_t v = mesh.faces[i / 3][i % 3];
            const Eigen::Vector2f uv = canonical(corners.coord(i));
            const CopyKey key{v, std::bit_cast<std::uint32_t>(uv.x()), std::bit_cast<std::uint32_t>(uv.y())};
            const auto [it, added] = copies.try_emplace(key, std::uint32_t(nv + copyCoords.size()));
            if (added) {
                t.seamCopies.push_back(v);
                copyCoords.push_back(uv);
            }
            t.faces[i / 3][i % 3] = it->second;
        }
    t.seamCopies.shrink_to_fit();

    large_arrays::assignFresh(t.coords, nv + copyCoords.size(), Eigen::Vector2f(Eigen::Vector2f::Zero()));
    large_arrays::forRange(nv, [&](std::size_t b, std::size_t e) {
        for (std::size_t v = b; v < e; ++v)
            t.coords[v] = firstCoord(v);
    });
    std::copy(copyCoords.begin(), copyCoords.end(), t.coords.begin() + std::ptrdiff_t(nv));
    return t;
}

// A coordinate per corner; the key is its bits.
struct CornerCoords {
    const std::vector<Eigen::Vector2f>& coords;
    Eigen::Vector2f coord(std::size_t i) const { return coords[i]; }
    std::uint64_t key(std::size_t i) const {
        const Eigen::Vector2f uv = canonical(coords[i]);
        return std::uint64_t(std::bit_cast<std::uint32_t>(uv.x())) << 32 |
               std::bit_cast<std::uint32_t>(uv.y());
    }
};

// An index into a table per corner; the key is the index.
struct IndexedCornerCoords {
    const std::vector<Eigen::Vector2f>& table;
    const std::vector<std::uint32_t>& index;
    Eigen::Vector2f coord(std::size_t i) const {
        return index[i] == NoTextureCoord ? Eigen::Vector2f(Eigen::Vector2f::Zero()) : table[index[i]];
    }
    std::uint32_t key(std::size_t i) const { return index[i]; }
};

} // namespace

MeshTexture weldTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                               std::vector<std::uint16_t> faceMaterials) {
    return weld(mesh, CornerCoords{cornerCoords}, std::move(faceMaterials));
}

MeshTexture weldIndexedTextureCorners(const FragMesh& mesh, const std::vector<Eigen::Vector2f>& coords,
                                      const std::vector<std::uint32_t>& cornerCoords,
                                      std::vector<std::uint16_t> faceMaterials) {
    return weld(mesh, IndexedCornerCoords{coords, cornerCoords}, std::move(faceMaterials));
}

namespace {

bool withinTextureBounds(qint64 width, qint64 height) {
    return width <= MaxTextureSide && height <= MaxTextureSide && width * height <= MaxTexturePixels;
}

QString tooLarge(const QString& name, qint64 width, qint64 height) {
    return QStringLiteral(
               "%1: the image is %2 × %3 pixels; Ostrakit reads images of at most %4 pixels a side")
        .arg(name)
        .arg(width)
        .arg(height)
        .arg(MaxTextureSide);
}

// The width and height a PNG file's header declares, as written (the decoder refuses sizes past
// its own limits without saying what they were); nothing for another kind of file.
std::optional<std::pair<qint64, qint64>> declaredPngSize(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(24);
    if (head.size() < 24 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(head.constData());
    return std::make_pair(qint64(qFromBigEndian<quint32>(bytes + 16)),
                          qint64(qFromBigEndian<quint32>(bytes + 20)));
}

// An image of the size and format a reader decodes into, which it then fills in place, backed by
// huge pages: a photo of 8192 x 8192 pixels is 256 MB, and the first touch of each small page costs
// as much as decoding it. Null when the reader does not say its format.
QImage hugePagedImage(const QSize& size, QImage::Format format) {
    if (format == QImage::Format_Invalid)
        return {};
    QImage image(size, format);
    if (!image.isNull())
        large_arrays::adviseHugePages(image.bits(), std::size_t(image.sizeInBytes()));
    return image;
}

} // namespace

std::shared_ptr<const QImage> readTextureImage(const QString& path, QString& problem) {
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo(path).isFile()) {
        problem = QStringLiteral("%1: no such image").arg(name);
        return nullptr;
    }
    if (const auto declared = declaredPngSize(path);
        declared && !withinTextureBounds(declared->first, declared->second)) {
        problem = tooLarge(name, declared->first, declared->second);
        return nullptr;
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid()) {
        problem = QStringLiteral(
                      "%1: the image cannot be read (it is damaged, or of a kind Ostrakit does not read)")
                      .arg(name);
        return nullptr;
    }
    if (!withinTextureBounds(size.width(), size.height())) {
        problem = tooLarge(name, size.width(), size.height());
        return nullptr;
    }
    // Four bytes a pixel at most, once the size is known to be within bounds.
    reader.setAllocationLimit(int(MaxTexturePixels * 4 / (1024 * 1024)));
    QImage image = hugePagedImage(size, reader.imageFormat());
    if (!reader.read(&image) || image.isNull()) {
        problem = QStringLiteral("%1: the image cannot be read (%2)").arg(name, reader.errorString());
        return nullptr;
    }
    // The layout the GPU takes as it is (blue, green, red, alpha bytes).
    const QImage::Format drawn = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() != drawn)
        image.convertTo(drawn);
    return std::make_shared<const QImage>(std::move(image));
}

QString fileBesideMesh(const QString& meshPath, const QString& fileName) {
    QString name = fileName.trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (isAbsoluteName(name)) {
        name = name.section(QLatin1Char('/'), -1);
    } else {
        name = QDir::cleanPath(name);
        if (name == QLatin1String("..") || name.startsWith(QLatin1String("../")))
            return {};
    }
    return QFileInfo(meshPath).absoluteDir().filePath(name);
}

namespace {

// Sets material.imagePath, or material.problem when the image is not to be read.
bool locateImage(const QString& meshPath, TextureMaterial& material) {
    const QString meshName = QFileInfo(meshPath).fileName();
    if (material.imageName.trimmed().isEmpty()) {
        material.problem = QStringLiteral("%1: a material names no image").arg(meshName);
        return false;
    }
    material.imagePath = fileBesideMesh(meshPath, material.imageName);
    if (material.imagePath.isEmpty()) {
        material.problem = QStringLiteral("%1: the image %2 lies outside the mesh's folder; it was not read")
                               .arg(meshName, material.imageName);
        return false;
    }
    return true;
}

struct ReadImage {
    std::shared_ptr<const QImage> image;
    QString problem;
};

ReadImage readImageNoThrow(const QString& path) {
    ReadImage r;
    try {
        r.image = readTextureImage(path, r.problem);
    } catch (const std::bad_alloc&) {
        r.image.reset();
        r.problem = QStringLiteral("%1: not enough memory to read the image").arg(QFileInfo(path).fileName());
    }
    return r;
}

// Reads every path, as many at the same time as there are cores (each worker takes the next one).
std::vector<ReadImage> readImages(const std::vector<QString>& paths) {
    std::vector<ReadImage> images(paths.size());
    std::atomic<std::size_t> next{0};
    large_arrays::forParts(paths.size(), large_arrays::partsFor(paths.size(), 1),
                           [&](unsigned, std::size_t, std::size_t) {
                               for (std::size_t i; (i = next++) < paths.size();)
                                   images[i] = readImageNoThrow(paths[i]);
                           });
    return images;
}

void takeImage(const QString& meshPath, const ReadImage& read, TextureMaterial& material) {
    material.image = read.image;
    if (!read.image)
        material.problem = QStringLiteral("%1: %2").arg(QFileInfo(meshPath).fileName(), read.problem);
}

} // namespace

void findTextureImage(const QString& meshPath, TextureMaterial& material) {
    if (locateImage(meshPath, material))
        takeImage(meshPath, readImageNoThrow(material.imagePath), material);
}

void findTextureImages(const QString& meshPath, std::vector<TextureMaterial>& materials) {
    std::vector<QString> paths;
    std::vector<std::size_t> pathOf(materials.size(), std::size_t(-1));
    std::unordered_map<QString, std::size_t> known;
    for (std::size_t m = 0; m < materials.size(); ++m) {
        if (materials[m].imageName.trimmed().isEmpty() || !locateImage(meshPath, materials[m]))
            continue;
        const auto [it, added] = known.try_emplace(materials[m].imagePath, paths.size());
        if (added)
            paths.push_back(materials[m].imagePath);
        pathOf[m] = it->second;
    }
    const std::vector<ReadImage> images = readImages(paths);
    for (std::size_t m = 0; m < materials.size(); ++m)
        if (pathOf[m] != std::size_t(-1))
            takeImage(meshPath, images[pathOf[m]], materials[m]);
}

void attachFoundTexture(FragMesh& mesh, MeshTexture welded, std::vector<TextureMaterial> materials) {
    welded.materials = std::move(materials);
    mesh.texture = std::make_shared<const MeshTexture>(std::move(welded));
}

void attachFoundTexture(FragMesh& mesh, const std::vector<Eigen::Vector2f>& cornerCoords,
                        std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials) {
    attachFoundTexture(mesh, weldTextureCorners(mesh, cornerCoords, std::move(faceMaterials)),
                       std::move(materials));
}

void attachTexture(FragMesh& mesh, const QString& meshPath, const std::vector<Eigen::Vector2f>& cornerCoords,
                   std::vector<std::uint16_t> faceMaterials, std::vector<TextureMaterial> materials) {
    findTextureImages(meshPath, materials);
    attachFoundTexture(mesh, cornerCoords, std::move(faceMaterials), std::move(materials));
}
