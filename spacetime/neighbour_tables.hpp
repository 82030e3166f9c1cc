#pragma once

#include <array>

namespace stview {

/// One neighbour of a voxel: offsets along frames (dt), image rows (dy) and columns (dx).
struct SpaceTimeOffset {
    int dt, dy, dx;
};

inline bool operator==(const SpaceTimeOffset& a, const SpaceTimeOffset& b) {
    return a.dt == b.dt && a.dy == b.dy && a.dx == b.dx;
}
inline bool operator!=(const SpaceTimeOffset& a, const SpaceTimeOffset& b) { return !(a == b); }

/// The 3x3x3 cube without its centre; dt outermost, dx innermost, each ascending.
std::array<SpaceTimeOffset, 26> makeNeighbours26();
/// The 8 neighbours in the same frame (dy outer, dx inner), then (1,0,0), then (-1,0,0).
std::array<SpaceTimeOffset, 10> makeNeighbours10();
/// The 5x5x5 cube without its centre, in the order of makeNeighbours26.
std::array<SpaceTimeOffset, 124> makeNeighbours124();
/// The 24 neighbours in the 5x5 square of the same frame, then dt = -2, -1, 1, 2.
std::array<SpaceTimeOffset, 28> makeNeighbours28();

}  // namespace stview
