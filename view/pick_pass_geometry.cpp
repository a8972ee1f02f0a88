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
            for (int axis = 0; axis < 3; ++axis) {
                const double n = haveNormals ? mesh.faceNormals[k][axis] : 0.0;
                // A face seen edge-on (or degenerate) may come out either way in the driver.
                c.turns[axis] |= n > EdgeOn ? TurnsToEye : n < -EdgeOn ? TurnsAway : (TurnsToEye | TurnsAway);
            }
        }
        list.chunks.push_back(c);
    }
}

void PickPassGeometry::startDirection(int a, const Eigen::Matrix4d& projectionView, int width, int height) {
    axis = a;
    for (List& list : lists)
        for (Chunk& c : list.chunks) {
            double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL, deepest = -HUGE_VAL;
            for (int corner = 0; corner < 8; ++corner) {
                const Eigen::Vector4d p((corner & 1 ? c.box.max : c.box.min).x(),
                                        (corner & 2 ? c.box.max : c.box.min).y(),
                                        (corner & 4 ? c.box.max : c.box.min).z(), 1.0);
                const Eigen::Vector4d clip = projectionView * p;
                const double x = (clip.x() / clip.w() + 1.0) * 0.5 * width,
                             y = (clip.y() / clip.w() + 1.0) * 0.5 * height,
                             z = (clip.z() / clip.w() + 1.0) * 0.5;
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
                deepest = std::max(deepest, z);
            }
            // One pixel of margin on every side: pixel centres, rounding.
            c.x0 = int(std::floor(x0)) - 1, c.x1 = int(std::floor(x1)) + 1;
            c.y0 = int(std::floor(y0)) - 1, c.y1 = int(std::floor(y1)) + 1;
            c.deepest = float(deepest);
            c.inPlay = true;
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
            if (c.inPlay && c.deepest + DepthSlack <= lastDepth.minOver(c.x0, c.y0, c.x1, c.y1) + tolerance)
                c.inPlay = false;
}

std::size_t PickPassGeometry::chunksInPlay() const {
    std::size_t n = 0;
    for (const List& list : lists)
        n += std::size_t(
            std::count_if(list.chunks.begin(), list.chunks.end(), [](const Chunk& c) { return c.inPlay; }));
    return n;
}
