#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

// dst[k][p] = sum over s of weights[k][s] * rows[s][p] for p in [begin, end) and each of the
// `outputs` weight sets. Works in blocks that stay in the first-level cache and adds four
// slots per pass; the sets share each block's rows, so that the stored frames are read once.
// Compiled also for AVX-512 and AVX2, chosen at the first call; the build contracts no
// multiply-add, so all round alike, and every output is summed as it would be alone.
__attribute__((target_clones("avx512f", "avx2", "default"))) void weightedSum(
    const std::vector<const float*>& rows, const std::vector<float>* weights, int outputs,
    std::size_t begin, std::size_t end, float* const* dst) {
    constexpr std::size_t kBlock = 1024;
    std::array<float, kBlock> acc;
    const std::size_t n = rows.size();
    for (std::size_t b = begin; b < end; b += kBlock) {
        const std::size_t len = std::min(end - b, kBlock);
        for (int k = 0; k < outputs; ++k) {
            const std::vector<float>& w = weights[k];
            float* __restrict a = acc.data();
            {
                const float w0 = w[0];
                const float* __restrict r = rows[0] + b;
                for (std::size_t p = 0; p < len; ++p) a[p] = w0 * r[p];
            }
            std::size_t s = 1;
            for (; s + 4 <= n; s += 4) {
                const float w0 = w[s], w1 = w[s + 1], w2 = w[s + 2], w3 = w[s + 3];
                const float* __restrict r0 = rows[s] + b;
                const float* __restrict r1 = rows[s + 1] + b;
                const float* __restrict r2 = rows[s + 2] + b;
                const float* __restrict r3 = rows[s + 3] + b;
                for (std::size_t p = 0; p < len; ++p)
                    a[p] += w0 * r0[p] + w1 * r1[p] + w2 * r2[p] + w3 * r3[p];
            }
            for (; s < n; ++s) {
                const float ws = w[s];
                const float* __restrict r = rows[s] + b;
                for (std::size_t p = 0; p < len; ++p) a[p] += ws * r[p];
            }
            std::copy(a, a + len, dst[k] + (b - begin));
        }
    }
}

}  // namespace

int FrameBuffer::ConvolveTime(cv::Mat& out, std::vector<double> kernel) {
    cv::Mat* outs[] = {&out};
    std::vector<double>* kernels[] = {&kernel};
    return convolveTime(outs, kernels, 1);
}

int FrameBuffer::ConvolveTimeTwice(cv::Mat& first, std::vector<double> firstKernel, cv::Mat& second,
                                   std::vector<double> secondKernel) {
    if (firstKernel.size() != secondKernel.size()) {
        throw std::invalid_argument("ConvolveTimeTwice: kernels of " +
                                    std::to_string(firstKernel.size()) + " and " +
                                    std::to_string(secondKernel.size()) + " taps");
    }
    cv::Mat* outs[] = {&first, &second};
    std::vector<double>* kernels[] = {&firstKernel, &secondKernel};
    return convolveTime(outs, kernels, 2);
}

int FrameBuffer::convolveTime(cv::Mat* const* outs, std::vector<double>* const* kernels,
                              int count) {
    requireStorage("ConvolveTime");
    const int windowLength = static_cast<int>(
        std::min<std::size_t>(kernels[0]->size(), static_cast<std::size_t>(INT_MAX)));
    const int centre = ring_.CentreFrame(windowLength);
    const auto n = static_cast<std::size_t>(length_);

    const std::vector<int>& ages = ring_.UpdateAges();
    std::vector<float> weights[2];
    for (int k = 0; k < count; ++k) {
        std::vector<double>& kernel = *kernels[k];
        if (kernel.size() < n) kernel.resize(n, 0.0);
        weights[k].resize(n);
        for (std::size_t i = 0; i < n; ++i)
            weights[k][static_cast<std::size_t>(ages[i])] = static_cast<float>(kernel[i]);
    }
    std::vector<const float*> rows(n);
    for (std::size_t s = 0; s < n; ++s) rows[s] = storage_.ptr<float>(static_cast<int>(s));

    const auto pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    bool continuous = true;
    for (int k = 0; k < count; ++k) {
        cv::Mat& out = *outs[k];
        const bool fitsFlat =
            out.type() == CV_32FC1 && out.isContinuous() && out.total() == pixels && out.dims <= 2;
        if (!fitsFlat) out.create(height_, width_, CV_32FC1);
        continuous = continuous && out.isContinuous();
    }
    float* dst[2] = {nullptr, nullptr};
    if (continuous) {
        for (int k = 0; k < count; ++k) dst[k] = outs[k]->ptr<float>();
        weightedSum(rows, weights, count, 0, pixels, dst);
    } else {
        const auto w = static_cast<std::size_t>(width_);
        for (int r = 0; r < height_; ++r) {
            for (int k = 0; k < count; ++k) dst[k] = outs[k]->ptr<float>(r);
            weightedSum(rows, weights, count, r * w, (r + 1) * w, dst);
        }
    }
    return centre;
}

}  // namespace stview
