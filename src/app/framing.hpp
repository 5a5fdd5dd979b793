// The 3D View's camera and drawing, as far as they are plain arithmetic: how
// far the camera stands to frame a sphere, and the order of a mesh's
// triangles that lets a few of them stand for the whole while the camera
// moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace v2bsp::app {

inline constexpr float kFieldOfView = 45;  // vertical, degrees

// The camera's distance from the centre of a sphere of `radius` at which the
// sphere fits the view, `aspect` being the view's width over its height
// (the narrower of the two fields of view decides), with a 5% margin. A
// radius below 0.01 is taken as 0.01, an aspect not above zero as 1.
float frameDistance(float radius, float aspect, float fieldOfView = kFieldOfView);

// Triangles drawn while the camera moves at most, and in a large level's
// first picture; the full picture comes when it stops.
inline constexpr std::int64_t kMovingTriangles = 250000;
// A level of more triangles than this is drawn at rest a part at a time,
// each part of about this many, so that the window keeps answering.
inline constexpr std::int64_t kPartTriangles = 500000;

// Every how many triangles one is drawn while the camera moves, for a level
// of `triangles`: 1 up to `budget`, then the least stride that keeps to it.
std::uint32_t coarseStride(std::int64_t triangles, std::int64_t budget = kMovingTriangles);

// Reorders one mesh's triangles (three indices each) so that every
// `stride`-th one, from the first, comes first, each part in its old order;
// returns the count of indices of that first part. A stride of 0 is taken
// as 1; indices beyond whole triangles stay where they are.
std::uint32_t putCoarseFirst(std::span<std::uint16_t> indices, std::uint32_t stride);

// The same order made while copying: the `triangles` triangles at `from`
// (three 16-bit indices each, six bytes, in this machine's byte order) to
// `to`, every `stride`-th one first. Returns the count of indices of the
// first part.
std::uint32_t copyCoarseFirst(const std::uint8_t* from, std::size_t triangles, std::uint16_t* to, std::uint32_t stride);

}  // namespace v2bsp::app
