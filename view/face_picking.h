#pragma once
// Finding the triangles under a pixel, for picking.

#include "frag_mesh.h"

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

// How far (in window depth, the [0, 1] range of the depth buffer) a face may lie behind the
// depth buffer value and still count as visible: a few hundred steps of a 24-bit buffer, far
// below the depth difference of two sides of a thin shard at the views' scale.
constexpr double PickDepthTolerance = 1e-5;

// Faces of mesh whose projected triangle covers the pixel (x, y) (window coordinates, origin at the
// bottom left) and whose centre is not behind depthAtPixel (the depth buffer value read at that
// pixel, in [0, 1]) beyond a small tolerance, nearest first. projection and modelView are the
// OpenGL matrices of the frame (column vectors); viewport is x, y, width, height.
//
// Precisely: a face covers the pixel when its projected triangle (clipped at the near plane)
// overlaps the pixel's square [x, x+1] x [y, y+1]; its depth is that of the triangle's plane at
// the pixel centre, which is where the depth buffer value was rasterised. Faces whose triangle
// contains the pixel centre (what the pixel shows) come before those that only touch the square,
// each set nearest first. The depth range is taken as [0, 1]. Large meshes are searched by two
// threads.
std::vector<std::uint32_t> pickVisibleFaces(const FragMesh& mesh, int x, int y,
                                            const Eigen::Matrix4d& projection,
                                            const Eigen::Matrix4d& modelView,
                                            const std::array<int, 4>& viewport, float depthAtPixel);

// The same with the depth of each returned face at the pixel (window depth), for callers that want
// the nearest surface point too.
struct FaceHit {
    std::uint32_t face;
    double depth;
    bool coversCentre; // the projected triangle contains the pixel centre
};
std::vector<FaceHit> pickFacesUnderPixel(const FragMesh& mesh, int x, int y,
                                         const Eigen::Matrix4d& projection, const Eigen::Matrix4d& modelView,
                                         const std::array<int, 4>& viewport, float depthAtPixel,
                                         double tolerance = PickDepthTolerance);
