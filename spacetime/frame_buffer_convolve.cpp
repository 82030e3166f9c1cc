#include <algorithm>
#include <climits>
#include <cstddef>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

// dst[p] = sum over s of weights[s] * rows[s][p] for p in [begin, end), in blocks small
// enough for dst to stay in the first-level cache while the slots are added in.
void weightedSum(const std::vector<const float*>& rows, const std::vector<float>& weights,
                 std::size_t begin, std::size_t end, float* dst) {
    constexpr std::size_t kBlock = 2048;
    for (std::size_t b = begin; b < end; b += kBlock) {
        const std::size_t e = std::min(end, b + kBlock);
        float* out = dst + (b - begin);
        const float w0 = weights[0];
        const float* r0 = rows[0];
        for (std::size_t p = b; p < e; ++p) out[p - b] = w0 * r0[p];
        for (std::size_t s = 1; s < rows.size(); ++s) {
            const float w = weights[s];
            const float* r = rows[s];
            for (std::size_t p = b; p < e; ++p) out[p - b] += w * r[p];
        }
    }
}

}  // namespace

int FrameBuffer::ConvolveTime(cv::Mat& out, std::vector<double> kernel) {
    requireStorage("ConvolveTime");
    const int windowLength =
        static_cast<int>(std::min<std::size_t>(kernel.size(), static_cast<std::size_t>(INT_MAX)));
    const int centre = ring_.CentreFrame(windowLength);
    const auto n = static_cast<std::size_t>(length_);
    if (kernel.size() < n) kernel.resize(n, 0.0);

    const std::vector<int>& ages = ring_.UpdateAges();
    std::vector<float> weights(n);
    std::vector<const float*> rows(n);
    for (std::size_t k = 0; k < n; ++k) {
        const auto slot = static_cast<std::size_t>(ages[k]);
        weights[slot] = static_cast<float>(kernel[k]);
    }
    for (std::size_t s = 0; s < n; ++s) rows[s] = storage_.ptr<float>(static_cast<int>(s));

    const auto pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    const bool fitsFlat =
        out.type() == CV_32FC1 && out.isContinuous() && out.total() == pixels && out.dims <= 2;
    if (!fitsFlat) out.create(height_, width_, CV_32FC1);
    if (out.isContinuous()) {
        weightedSum(rows, weights, 0, pixels, out.ptr<float>());
    } else {
        const auto w = static_cast<std::size_t>(width_);
        for (int r = 0; r < height_; ++r)
            weightedSum(rows, weights, r * w, (r + 1) * w, out.ptr<float>(r));
    }
    return centre;
}

}  // namespace stview
