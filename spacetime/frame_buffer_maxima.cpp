#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {

// A position is a maximum when every compared neighbour is strictly smaller; the order of the
// comparisons does not change that. Each row is therefore scanned in two passes: a branch-free
// pass over the 8 neighbours in the same frame marks the candidates, and only those are
// compared with the table's neighbours in the adjacent frames.
void FrameBuffer::FindLocalMaxima(FeatureList& points, bool fullNeighbourhood) {
    requireStorage("FindLocalMaxima");
    if (Neighbours26 != makeNeighbours26() || Neighbours10 != makeNeighbours10())
        throw std::logic_error("FrameBuffer::FindLocalMaxima: neighbour tables were modified");

    std::array<SpaceTimeOffset, 26> temporal{};
    std::size_t count = 0;
    const auto collect = [&](const auto& table) {
        for (const SpaceTimeOffset& o : table)
            if (o.dt != 0) temporal[count++] = o;
    };
    if (fullNeighbourhood)
        collect(Neighbours26);
    else
        collect(Neighbours10);

    const std::vector<int> order = ring_.UpdateAges();
    if (length_ < 3 || width_ < 3 || height_ < 3) return;

    const std::ptrdiff_t width = width_;
    std::vector<std::uint8_t> candidate(static_cast<std::size_t>(width_));
    std::array<const float*, 26> neighbour{};
    FeaturePoint record;
    for (int age = 1; age <= length_ - 2; ++age) {
        const int slot = order[static_cast<std::size_t>(age)];
        const float* frame = storage_.ptr<float>(slot);
        const int frameNumber = ring_.FrameAt(slot);
        for (int r = 1; r <= height_ - 2; ++r) {
            const float* up = frame + (r - 1) * width;
            const float* centre = frame + r * width;
            const float* down = frame + (r + 1) * width;
            for (std::ptrdiff_t c = 1; c < width - 1; ++c) {
                const float v = centre[c];
                candidate[static_cast<std::size_t>(c)] =
                    (centre[c - 1] < v) & (centre[c + 1] < v) & (up[c - 1] < v) & (up[c] < v) &
                    (up[c + 1] < v) & (down[c - 1] < v) & (down[c] < v) & (down[c + 1] < v);
            }
            // neighbour[e][c - 1] is entry e's neighbour of column c.
            for (std::size_t e = 0; e < count; ++e) {
                const SpaceTimeOffset& o = temporal[e];
                neighbour[e] = storage_.ptr<float>(order[static_cast<std::size_t>(age + o.dt)]) +
                               (r + o.dy) * width + (1 + o.dx);
            }
            for (std::ptrdiff_t c = 1; c < width - 1; ++c) {
                if (!candidate[static_cast<std::size_t>(c)]) continue;
                const float v = centre[c];
                std::size_t e = 0;
                while (e < count && neighbour[e][c - 1] < v) ++e;
                if (e < count) continue;
                record.x = static_cast<int>(c);
                record.y = r;
                record.t = frameNumber;
                record.value = static_cast<double>(v);
                points.push_back(record);
            }
        }
    }
}

}  // namespace stview
