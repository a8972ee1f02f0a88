#include "render_buffers.h"

#include "current_context.h"
#include "fragment.h"
#include "gl_functions.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QObject>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QThread>
#include <cstring>
#include <memory>
#include <vector>

static_assert(sizeof(Color4b) == 4, "colours are uploaded as four bytes");
static_assert(sizeof(FragMesh::Face) == 3 * sizeof(GLuint), "faces are uploaded as three indices");

namespace {

std::int64_t clockMs() {
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

constexpr std::uint32_t AllChanges =
    FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
constexpr std::int64_t SweepIntervalMs = 5000;

// Writes `bytes` bytes produced by fill(destination) into the bound buffer: straight into the
// mapped buffer when the driver maps it, else through a temporary copy.
template <class Fill>
void writeMapped(QOpenGLFunctions_2_1& gl, GLenum target, std::size_t bytes, Fill fill) {
    if (bytes == 0)
        return;
    if (void* dst = gl.glMapBuffer(target, GL_WRITE_ONLY)) {
        fill(dst);
        if (gl.glUnmapBuffer(target) == GL_TRUE)
            return;
        // The contents were lost (the driver may do so on a mode switch): send them again below.
    }
    const std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes]);
    fill(copy.get());
    gl.glBufferSubData(target, 0, GLsizeiptr(bytes), copy.get());
}

// A context of the group that this thread may make current: the application's global share
// context when it belongs to the group (it draws nothing, so no view's state is disturbed).
QOpenGLContext* contextOfGroup(QOpenGLContextGroup* group) {
    QOpenGLContext* global = QOpenGLContext::globalShareContext();
    if (global && global->shareGroup() == group && global->thread() == QThread::currentThread())
        return global;
    for (QOpenGLContext* ctx : group->shares())
        if (ctx->thread() == QThread::currentThread())
            return ctx;
    return nullptr;
}

// The buffer names b holds.
std::vector<GLuint> namesOf(const FragmentBuffers& b) {
    std::vector<GLuint> names;
    for (GLuint name :
         {b.positions, b.normals, b.colors, b.highlights, b.indices, b.pickPositions, b.pickColors})
        if (name)
            names.push_back(name);
    return names;
}

} // namespace

FragmentBufferCache& FragmentBufferCache::instance() {
    // Never destroyed: share groups may report their destruction during the program's teardown.
    static auto* cache = new FragmentBufferCache;
    return *cache;
}

FragmentBufferCache::GroupBuffers* FragmentBufferCache::currentGroup() {
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    if (!ctx)
        return nullptr;
    QOpenGLContextGroup* group = ctx->shareGroup();
    auto it = groups.find(group);
    if (it == groups.end()) {
        it = groups.emplace(group, GroupBuffers{}).first;
        // The buffers die with the group; only the bookkeeping is left to drop.
        QObject::connect(group, &QObject::destroyed, [this, group] { forgetGroup(group); });
    }
    return &it->second;
}

std::size_t FragmentBufferCache::entryCount() const {
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    if (!ctx)
        return 0;
    auto it = groups.find(ctx->shareGroup());
    return it == groups.end() ? 0 : it->second.entries.size();
}

void FragmentBufferCache::upload(QOpenGLFunctions_2_1& gl, GLenum target, GLuint buffer, std::size_t bytes,
                                 const void* data, bool replace) {
    gl.glBindBuffer(target, buffer);
    if (replace)
        gl.glBufferData(target, GLsizeiptr(bytes), data, GL_STATIC_DRAW);
    else if (bytes > 0)
        gl.glBufferSubData(target, 0, GLsizeiptr(bytes), data);
    ++traffic.uploads;
    traffic.uploadedBytes += bytes;
}

