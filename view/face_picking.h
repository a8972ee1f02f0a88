#pragma once
// Finding the triangles under a pixel, for picking.

#include "frag_mesh.h"

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

// Faces of mesh whose projected triangle covers the pixel (x, y) (window coordinates, origin at the
// bottom left) and whose centre is not behind depthAtPixel (the depth buffer value read at that
// pixel, in [0, 1]) beyond a small tolerance, nearest first. projection and modelView are the
// OpenGL matrices of the frame (column vectors); viewport is x, y, width, height.
std::vector<std::uint32_t> pickVisibleFaces(const FragMesh& mesh, int x, int y, const Eigen::Matrix4d& projection,
                                            const Eigen::Matrix4d& modelView, const std::array<int, 4>& viewport,
                                            float depthAtPixel);
