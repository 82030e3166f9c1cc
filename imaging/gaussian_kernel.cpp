#include "imaging/gaussian_kernel.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace stview {
namespace {

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

[[noreturn]] void rejectHalfSize(const std::string& value) {
    throw std::invalid_argument("makeGaussianKernel: half size " + value + " is outside 0.." +
                                std::to_string(kMaxGaussianHalfSize));
}

int halfSizeOf(double variance, int size, int sigmaMultiple) {
    if (size != 0) {
        const int half = size / 2;
        if (half < 0 || half > kMaxGaussianHalfSize) {
            rejectHalfSize(std::to_string(half) + " (size " + std::to_string(size) + ")");
        }
        return half;
    }
    const double product = std::sqrt(variance) * sigmaMultiple;
    if (!(product > -1.0 && product < kMaxGaussianHalfSize + 1.0)) {
        rejectHalfSize(text(product) + " (sqrt(variance) * " + std::to_string(sigmaMultiple) + ")");
    }
    return static_cast<int>(product);
}

}  // namespace

std::vector<double> makeGaussianKernel(double variance, int size, int sigmaMultiple) {
    if (!(variance > 0.0)) {
        throw std::invalid_argument("makeGaussianKernel: variance must be greater than zero, got " +
                                    text(variance));
    }
    const int half = halfSizeOf(variance, size, sigmaMultiple);

    std::vector<double> taps(2 * static_cast<std::size_t>(half) + 1);
    const double denominator = variance + variance;
    double sum = 0.0;
    for (int j = -half; j <= half; ++j) {
        const std::int64_t exponent = -(static_cast<std::int64_t>(j) * j);
        const double tap = std::exp(static_cast<double>(exponent) / denominator);
        taps[j + half] = tap;
        sum += tap;
    }
    for (double& tap : taps) {
        tap /= sum;
    }

    int trimmed = 0;
    for (int i = 1; i <= half; ++i) {
        if (taps[i] > 0.0) {
            ++trimmed;
        }
    }
    return std::vector<double>(taps.begin() + (half - trimmed),
                               taps.begin() + (half + trimmed + 1));
}

}  // namespace stview
