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
#include <algorithm>
#include <array>
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
    for (GLuint name : {b.positions, b.normals, b.colors, b.highlights, b.indices, b.pickPositions,
                        b.pickColors, b.texCoords})
        if (name)
            names.push_back(name);
    return names;
}

// The texture names b holds.
std::vector<GLuint> textureNamesOf(const FragmentBuffers& b) {
    std::vector<GLuint> names;
    for (GLuint name : b.textures)
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

namespace {
// Drawn vertex d of a mesh shows mesh vertex meshVertexOf(texture, d).
std::uint32_t meshVertexOf(const MeshTexture* texture, std::size_t d) {
    return texture ? texture->meshVertexOf(std::uint32_t(d)) : std::uint32_t(d);
}
} // namespace

template <class T, class Write>
void FragmentBufferCache::fillPerDrawnVertex(QOpenGLFunctions_2_1& gl, GLuint buffer,
                                             const FragmentBuffers& b, const FragMesh& mesh, bool replace,
                                             Write write) {
    const std::size_t n = b.drawnVertexCount;
    const std::size_t bytes = n * sizeof(T);
    const MeshTexture* texture = mesh.texture.get();
    gl.glBindBuffer(GL_ARRAY_BUFFER, buffer);
    if (replace)
        gl.glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ARRAY_BUFFER, bytes, [&](void* dst) {
        auto* out = static_cast<T*>(dst);
        for (std::size_t d = 0; d < n; ++d)
            write(meshVertexOf(texture, d), out[d]);
    });
    ++traffic.uploads;
    traffic.uploadedBytes += bytes;
}

void FragmentBufferCache::fillPositions(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                        bool replace) {
    using Float3 = std::array<float, 3>;
    b.origin = mesh.bbox.isNull() ? Eigen::Vector3d::Zero() : mesh.bbox.center();
    const Eigen::Vector3d origin = b.origin;
    fillPerDrawnVertex<Float3>(gl, b.positions, b, mesh, replace, [&](std::uint32_t v, Float3& out) {
        const Point3d& p = mesh.vertices[v];
        out = {float(p.x() - origin.x()), float(p.y() - origin.y()), float(p.z() - origin.z())};
    });
    const bool haveNormals = mesh.vertexNormals.size() == mesh.vertices.size();
    fillPerDrawnVertex<Float3>(gl, b.normals, b, mesh, replace, [&](std::uint32_t v, Float3& out) {
        const Point3d p = haveNormals ? mesh.vertexNormals[v] : Point3d::Zero();
        out = {float(p.x()), float(p.y()), float(p.z())};
    });
    ++b.positionGeneration;
}

void FragmentBufferCache::fillColors(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                     bool replace) {
    const std::size_t n = b.vertexCount;
    for (auto [buffer, colors] :
         {std::pair{b.colors, &mesh.displayColors}, {b.highlights, &mesh.highlightColors}}) {
        const bool assigned = colors->size() == n;
        if (assigned && b.drawnVertexCount == n) {
            upload(gl, GL_ARRAY_BUFFER, buffer, n * sizeof(Color4b), colors->data(), replace);
            continue;
        }
        // Colours not assigned yet are white.
        fillPerDrawnVertex<Color4b>(gl, buffer, b, mesh, replace, [&](std::uint32_t v, Color4b& out) {
            out = assigned ? (*colors)[v] : Color4b{255, 255, 255, 255};
        });
    }
}

void FragmentBufferCache::fillIndices(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh,
                                      bool replace) {
    const std::size_t nf = b.faceCount;
    const MeshTexture* texture = mesh.texture.get();
    const std::vector<FragMesh::Face>& faces = texture ? texture->faces : mesh.faces;
    const std::size_t materials = texture ? std::max<std::size_t>(texture->materials.size(), 1) : 1;
    const auto materialOf = [&](std::size_t k) {
        return texture ? std::min<std::size_t>(texture->materialOf(k), materials - 1) : 0;
    };
    const bool haveMarks = mesh.marked.size() == nf;
    const auto isMarked = [&](std::size_t k) { return haveMarks && mesh.marked[k] != 0; };

    // Unmarked faces first, then the marked ones, each set by material, so that each set and each
    // material in it is one range.
    const auto bucketOf = [&](std::size_t k) { return (isMarked(k) ? materials : 0) + materialOf(k); };
    std::vector<std::size_t> start(2 * materials, 0);
    for (std::size_t k = 0; k < nf; ++k)
        ++start[bucketOf(k)];
    b.unmarkedRanges.clear();
    b.markedRanges.clear();
    std::size_t first = 0;
    for (std::size_t bucket = 0; bucket < 2 * materials; ++bucket) {
        const std::size_t count = start[bucket];
        start[bucket] = first;
        auto& ranges = bucket < materials ? b.unmarkedRanges : b.markedRanges;
        if (count > 0)
            ranges.push_back({std::uint16_t(bucket % materials), first, count});
        first += count;
    }
    b.markedCount = nf - start[materials];
    const std::size_t bytes = nf * sizeof(FragMesh::Face);
    if (b.unmarkedRanges.size() + b.markedRanges.size() <= 1) {
        upload(gl, GL_ELEMENT_ARRAY_BUFFER, b.indices, bytes, faces.data(), replace);
        return;
    }
    gl.glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.indices);
    if (replace)
        gl.glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(bytes), nullptr, GL_STATIC_DRAW);
    writeMapped(gl, GL_ELEMENT_ARRAY_BUFFER, bytes, [&](void* dst) {
        auto* out = static_cast<FragMesh::Face*>(dst);
        std::vector<std::size_t> next = start;
        for (std::size_t k = 0; k < nf; ++k)
            std::memcpy(&out[next[isMarked(k) ? materials : materialOf(k)]++], &faces[k],
                        sizeof(FragMesh::Face));
    });
    ++traffic.uploads;
    traffic.uploadedBytes += bytes;
}

