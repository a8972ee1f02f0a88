#pragma once
// GPU copies of fragment meshes: per OpenGL share group, per fragment, vertex buffer objects that
// mirror the FragMesh arrays. They are uploaded once and refreshed only for what FragMesh::changes
// marks; the renderer clears those bits after the upload. Works in the current context (which
// must be an OpenGL 2.1 compatibility context).

#include "frag_mesh.h"
#include "mesh_texture.h"

#include <QOpenGLFunctions_2_1>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class Fragment;
class QOffscreenSurface;
class QOpenGLContextGroup;
class QSurfaceFormat;

// GPU traffic since the last reset.
struct RenderCounters {
    std::uint64_t uploads = 0;       // glBufferData / glBufferSubData calls that sent data
    std::uint64_t uploadedBytes = 0; // bytes they sent
    std::uint64_t bufferSets = 0;    // fragments whose buffers were (re)built from scratch
};

// The buffers of one fragment in one share group. Positions are floats relative to `origin`
// (the box centre at upload time), so that coordinates far from the origin keep their precision;
// the drawing translates by origin in double precision.
//
// A textured mesh is drawn over its texture's drawn vertices (MeshTexture: the mesh's vertices and
// the copies at the seams of the texture map), and its unmarked faces are sorted by material, one
// range each, and so are the marked ones, so that each range is drawn with its image bound.
struct FragmentBuffers {
    // The faces of one material: a range of indices (in faces).
    struct MaterialRange {
        std::uint16_t material = 0;
        std::size_t first = 0, count = 0;
    };

    GLuint positions = 0, normals = 0, colors = 0, highlights = 0, indices = 0;
    GLuint pickPositions = 0, pickColors = 0; // one vertex per face corner, built on demand
    GLuint texCoords = 0;                     // per drawn vertex, for a textured mesh
    std::vector<GLuint> textures;             // per material: its image, or 0 without one
    const MeshTexture* texture = nullptr;     // what texCoords and textures were made from
    std::size_t vertexCount = 0, faceCount = 0;
    std::size_t drawnVertexCount = 0; // vertexCount plus the seam copies of a textured mesh
    std::size_t markedCount = 0;      // marked faces, stored after the unmarked ones in indices
    std::vector<MaterialRange> unmarkedRanges, markedRanges; // in index order
    Eigen::Vector3d origin = Eigen::Vector3d::Zero();
    std::uint32_t pending = 0;            // changes uploaded by another share group, not yet here
    std::uint64_t positionGeneration = 0; // counts position uploads
    // What the pick buffers were built from; they are rebuilt when any of these differ.
    std::uint64_t pickPositionGeneration = ~0ull;
    const Color4b* pickColorData = nullptr;
    std::size_t pickColorCount = 0;
    Color4b pickFirst, pickLast;
    std::int64_t lastUse = 0; // milliseconds of the cache clock
    bool built = false;
};

class FragmentBufferCache {
public:
    static FragmentBufferCache& instance();

    // The buffers of f in the current context's share group, brought up to date with its mesh
    // (changes cleared afterwards). Null when no context is current.
    FragmentBuffers* prepare(QOpenGLFunctions_2_1& gl, Fragment& f);
    // Brings the per-corner pick buffers of b up to date with the mesh's pick colours.
    void preparePick(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh);

    // Frees f's buffers in every share group that holds them, at once: a group's context is made
    // current for the moment when none of it is (the current context is current again
    // afterwards). Should that fail, the names are freed at the group's next draw.
    void release(const Fragment* f);
    // Buffers not used for this long are freed (checked at most every few seconds); a fragment that
    // shows again is uploaded again.
    void setIdleLimitMs(std::int64_t ms) { idleLimitMs = ms; }
    // Number of fragments with buffers in the current share group.
    std::size_t entryCount() const;
    // Buffer and texture names the cache holds on the GPU, over all share groups.
    std::size_t liveBufferCount() const { return liveNames; }

    RenderCounters counters() const { return traffic; }
    void resetCounters() { traffic = {}; }

private:
    using Entries = std::unordered_map<const Fragment*, FragmentBuffers>;
    // What the cache keeps in one share group.
    struct GroupBuffers {
        Entries entries;
        std::vector<GLuint> unfreed, unfreedTextures; // names of released fragments still to delete
    };

    GroupBuffers* currentGroup();
    // Runs use with a context of group current; false when none could be made current.
    bool withGroupCurrent(QOpenGLContextGroup* group, const std::function<void(QOpenGLFunctions_2_1&)>& use);
    // The surface deletions make a context current on (made on first use, freed at exit).
    QOffscreenSurface* deletionSurface(const QSurfaceFormat& format);
    void deleteUnfreed(QOpenGLFunctions_2_1& gl, GroupBuffers& group);
    void upload(QOpenGLFunctions_2_1& gl, GLenum target, GLuint buffer, std::size_t bytes, const void* data,
                bool replace);
    void fillPositions(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh, bool replace);
    void fillColors(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh, bool replace);
    void fillIndices(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh, bool replace);
    void fillTexture(QOpenGLFunctions_2_1& gl, FragmentBuffers& b, const FragMesh& mesh);
    // Fills buffer with one value per drawn vertex: write(meshVertex, destination) for each.
    template <class T, class Write>
    void fillPerDrawnVertex(QOpenGLFunctions_2_1& gl, GLuint buffer, const FragmentBuffers& b,
                            const FragMesh& mesh, bool replace, Write write);
    void genBuffers(QOpenGLFunctions_2_1& gl, GLsizei n, GLuint* names);
    GLuint uploadImage(QOpenGLFunctions_2_1& gl, const QImage& image);
    void freeBuffers(QOpenGLFunctions_2_1& gl, FragmentBuffers& b);
    void freeTextures(QOpenGLFunctions_2_1& gl, FragmentBuffers& b);
    // Drops the bookkeeping of a share group that was destroyed (its buffers went with it).
    void forgetGroup(QOpenGLContextGroup* group);
    void sweepIdle(QOpenGLFunctions_2_1& gl, Entries& entries, std::int64_t now);

    std::unordered_map<QOpenGLContextGroup*, GroupBuffers> groups;
    QOffscreenSurface* surfaceForDeletions = nullptr;
    RenderCounters traffic;
    std::size_t liveNames = 0;
    std::int64_t idleLimitMs = 5 * 60 * 1000;
    std::int64_t lastSweep = 0;
};
