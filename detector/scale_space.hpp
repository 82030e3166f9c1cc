#pragma once

#include <array>

#include <opencv2/core.hpp>

namespace stview {

/// The six products of the space-time gradient, in this order: Lx^2, Ly^2, Lt^2, LxLy, LxLt,
/// LyLt.
using GradientProducts = std::array<cv::Mat, 6>;

/**
 * @brief The instruction set that smoothSpace, orderedWeightedSum and cornerResponseRow run on:
 * "avx512", "avx2" or "plain", all three giving the same floats. The best this processor (and
 * build) runs, unless the environment variable STVIEW_SIMD names one of them; it is read once,
 * at the first call of any of these functions.
 * @throws std::runtime_error, as every one of those functions then does, when STVIEW_SIMD is
 *         set to another value or to a path this processor or build cannot run.
 */
const char* simdPath();

/// Reads STVIEW_SIMD again, for tests that compare the paths in one process. Not while any of
/// the functions above runs on another thread.
void reselectSimdPath();

/// makeGaussianKernel(variance, 0, 3) as a CV_32FC1 column of 2 floor(3 sqrt(variance)) + 1
/// taps. @throws std::invalid_argument for a variance that is not positive.
cv::Mat gaussianTaps(double variance);

/// Smooths a CV_32FC1 image by the symmetric @p taps (an odd CV_32FC1 column) along x, then
/// y, repeating the edge pixels (any image size, even smaller than the kernel), as
/// cv::sepFilter2D with BORDER_REPLICATE does up to float rounding. @p dst becomes CV_32FC1
/// of src's size and must not share src's data.
void smoothSpace(const cv::Mat& src, cv::Mat& dst, const cv::Mat& taps);

/**
 * @brief One of the gradient products at frame t (@p which: the index in GradientProducts)
 * from L at t - 1, t and t + 1 (CV_32FC1, one size): Lx = sigma (L(x+1) - L(x-1)) / 2 and Ly
 * likewise, repeating the edge pixels (one-sided at the border, 0 for a single column or row);
 * Lt = tau (after - before) / 2. The caller passes L(t) again for a neighbour outside the
 * processed range. @p product becomes CV_32FC1 of that size.
 */
void gradientProduct(const cv::Mat& before, const cv::Mat& current, const cv::Mat& after,
                     double sigma, double tau, int which, cv::Mat& product);

/// H = det(mu) - k trace(mu)^3 per pixel from the six smoothed products (CV_32FC1), computed
/// in double and stored as CV_32FC1.
void cornerResponse(const GradientProducts& mu, double k, cv::Mat& response);

/// cornerResponse on @p n pixels: @p mu holds the six products' rows, in GradientProducts'
/// order.
void cornerResponseRow(const float* const* mu, double k, int n, float* out);

/**
 * @brief out[p] = sum over s of weights[s] rows[s][p], p in [0, n), summed in this order and
 * grouping: the first term, then the next four at a time (their sum added to the total),
 * then one at a time. It is the order in which FrameBuffer::ConvolveTime sums its slots, so
 * that a sum over the same frames in the same order gives the same floats.
 */
void orderedWeightedSum(const float* const* rows, const float* weights, int terms, int n,
                        float* out);

/// Grey f in [0, 1] as CV_32FC1 from an 8-bit BGR, BGRA or grey frame (BGR to grey as
/// cv::cvtColor does, then / 255). @throws std::invalid_argument for other types.
void greyFloat(const cv::Mat& frame, cv::Mat& grey8, cv::Mat& grey);

}  // namespace stview