void FragmentBufferCache::fillPositions(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                        bool replace) {
    const std::size_t n = b.vertexCount;
    const std::size_t bytes = n * 3 * sizeof(float);
    b.origin = mesh.bbox.isNull() ? Eigen::Vector3d::Zero() : mesh.bbox.center();
    const Eigen::Vector3d origin = b.origin;

    gl.glBindBuffer(GL_ARRAY_BUFFER, b.positions);
    if (replace)
        gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ARRAY_BUFFER, bytes, [&](void* dst) {
        auto* out = static_cast<float*>(dst);
        for (std::size_t v = 0; v < n; ++v) {
            const Point3d& p = mesh.vertices[v];
            out[3 * v] = float(p.x() - origin.x());
            out[3 * v + 1] = float(p.y() - origin.y());
            out[3 * v + 2] = float(p.z() - origin.z());
        }
    });
    gl.glBindBuffer(GL_ARRAY_BUFFER, b.normals);
    if (replace)
        gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ARRAY_BUFFER, bytes, [&](void* dst) {
        auto* out = static_cast<float*>(dst);
        const bool have = mesh.vertexNormals.size() == n;
        for (std::size_t v = 0; v < n; ++v) {
            const Point3d p = have ? mesh.vertexNormals[v] : Point3d::Zero();
            out[3 * v] = float(p.x());
            out[3 * v + 1] = float(p.y());
            out[3 * v + 2] = float(p.z());
        }
    });
    traffic.uploads += 2;
    traffic.uploadedBytes += 2 * bytes;
    ++b.positionGeneration;
}

void FragmentBufferCache::fillColors(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                     bool replace) {
    const std::size_t n = b.vertexCount;
    for (auto [buffer, colors] :
         {std::pair{b.colors, &mesh.displayColors}, {b.highlights, &mesh.highlightColors}}) {
        if (colors->size() == n) {
            upload(gl, GL_ARRAY_BUFFER, buffer, n * sizeof(Color4b), colors->data(), replace);
            continue;
        }
        // Colours not assigned yet: white.
        const std::vector<Color4b> white(n, Color4b{255, 255, 255, 255});
        upload(gl, GL_ARRAY_BUFFER, buffer, n * sizeof(Color4b), white.data(), replace);
    }
}

void FragmentBufferCache::fillIndices(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                      bool replace) {
    const std::size_t nf = b.faceCount;
    const bool haveMarks = mesh.marked.size() == nf;
    std::size_t marked = 0;
    if (haveMarks)
        for (std::uint8_t m : mesh.marked)
            marked += m != 0;
    b.markedCount = marked;
    const std::size_t bytes = nf * sizeof(FragMesh::Face);
    if (marked == 0) {
        upload(gl, GL_ELEMENT_ARRAY_BUFFER, b.indices, bytes, mesh.faces.data(), replace);
        return;
    }
    // Unmarked faces first, the marked ones after them, so that each set is one range.
    gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.indices);
    if (replace)
        gl.glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(bytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ELEMENT_ARRAY_BUFFER, bytes, [&](void* dst) {
        auto* out = static_cast<FragMesh::Face*>(dst);
        std::size_t front = 0, back = nf - marked;
        for (std::size_t k = 0; k < nf; ++k)
            std::memcpy(&out[mesh.marked[k] ? back++ : front++], &mesh.faces[k], sizeof(FragMesh::Face));
    });
    ++traffic.uploads;
    traffic.uploadedBytes += bytes;
}

