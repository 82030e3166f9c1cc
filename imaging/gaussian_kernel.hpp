#pragma once

#include <vector>

namespace stview {

/// Largest half size (taps on each side of the centre) that makeGaussianKernel accepts.
/// Half sizes above 46340, whose squared offsets overflow 32 bits, are sampled with
/// 64-bit squared offsets.
constexpr int kMaxGaussianHalfSize = 1 << 22;

/**
 * @brief Sampled, normalised one-dimensional Gaussian, trimmed where outer taps underflow.
 *
 * The half size is `size / 2` (truncated) when `size` is not 0, otherwise
 * `sqrt(variance) * sigmaMultiple` truncated toward zero. The taps are
 * exp(-j*j / (2 * variance)) for j = -half .. half, divided by their sum. When outer taps
 * have underflowed to zero, the result keeps exactly one zero tap at each end.
 *
 * @param variance sigma squared; must be greater than zero (infinity gives a box kernel).
 * @param size kernel width in taps, or 0 to derive the width from the variance.
 * @param sigmaMultiple half size in standard deviations; used only when `size` is 0.
 * @return 2n + 1 taps, odd length, exactly symmetric; element n is the centre.
 * @throws std::invalid_argument for a variance that is zero, negative or NaN, for a
 *         negative half size, and for a half size above kMaxGaussianHalfSize; the message
 *         names the value.
 */
std::vector<double> makeGaussianKernel(double variance, int size, int sigmaMultiple);

}  // namespace stview
