#include "pick_pass_geometry.h"

#include "error_marks.h"
#include "fragment.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>

namespace {
// Window depths computed by the driver may exceed a chunk's box bound by rounding.
constexpr float DepthSlack = 1e-6f;
constexpr std::uint8_t TurnsToEye = 1, TurnsAway = 2;
constexpr double EdgeOn = 1e-3; // |normal component| below which a face's side is left open
} // namespace

void DepthMinPyramid::build(const float* depths, int width, int height) {
    levels.resize(1);
    levels[0].width = width;
    levels[0].height = height;
    levels[0].values.assign(depths, depths + std::size_t(width) * std::size_t(height));
    while (levels.back().width > 1 || levels.back().height > 1) {
        const Level& fine = levels.back();
        Level coarse;
        coarse.width = (fine.width + 1) / 2;
        coarse.height = (fine.height + 1) / 2;
        coarse.values.resize(std::size_t(coarse.width) * std::size_t(coarse.height));
        for (int y = 0; y < coarse.height; ++y)
            for (int x = 0; x < coarse.width; ++x) {
                float m = 1.0f;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const int fx = std::min(2 * x + dx, fine.width - 1),
                                  fy = std::min(2 * y + dy, fine.height - 1);
                        m = std::min(
                            m, fine.values[std::size_t(fy) * std::size_t(fine.width) + std::size_t(fx)]);
                    }
                coarse.values[std::size_t(y) * std::size_t(coarse.width) + std::size_t(x)] = m;
            }
        levels.push_back(std::move(coarse));
    }
}

float DepthMinPyramid::minOver(int x0, int y0, int x1, int y1) const {
    const Level& base = levels.front();
    x0 = std::clamp(x0, 0, base.width - 1);
    x1 = std::clamp(x1, 0, base.width - 1);
    y0 = std::clamp(y0, 0, base.height - 1);
    y1 = std::clamp(y1, 0, base.height - 1);
    // The finest level at which the rectangle spans at most 2 x 2 cells.
    std::size_t k = 0;
    while (k + 1 < levels.size() && ((x1 >> k) - (x0 >> k) > 1 || (y1 >> k) - (y0 >> k) > 1))
        ++k;
    const Level& l = levels[k];
    float m = 1.0f;
    for (int y = y0 >> k; y <= (y1 >> k); ++y)
        for (int x = x0 >> k; x <= (x1 >> k); ++x)
            m = std::min(m, l.values[std::size_t(y) * std::size_t(l.width) + std::size_t(x)]);
    return m;
}

PickPassGeometry::PickPassGeometry(QOpenGLFunctions_2_1& gl, const std::vector<Fragment*>& fragments) {
    FragmentBufferCache& cache = FragmentBufferCache::instance();
    for (Fragment* f : fragments) {
        FragmentBuffers* b = cache.prepare(gl, *f);
        if (!b || b->faceCount == 0)
            continue;
        cache.preparePick(gl, *b, f->mesh());
        List list;
        list.buffers = b;
        for (const auto& [firstFace, faces] : pickFaceRuns(f->mesh()))
            addChunks(list, f->mesh(), firstFace, faces);
        for (const Chunk& c : list.chunks)
            list.box.add(c.box);
        if (!list.chunks.empty())
            lists.push_back(std::move(list));
    }
}

void PickPassGeometry::addChunks(List& list, const FragMesh& mesh, std::size_t firstFace, std::size_t faces) {
    const bool haveNormals = mesh.faceNormals.size() == mesh.faces.size();
    for (std::size_t begin = firstFace; begin < firstFace + faces; begin += ChunkFaces) {
        const std::size_t end = std::min(begin + ChunkFaces, firstFace + faces);
        Chunk c;
        c.firstVertex = GLint(3 * begin);
        c.vertexCount = GLsizei(3 * (end - begin));
        for (std::size_t k = begin; k < end; ++k) {
            for (std::uint32_t v : mesh.faces[k])
                c.box.add(mesh.vertices[v]);
            for (int a = 0; a < 3; ++a) {
                const double n = haveNormals ? mesh.faceNormals[k][a] : 0.0;
                // A face seen edge-on (or degenerate) may come out either way in the driver.
                c.turns[a] |= n > EdgeOn ? TurnsToEye : n < -EdgeOn ? TurnsAway : (TurnsToEye | TurnsAway);
            }
        }
        list.chunks.push_back(c);
    }
}

