#pragma once
// What the pick passes of the interpenetration view draw: per fragment its persistent per-corner
// pick buffers (FragmentBufferCache), cut into chunks of consecutive faces. Faces that occur more
// than once are left out. Per direction each chunk knows where it falls in the image, how deep it
// reaches and which way its faces turn, so a pass draws only the chunks that can still produce a
// layer: a chunk whose deepest point lies no deeper than the previous layer plus the tolerance
// everywhere under it is peeled through and never drawn again in that direction.

#include "geometry_types.h"
#include "render_buffers.h"

#include <Eigen/Core>
#include <cstdint>
#include <vector>

class Fragment;

// Minimum of a window-depth image over rectangles, through a pyramid of 2 x 2 minima.
class DepthMinPyramid {
public:
    void build(const float* depths, int width, int height);
    // A lower bound of the depth over the pixels [x0, x1] x [y0, y1] (inclusive, clamped).
    float minOver(int x0, int y0, int x1, int y1) const;

private:
    struct Level {
        int width = 0, height = 0;
        std::vector<float> values;
    };
    std::vector<Level> levels;
};

enum class Facing { Front, Back };

class PickPassGeometry {
public:
    static constexpr std::size_t ChunkFaces = 256;

    // Brings the pick buffers of every fragment up to date (in the current context) and cuts
    // them into chunks.
    PickPassGeometry(QOpenGLFunctions_2_1& gl, const std::vector<Fragment*>& fragments);
    bool isEmpty() const { return lists.empty(); }

    // A new direction: axis (0, 1, 2 for x, y, z, the eye on the positive side), the camera
    // (projection * view, column vectors) and the image size. Every chunk is drawable again.
    void startDirection(int axis, const Eigen::Matrix4d& projectionView, int width, int height);
    // Draws the faces turned that way of the chunks still in play, each fragment with model-view
    // view * (its buffers' origin), composed in double precision. Culling must be set by the caller.
    void draw(QOpenGLFunctions_2_1& gl, const Eigen::Matrix4d& view, Facing facing) const;
    // After a pass: chunks that lastDepth (+ tolerance) lies behind everywhere under them leave play.
    void retirePeeled(const DepthMinPyramid& lastDepth, float tolerance);
    // Chunks still in play in this direction.
    std::size_t chunksInPlay() const;

private:
    struct Chunk {
        GLint firstVertex = 0;
        GLsizei vertexCount = 0;
        Box3d box;                  // world coordinates
        std::uint8_t turns[3] = {}; // per axis: bit 0 some face turns to the eye, bit 1 some away
        // Per direction.
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // pixels it may cover
        float deepest = 1.0f;               // window depth bound
        bool inPlay = true;
    };
    struct List {
        FragmentBuffers* buffers = nullptr;
        std::vector<Chunk> chunks;
    };
    void addChunks(List& list, const FragMesh& mesh, std::size_t firstFace, std::size_t faces);

    std::vector<List> lists;
    int axis = 0;
    mutable std::vector<GLint> firsts;
    mutable std::vector<GLsizei> counts;
};
