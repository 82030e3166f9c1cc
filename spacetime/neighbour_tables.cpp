#include "spacetime/neighbour_tables.hpp"

#include <cstddef>

namespace stview {
namespace {

template <std::size_t N>
std::array<SpaceTimeOffset, N> cube(int radius) {
    std::array<SpaceTimeOffset, N> table{};
    std::size_t i = 0;
    for (int dt = -radius; dt <= radius; ++dt)
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                if (dt != 0 || dy != 0 || dx != 0) table[i++] = {dt, dy, dx};
    return table;
}

// The square of the voxel's own frame; returns the index after its last entry.
template <std::size_t N>
std::size_t square(std::array<SpaceTimeOffset, N>& table, int radius) {
    std::size_t i = 0;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (dy != 0 || dx != 0) table[i++] = {0, dy, dx};
    return i;
}

}  // namespace

std::array<SpaceTimeOffset, 26> makeNeighbours26() { return cube<26>(1); }

std::array<SpaceTimeOffset, 124> makeNeighbours124() { return cube<124>(2); }

std::array<SpaceTimeOffset, 10> makeNeighbours10() {
    std::array<SpaceTimeOffset, 10> table{};
    std::size_t i = square(table, 1);
    table[i++] = {1, 0, 0};
    table[i] = {-1, 0, 0};
    return table;
}

std::array<SpaceTimeOffset, 28> makeNeighbours28() {
    std::array<SpaceTimeOffset, 28> table{};
    std::size_t i = square(table, 2);
    for (int dt : {-2, -1, 1, 2}) table[i++] = {dt, 0, 0};
    return table;
}

}  // namespace stview