void FragmentBufferCache::fillTexture(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh) {
    const MeshTexture* texture = mesh.texture.get();
    b.texture = texture;
    if (!texture)
        return;
    // Rows of an image run downwards and v upwards.
    std::vector<float> coords(2 * b.drawnVertexCount);
    for (std::size_t d = 0; d < b.drawnVertexCount; ++d) {
        coords[2 * d] = texture->coords[d].x();
        coords[2 * d + 1] = 1.0f - texture->coords[d].y();
    }
    if (!b.texCoords)
        genBuffers(gl, 1, &b.texCoords);
    upload(gl, GL_ARRAY_BUFFER, b.texCoords, coords.size() * sizeof(float), coords.data(), true);
    if (!b.textures.empty())
        return; // the images of a mesh never change
    for (const TextureMaterial& m : texture->materials)
        b.textures.push_back(m.image ? uploadImage(gl, *m.image) : 0);
}

GLuint FragmentBufferCache::uploadImage(QOpenGLFunctions_2_1& gl, const QImage& image) {
    GLint maxSide = 0;
    gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    QImage fitted;
    if (image.width() > maxSide || image.height() > maxSide) // only on small graphics memory
        fitted = image.scaled(std::min(image.width(), maxSide), std::min(image.height(), maxSide),
                              Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QImage& drawn = fitted.isNull() ? image : fitted;
    GLuint name = 0;
    gl.glGenTextures(1, &name);
    ++liveNames;
    gl.glPushAttrib(GL_TEXTURE_BIT);
    gl.glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    gl.glBindTexture(GL_TEXTURE_2D, name);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(drawn.bytesPerLine() / 4));
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    // The smaller levels keep a far view of a sherd from shimmering.
    gl.glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    const GLint format = drawn.hasAlphaChannel() ? GL_RGBA8 : GL_RGB8;
    gl.glTexImage2D(GL_TEXTURE_2D, 0, format, drawn.width(), drawn.height(), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                    drawn.constBits());
    gl.glPopClientAttrib();
    gl.glPopAttrib();
    ++traffic.uploads;
    traffic.uploadedBytes += std::size_t(drawn.sizeInBytes());
    return name;
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
                         b.vertexCount != mesh.vertices.size() || b.faceCount != mesh.faces.size() ||
                         b.texture != mesh.texture.get();
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
        if (b.texture != mesh.texture.get())
            freeTextures(gl, b);
        b.vertexCount = mesh.vertices.size();
        b.faceCount = mesh.faces.size();
        b.drawnVertexCount = mesh.texture ? mesh.texture->drawnVertexCount() : b.vertexCount;
        fillPositions(gl, b, mesh, true);
        fillColors(gl, b, mesh, true);
        fillIndices(gl, b, mesh, true);
        fillTexture(gl, b, mesh);
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

void FragmentBufferCache::freeTextures(QOpenGLFunctions_2_1& gl, FragmentBuffers& b) {
    for (GLuint name : textureNamesOf(b)) {
        gl.glDeleteTextures(1, &name);
        --liveNames;
    }
    b.textures.clear();
}

void FragmentBufferCache::freeBuffers(QOpenGLFunctions_2_1& gl, FragmentBuffers& b) {
    freeTextures(gl, b);
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
        liveNames -= namesOf(b).size() + textureNamesOf(b).size();
    liveNames -= it->second.unfreed.size() + it->second.unfreedTextures.size();
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
            const std::vector<GLuint> names = namesOf(b), textures = textureNamesOf(b);
            state.unfreed.insert(state.unfreed.end(), names.begin(), names.end());
            state.unfreedTextures.insert(state.unfreedTextures.end(), textures.begin(), textures.end());
        }
        state.entries.erase(it);
    }
}

void FragmentBufferCache::deleteUnfreed(QOpenGLFunctions_2_1& gl, GroupBuffers& group) {
    if (!group.unfreed.empty())
        gl.glDeleteBuffers(GLsizei(group.unfreed.size()), group.unfreed.data());
    if (!group.unfreedTextures.empty())
        gl.glDeleteTextures(GLsizei(group.unfreedTextures.size()), group.unfreedTextures.data());
    liveNames -= group.unfreed.size() + group.unfreedTextures.size();
    group.unfreed.clear();
    group.unfreedTextures.clear();
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
