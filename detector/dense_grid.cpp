#include "detector/dense_grid.hpp"

#include <algorithm>

#include "detector/descriptors.hpp"

namespace stview {
namespace {

// Box centres along an extent of @p length: floor(n/2) + i max(1, floor(n/2)) while the box of
// @p n starting floor(n/2) before the centre ends within the extent.
std::vector<int> centres(int length, int n) {
    std::vector<int> out;
    const long half = n / 2, step = std::max(1L, half);
    for (long x = half; x - half + n <= length; x += step) out.push_back(static_cast<int>(x));
    return out;
}

}  // namespace

DenseGrid::DenseGrid(cv::Size frameSize, double sigma2, double tau2, int firstFrame)
    : first_(firstFrame) {
    const DescriptorBox box = descriptorBox(0, 0, 0, sigma2, tau2);
    n_ = box.n;
    m_ = box.m;
    columns_ = centres(frameSize.width, n_);
    rows_ = centres(frameSize.height, n_);
    if (columns_.empty() || rows_.empty()) columns_.clear(), rows_.clear();
}

long DenseGrid::firstPointFrame() const { return static_cast<long>(first_) + m_ / 2; }

long DenseGrid::frameStep() const { return std::max(1, m_ / 2); }

long DenseGrid::finalAfter(long t) const { return t - m_ / 2 + m_ - 1; }

long DenseGrid::decidedThrough(long newest) const { return newest - (m_ - 1 - m_ / 2); }

}  // namespace stview