FragmentBuffers* FragmentBufferCache::prepare(QOpenGLFunctions_2_1& gl, Fragment& f) {
    GroupBuffers* group = currentGroup();
    if (!group)
        return nullptr;
    deleteUnfreed(gl, *group);
    Entries* entries = &group->entries;
    const std::int64_t now = clockMs();
    if (now - lastSweep > SweepIntervalMs) {
        lastSweep = now;
        sweepIdle(gl, *entries, now);
    }

    FragMesh& mesh = f.mesh();
    FragmentBuffers& b = (*entries)[&f];
    const std::uint32_t changes = mesh.changes | b.pending;
    // A new mesh (also a new fragment at the address of a deleted one) comes with Topology set.
    const bool rebuild = !b.built || (changes & FragMesh::Topology) ||
                         b.vertexCount != mesh.vertices.size() || b.faceCount != mesh.faces.size();
    std::uint32_t uploaded = 0;
    if (rebuild) {
        if (!b.built) {
            GLuint names[5];
            genBuffers(gl, 5, names);
            b.positions = names[0];
            b.normals = names[1];
            b.colors = names[2];
            b.highlights = names[3];
            b.indices = names[4];
        }
        b.vertexCount = mesh.vertices.size();
        b.faceCount = mesh.faces.size();
        fillPositions(gl, b, mesh, true);
        fillColors(gl, b, mesh, true);
        fillIndices(gl, b, mesh, true);
        b.built = true;
        ++traffic.bufferSets;
        uploaded = AllChanges;
    } else if (changes) {
        if (changes & FragMesh::Positions)
            fillPositions(gl, b, mesh, false);
        if (changes & FragMesh::Colors)
            fillColors(gl, b, mesh, false);
        if (changes & FragMesh::Marks)
            fillIndices(gl, b, mesh, false);
        uploaded = changes;
    }
    if (uploaded) {
        gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
        gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        // Other share groups holding this fragment still have to catch up.
        QOpenGLContextGroup* here = QOpenGLContext::currentContext()->shareGroup();
        for (auto& [otherGroup, others] : groups) {
            if (otherGroup == here)
                continue;
            auto it = others.entries.find(&f);
            if (it != others.entries.end())
                it->second.pending |= uploaded;
        }
    }
    mesh.changes = 0;
    b.pending = 0;
    b.lastUse = now;
    return &b;
}

void FragmentBufferCache::preparePick(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh) {
    const std::vector<Color4b>& pick = mesh.pickColors;
    // Pick colours are assigned as consecutive codes from a base, so the array, its size and its
    // ends identify them.
    const bool current = b.pickPositions != 0 && b.pickPositionGeneration == b.positionGeneration &&
                         b.pickColorData == pick.data() && b.pickColorCount == pick.size() &&
                         (pick.empty() || (b.pickFirst == pick.front() && b.pickLast == pick.back()));
    if (current)
        return;
    if (b.pickPositions == 0) {
        GLuint names[2];
        genBuffers(gl, 2, names);
        b.pickPositions = names[0];
        b.pickColors = names[1];
    }
    const std::size_t nf = b.faceCount;
    const Eigen::Vector3d origin = b.origin;
    const std::size_t positionBytes = nf * 9 * sizeof(float);
    gl.glBindBuffer(GL_ARRAY_BUFFER, b.pickPositions);
    gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(positionBytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ARRAY_BUFFER, positionBytes, [&](void* dst) {
        auto* out = static_cast<float*>(dst);
        for (std::size_t k = 0; k < nf; ++k)
            for (int c = 0; c < 3; ++c) {
                const Point3d& p = mesh.vertices[mesh.faces[k][c]];
                *out++ = float(p.x() - origin.x());
                *out++ = float(p.y() - origin.y());
                *out++ = float(p.z() - origin.z());
            }
    });
    const std::size_t colorBytes = nf * 3 * sizeof(Color4b);
    gl.glBindBuffer(GL_ARRAY_BUFFER, b.pickColors);
    gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(colorBytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ARRAY_BUFFER, colorBytes, [&](void* dst) {
        auto* out = static_cast<Color4b*>(dst);
        for (std::size_t k = 0; k < nf; ++k) {
            const Color4b c = k < pick.size() ? pick[k] : Color4b{0, 0, 0, 255};
            out[3 * k] = out[3 * k + 1] = out[3 * k + 2] = c;
        }
    });
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    traffic.uploads += 2;
    traffic.uploadedBytes += positionBytes + colorBytes;
    b.pickPositionGeneration = b.positionGeneration;
    b.pickColorData = pick.data();
    b.pickColorCount = pick.size();
    if (!pick.empty()) {
        b.pickFirst = pick.front();
        b.pickLast = pick.back();
    }
}

