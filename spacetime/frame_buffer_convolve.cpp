#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

// dst[p] = sum over s of weights[s] * rows[s][p] for p in [begin, end). Works in blocks that
// stay in the first-level cache and adds four slots per pass. Compiled also for AVX-512 and
// AVX2, chosen at the first call; the build contracts no multiply-add, so all round alike.
__attribute__((target_clones("avx512f", "avx2", "default"))) void weightedSum(
    const std::vector<const float*>& rows, const std::vector<float>& weights, std::size_t begin,
    std::size_t end, float* dst) {
    constexpr std::size_t kBlock = 1024;
    std::array<float, kBlock> acc;
    const std::size_t n = rows.size();
    for (std::size_t b = begin; b < end; b += kBlock) {
        const std::size_t len = std::min(end - b, kBlock);
        float* __restrict a = acc.data();
        {
            const float w = weights[0];
            const float* __restrict r = rows[0] + b;
            for (std::size_t p = 0; p < len; ++p) a[p] = w * r[p];
        }
        std::size_t s = 1;
        for (; s + 4 <= n; s += 4) {
            const float w0 = weights[s], w1 = weights[s + 1], w2 = weights[s + 2],
                        w3 = weights[s + 3];
            const float* __restrict r0 = rows[s] + b;
            const float* __restrict r1 = rows[s + 1] + b;
            const float* __restrict r2 = rows[s + 2] + b;
            const float* __restrict r3 = rows[s + 3] + b;
            for (std::size_t p = 0; p < len; ++p)
                a[p] += w0 * r0[p] + w1 * r1[p] + w2 * r2[p] + w3 * r3[p];
        }
        for (; s < n; ++s) {
            const float w = weights[s];
            const float* __restrict r = rows[s] + b;
            for (std::size_t p = 0; p < len; ++p) a[p] += w * r[p];
        }
        std::copy(a, a + len, dst + (b - begin));
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
    for (std::size_t k = 0; k < n; ++k)
        weights[static_cast<std::size_t>(ages[k])] = static_cast<float>(kernel[k]);
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