PickPassGeometry::Projected PickPassGeometry::project(const Box3d& box) const {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL, nearest = HUGE_VAL,
           deepest = -HUGE_VAL;
    for (int corner = 0; corner < 8; ++corner) {
        const Eigen::Vector4d p((corner & 1 ? box.max : box.min).x(), (corner & 2 ? box.max : box.min).y(),
                                (corner & 4 ? box.max : box.min).z(), 1.0);
        const Eigen::Vector4d clip = camera * p;
        const double x = (clip.x() / clip.w() + 1.0) * 0.5 * imageWidth,
                     y = (clip.y() / clip.w() + 1.0) * 0.5 * imageHeight,
                     z = (clip.z() / clip.w() + 1.0) * 0.5;
        x0 = std::min(x0, x), x1 = std::max(x1, x);
        y0 = std::min(y0, y), y1 = std::max(y1, y);
        nearest = std::min(nearest, z);
        deepest = std::max(deepest, z);
    }
    // One pixel of margin on every side: pixel centres, rounding. Clamped to the image so that
    // a huge box cannot overflow an int.
    auto pixel = [](double v, int size) { return int(std::clamp(std::floor(v), -2.0, double(size) + 1.0)); };
    Projected out;
    out.rect = {pixel(x0, imageWidth) - 1, pixel(y0, imageHeight) - 1, pixel(x1, imageWidth) + 1,
                pixel(y1, imageHeight) + 1};
    out.nearest = float(nearest);
    out.deepest = float(deepest);
    return out;
}

void PickPassGeometry::findRegions() {
    regions.clear();
    for (std::size_t i = 0; i < lists.size(); ++i)
        for (std::size_t j = i + 1; j < lists.size(); ++j) {
            const Box3d& a = lists[i].box;
            const Box3d& b = lists[j].box;
            Box3d overlap;
            overlap.min = a.min.cwiseMax(b.min);
            overlap.max = a.max.cwiseMin(b.max);
            if ((overlap.min.array() <= overlap.max.array()).all())
                regions.push_back(project(overlap));
        }
}

void PickPassGeometry::startDirection(int a, const Eigen::Matrix4d& projectionView, int width, int height,
                                      float tolerance) {
    axis = a;
    passTolerance = tolerance;
    camera = projectionView;
    imageWidth = width;
    imageHeight = height;
    findRegions();
    for (List& list : lists)
        for (Chunk& c : list.chunks) {
            const Projected p = project(c.box);
            c.rect = p.rect;
            c.deepest = p.deepest;
            c.inPlay = std::any_of(regions.begin(), regions.end(), [&](const Projected& r) {
                // A face of the region pairs with faces up to the tolerance behind it.
                return r.rect.meets(c.rect) && p.nearest <= r.deepest + DepthSlack + passTolerance;
            });
        }
}

void PickPassGeometry::regionDepthLimits(std::vector<float>& limits) const {
    limits.assign(std::size_t(imageWidth) * std::size_t(imageHeight), -1.0f);
    for (const Projected& r : regions) {
        const float limit = r.deepest + DepthSlack;
        for (int y = std::max(r.rect.y0, 0); y <= std::min(r.rect.y1, imageHeight - 1); ++y)
            for (int x = std::max(r.rect.x0, 0); x <= std::min(r.rect.x1, imageWidth - 1); ++x) {
                float& l = limits[std::size_t(y) * std::size_t(imageWidth) + std::size_t(x)];
                l = std::max(l, limit);
            }
    }
}

void PickPassGeometry::draw(QOpenGLFunctions_2_1& gl, const Eigen::Matrix4d& view, Facing facing) const {
    const std::uint8_t wanted = facing == Facing::Front ? TurnsToEye : TurnsAway;
    gl.glMatrixMode(GL_MODELVIEW);
    for (const List& list : lists) {
        firsts.clear();
        counts.clear();
        for (const Chunk& c : list.chunks) {
            if (!c.inPlay || !(c.turns[axis] & wanted))
                continue;
            if (!firsts.empty() && firsts.back() + counts.back() == c.firstVertex)
                counts.back() += c.vertexCount; // one range for neighbouring chunks
            else {
                firsts.push_back(c.firstVertex);
                counts.push_back(c.vertexCount);
            }
        }
        if (firsts.empty())
            continue;
        const Eigen::Matrix4d modelView =
            view * Eigen::Affine3d(Eigen::Translation3d(list.buffers->origin)).matrix();
        gl.glLoadMatrixd(modelView.data());
        gl.glBindBuffer(GL_ARRAY_BUFFER, list.buffers->pickPositions);
        gl.glVertexPointer(3, GL_FLOAT, 0, nullptr);
        gl.glBindBuffer(GL_ARRAY_BUFFER, list.buffers->pickColors);
        gl.glColorPointer(4, GL_UNSIGNED_BYTE, 0, nullptr);
        gl.glMultiDrawArrays(GL_TRIANGLES, firsts.data(), counts.data(), GLsizei(firsts.size()));
    }
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void PickPassGeometry::retirePeeled(const DepthMinPyramid& lastDepth, float tolerance) {
    for (List& list : lists)
        for (Chunk& c : list.chunks)
            if (c.inPlay && c.deepest + DepthSlack <=
                                lastDepth.minOver(c.rect.x0, c.rect.y0, c.rect.x1, c.rect.y1) + tolerance)
                c.inPlay = false;
}

std::size_t PickPassGeometry::chunksInPlay() const {
    std::size_t n = 0;
    for (const List& list : lists)
        n += std::size_t(
            std::count_if(list.chunks.begin(), list.chunks.end(), [](const Chunk& c) { return c.inPlay; }));
    return n;
}
