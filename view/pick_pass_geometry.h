#pragma once
// What the pick passes of the interpenetration view draw: per fragment its persistent per-corner
// pick buffers (FragmentBufferCache), cut into chunks of consecutive faces. Faces that occur more
// than once are left out. Per direction each chunk knows where it falls in the image, how deep it
// reaches and which way its faces turn, so a pass draws only the chunks that can still produce a
// layer: a chunk whose deepest point lies no deeper than the previous layer plus the tolerance
// everywhere under it is peeled through and never drawn again in that direction.
//
// Only where two fragments' boxes overlap can a face lie inside another fragment. Per direction
// the pixels those overlaps cover, up to the depth they reach, are the region of interest. Which
// solids a line of sight is inside at some depth depends only on the faces in front of it: a
// chunk that covers no pixel of the region, or lies wholly behind it there, is not drawn at all,
// and the caller ignores what lies outside the region (where the chunks left out would make the
// counting of solids wrong). Inside it every face that could matter is drawn, so the
// classification there is the one of a draw of everything.

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
    // (projection * view, column vectors), the image size and the tolerance of the passes. Every
    // chunk that can matter in the region of interest is drawable again.
    void startDirection(int axis, const Eigen::Matrix4d& projectionView, int width, int height,
                        float tolerance);
    // Per pixel (rows from the bottom) the deepest window depth of the region of interest there
    // (rounding included), -1 where the region does not reach.
    void regionDepthLimits(std::vector<float>& limits) const;
    // Draws the faces turned that way of the chunks still in play, each fragment with model-view
    // view * (its buffers' origin), composed in double precision. Culling must be set by the caller.
    void draw(QOpenGLFunctions_2_1& gl, const Eigen::Matrix4d& view, Facing facing) const;
    // After a pass: chunks that lastDepth (+ tolerance) lies behind everywhere under them leave play.
    void retirePeeled(const DepthMinPyramid& lastDepth, float tolerance);
    // Chunks still in play in this direction.
    std::size_t chunksInPlay() const;

private:
    struct PixelRect {
        int x0 = 0, y0 = 0, x1 = -1, y1 = -1; // inclusive
        bool meets(const PixelRect& o) const { return x0 <= o.x1 && o.x0 <= x1 && y0 <= o.y1 && o.y0 <= y1; }
    };
    // The pixels a world box may cover (one pixel of margin), and its window depth range.
    struct Projected {
        PixelRect rect;
        float nearest = 0.0f, deepest = 1.0f;
    };
    Projected project(const Box3d& box) const;
    // The projections of the overlaps of every two fragments' boxes.
    void findRegions();

    struct Chunk {
        GLint firstVertex = 0;
        GLsizei vertexCount = 0;
        Box3d box;                  // world coordinates
        std::uint8_t turns[3] = {}; // per axis: bit 0 some face turns to the eye, bit 1 some away
        // Per direction.
        PixelRect rect;       // pixels it may cover
        float deepest = 1.0f; // window depth bound
        bool inPlay = true;
    };
    struct List {
        FragmentBuffers* buffers = nullptr;
        std::vector<Chunk> chunks;
        Box3d box; // of its chunks
    };
    void addChunks(List& list, const FragMesh& mesh, std::size_t firstFace, std::size_t faces);

    std::vector<List> lists;
    int axis = 0;
    Eigen::Matrix4d camera = Eigen::Matrix4d::Identity();
    int imageWidth = 0, imageHeight = 0;
    std::vector<Projected> regions;
    float passTolerance = 0.0f;
    mutable std::vector<GLint> firsts;
    mutable std::vector<GLsizei> counts;
};
