#include "fragment.h"

#include "base_graph.h"
#include "mesh_loading.h"
#include "scene_drawer.h"

#include <Eigen/LU>
#include <QFileInfo>
#include <cmath>

namespace {
constexpr Color4b FragmentFocusColor{255, 255, 0, 255};

// A display colour is the object colour shaded by the vertex's grey level (red byte of the file
// colour), with alpha 1 as the drawing code expects.
Color4b shaded(Color4b c, double s) {
    auto channel = [s](std::uint8_t v) { return static_cast<std::uint8_t>(std::floor(v * s + 0.5)); };
    return {channel(c.r), channel(c.g), channel(c.b), 1};
}
} // namespace

Fragment::Fragment(BaseGraph* owner) : GeometrObj(owner, FragmentFocusColor) {}

Fragment::~Fragment() {
    if (SceneDrawer* d = sceneDrawer())
        d->forgetFragment(this);
}

Fragment::Fragment(BaseGraph* owner, const QString& meshPath) : Fragment(owner) {
    path = meshPath;
    setPathNames();
    loadMesh();
}

void Fragment::setColor(Color4b c) {
    color = c;
    FragMesh& m = *meshData;
    const std::size_t n = m.vertices.size();
    m.displayColors.resize(n);
    m.highlightColors.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = (i < m.fileColors.size() ? m.fileColors[i].r : 255) / 255.0;
        m.displayColors[i] = shaded(c, s);
        m.highlightColors[i] = shaded(focusColor, s);
    }
    m.changes |= FragMesh::Colors;
}

void Fragment::applyTransform(const Matrix44d* m) {
    Matrix44d t;
    if (m) {
        matrix = *m * matrix;
        t = *m;
    } else {
        t = matrix;
    }
    meshData->transform(t);
    meshData->placement = t * meshData->placement;
    if (m)
        movePointsPickedHere(*m);
    currentCentroidPoint = transformPoint(matrix, centroidPoint);
    meshData->updateBoundingBox();
    meshData->updateNormals();
}

void Fragment::draw(bool showMarkedFaces) {
    if (SceneDrawer* d = sceneDrawer())
        d->drawFragment(*this, showMarkedFaces);
}

void Fragment::drawHighlighted(bool showMarkedFaces) {
    draw(showMarkedFaces);
}

void Fragment::drawPickColors() {
    if (SceneDrawer* d = sceneDrawer())
        d->drawFragmentPickColors(*this);
}

int Fragment::faceFromPickColor(int r, int g, int b, GeometrObj** owner) {
    const long long code = r + 256LL * g + 65536LL * b;
    const long long face = code - basePickCode;
    if (face < 0 || face >= static_cast<long long>(pickCodes.size()) || pickCodes[face] != code)
        return -1;
    if (owner)
        *owner = this;
    return static_cast<int>(face);
}

QString Fragment::imageKey() const {
    // The thumbnail is the wrapper's picture, stored under the wrapper's own image key.
    if (GeometrObj* p = parentObject())
        return p->imageKey();
    return ObjId{objIdentity.id, objIdentity.id}.key();
}

bool Fragment::loadMesh() {
    lastLoadError.clear();
    const bool ok = readPreparedMesh(path, *meshData, lastLoadError);
    bbox = meshData->bbox;
    return ok;
}

void Fragment::computeCentroid() {
    centroidPoint = meshData->vertexMean();
    currentCentroidPoint = centroidPoint;
    meshData->fileCentroid = centroidPoint;
}

void Fragment::adoptMesh(std::shared_ptr<FragMesh> kept) {
    if (SceneDrawer* d = sceneDrawer())
        d->forgetFragment(this);
    meshData = kept ? std::move(kept) : std::make_shared<FragMesh>();
    bbox = meshData->fileBox;
    centroidPoint = meshData->fileCentroid;
    currentCentroidPoint = transformPoint(meshData->placement, centroidPoint);
    // Whatever drew it last, this fragment uploads it afresh.
    meshData->changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
    setColor(color);
}

void Fragment::syncPlacement() {
    FragMesh& m = *meshData;
    if (m.placement != matrix) {
        // A freshly read mesh is moved by the matrix itself, exactly as it stands.
        const Matrix44d change =
            m.placement == Matrix44d::Identity() ? matrix : Matrix44d(matrix * m.placement.inverse());
        m.transform(change);
        m.placement = matrix;
        m.updateBoundingBox();
        if (!m.rotateNormals(change)) {
            m.updateNormals();
        }
    }
    currentCentroidPoint = transformPoint(matrix, centroidPoint);
}

void Fragment::setPathNames() {
    fileNamePart = QFileInfo(path).fileName();
    name = fileNamePart;
}

void Fragment::assignPickColors() {
    const std::size_t n = meshData->faces.size();
    pickCodes.resize(n);
    meshData->pickColors.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const int code = basePickCode + static_cast<int>(k);
        pickCodes[k] = code;
        meshData->pickColors[k] = {static_cast<std::uint8_t>(code % 256),
                                   static_cast<std::uint8_t>((code / 256) % 256),
                                   static_cast<std::uint8_t>((code / 65536) % 256), 255};
    }
}