void FragmentBufferCache::genBuffers(QOpenGLFunctions_2_1& gl, GLsizei n, GLuint* names) {
    gl.glGenBuffers(n, names);
    liveNames += std::size_t(n);
}

void FragmentBufferCache::freeBuffers(QOpenGLFunctions_2_1& gl, FragmentBuffers& b) {
    for (GLuint name : namesOf(b)) {
        gl.glDeleteBuffers(1, &name);
        --liveNames;
    }
    b = FragmentBuffers{};
}

void FragmentBufferCache::forgetGroup(QOpenGLContextGroup* group) {
    auto it = groups.find(group);
    if (it == groups.end())
        return;
    for (const auto& [f, b] : it->second.entries)
        liveNames -= namesOf(b).size();
    liveNames -= it->second.unfreed.size();
    groups.erase(it);
}

void FragmentBufferCache::sweepIdle(QOpenGLFunctions_2_1& gl, Entries& entries, std::int64_t now) {
    for (auto it = entries.begin(); it != entries.end();) {
        if (now - it->second.lastUse > idleLimitMs) {
            freeBuffers(gl, it->second);
            it = entries.erase(it);
        } else {
            ++it;
        }
    }
}

void FragmentBufferCache::release(const Fragment* f) {
    for (auto& [group, state] : groups) {
        auto it = state.entries.find(f);
        if (it == state.entries.end())
            continue;
        FragmentBuffers& b = it->second;
        if (!withGroupCurrent(group, [&](QOpenGLFunctions_2_1& gl) { freeBuffers(gl, b); })) {
            const std::vector<GLuint> names = namesOf(b);
            state.unfreed.insert(state.unfreed.end(), names.begin(), names.end());
        }
        state.entries.erase(it);
    }
}

void FragmentBufferCache::deleteUnfreed(QOpenGLFunctions_2_1& gl, GroupBuffers& group) {
    if (group.unfreed.empty())
        return;
    gl.glDeleteBuffers(GLsizei(group.unfreed.size()), group.unfreed.data());
    liveNames -= group.unfreed.size();
    group.unfreed.clear();
}

bool FragmentBufferCache::withGroupCurrent(QOpenGLContextGroup* group,
                                           const std::function<void(QOpenGLFunctions_2_1&)>& use) {
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (current && current->shareGroup() == group) {
        QOpenGLFunctions_2_1* gl = fixedFunctionsOf(current);
        if (gl)
            use(*gl);
        return gl != nullptr;
    }
    QOpenGLContext* ctx = contextOfGroup(group);
    QOffscreenSurface* surface = ctx ? deletionSurface(ctx->format()) : nullptr;
    if (!surface)
        return false;
    const CurrentContextScope scope(*ctx, *surface);
    QOpenGLFunctions_2_1* gl = scope.isCurrent() ? fixedFunctionsOf(ctx) : nullptr;
    if (gl)
        use(*gl);
    return gl != nullptr;
}

QOffscreenSurface* FragmentBufferCache::deletionSurface(const QSurfaceFormat& format) {
    if (surfaceForDeletions)
        return surfaceForDeletions;
    if (!QGuiApplication::instance() || QCoreApplication::closingDown())
        return nullptr;
    auto* surface = new QOffscreenSurface;
    surface->setFormat(format);
    surface->create();
    if (!surface->isValid()) {
        delete surface;
        return nullptr;
    }
    surfaceForDeletions = surface;
    // The surface must go while the window system is still there.
    qAddPostRoutine([] {
        FragmentBufferCache& cache = instance();
        delete cache.surfaceForDeletions;
        cache.surfaceForDeletions = nullptr;
    });
    return surface;
}
