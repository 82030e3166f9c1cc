#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {

void FrameBuffer::FindLocalMaxima(FeatureList& points, bool fullNeighbourhood) {
    requireStorage("FindLocalMaxima");
    std::array<SpaceTimeOffset, 26> entries{};
    const std::size_t count = fullNeighbourhood ? Neighbours26.size() : Neighbours10.size();
    if (fullNeighbourhood)
        std::copy(Neighbours26.begin(), Neighbours26.end(), entries.begin());
    else
        std::copy(Neighbours10.begin(), Neighbours10.end(), entries.begin());
    for (std::size_t e = 0; e < count; ++e) {
        const SpaceTimeOffset& o = entries[e];
        if (o.dt < -1 || o.dt > 1 || o.dy < -1 || o.dy > 1 || o.dx < -1 || o.dx > 1)
            throw std::logic_error(
                "FrameBuffer::FindLocalMaxima: neighbour table entry out of "
                "the 3 x 3 x 3 cube");
    }

    // The result is a conjunction over the entries, so their order is free: the right-hand
    // neighbour goes first. When it is smaller than the centre, the next column cannot be a
    // maximum (its left-hand neighbour is larger), so the scan skips it.
    const SpaceTimeOffset right{0, 0, 1};
    const SpaceTimeOffset left{0, 0, -1};
    auto end = entries.begin() + static_cast<std::ptrdiff_t>(count);
    std::stable_partition(entries.begin(), end,
                          [&](const SpaceTimeOffset& o) { return o == right; });
    std::stable_partition(entries.begin() + 1, end,
                          [&](const SpaceTimeOffset& o) { return o == left; });
    const bool skipAfterSmallerRight = entries[0] == right && entries[1] == left;

    const std::vector<int> order = ring_.UpdateAges();
    if (length_ < 3 || width_ < 3 || height_ < 3) return;

    const std::ptrdiff_t width = width_;
    std::array<const float*, 26> neighbour{};
    FeaturePoint record;
    for (int age = 1; age <= length_ - 2; ++age) {
        const int slot = order[static_cast<std::size_t>(age)];
        const float* centreFrame = storage_.ptr<float>(slot);
        const int frameNumber = ring_.FrameAt(slot);
        for (int r = 1; r <= height_ - 2; ++r) {
            // neighbour[e][c - 1] is entry e's neighbour of column c.
            for (std::size_t e = 0; e < count; ++e) {
                const SpaceTimeOffset& o = entries[e];
                const float* frame =
                    storage_.ptr<float>(order[static_cast<std::size_t>(age + o.dt)]);
                neighbour[e] = frame + (r + o.dy) * width + (1 + o.dx);
            }
            const float* centre = centreFrame + r * width;
            for (int c = 1; c <= width_ - 2;) {
                const float v = centre[c];
                std::size_t e = 0;
                while (e < count && neighbour[e][c - 1] < v) ++e;
                if (e == count) {
                    record.x = c;
                    record.y = r;
                    record.t = frameNumber;
                    record.value = static_cast<double>(v);
                    points.push_back(record);
                }
                c += (skipAfterSmallerRight && e > 0) ? 2 : 1;
            }
        }
    }
}

}  // namespace stview
