#pragma once

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "features/feature_columns.hpp"  // kHogLength, kHofLength: numbers per descriptor

namespace stview {

/**
 * @brief Gradient of f per pixel, as numpy.gradient computes it: (f(x+1) - f(x-1)) / 2 inside,
 * f(1) - f(0) and f(w-1) - f(w-2) at the frame's edges, 0 along an extent of one pixel; the
 * same along rows (rows grow downward).
 * @param grey CV_32FC1, any non-empty size (f in [0, 1]).
 * @param gradient becomes CV_32FC2 of grey's size: channel 0 dx, channel 1 dy.
 * @throws std::invalid_argument for an empty image or another type.
 */
void gradientField(const cv::Mat& grey, cv::Mat& gradient);

/**
 * @brief Dense optical flow from @p a to @p b: cv::calcOpticalFlowFarneback(a, b, flow, 0.5, 3,
 * 15, 3, 5, 1.2, 0).
 * @param a, b CV_8UC1 grey frames of one non-empty size.
 * @param flow becomes CV_32FC2 of that size: channel 0 column motion, channel 1 row motion.
 * @throws std::invalid_argument for empty, mismatched or non-8-bit-grey frames.
 */
void flowField(const cv::Mat& a, const cv::Mat& b, cv::Mat& flow);

/**
 * @brief Direction bin of a vector (dx, dy) with rows growing downward:
 * floor(((atan2(dy, dx) + 45 deg) mod 360 deg) / 90 deg), i.e. 0 right, 1 down, 2 left, 3 up.
 * Exact at the diagonals (45 deg is down, -45 deg right, 135 deg left, -135 deg up), since it
 * compares signs of dy - dx and dy + dx instead of rounding an angle. (0, 0) gives 0.
 */
inline int directionBin(float dx, float dy) {
    const float u = dy - dx;  // IEEE subtraction keeps the exact sign, zero only for equality
    const float v = dy + dx;
    if (u < 0 && v >= 0) return 0;
    if (u >= 0 && v > 0) return 1;
    if (u > 0 && v <= 0) return 2;
    if (u <= 0 && v < 0) return 3;
    return 0;
}

/**
 * @brief The votes of one frame, prepared once per frame and read by every box that covers it.
 * bins: CV_8UC1, the bin each pixel votes for (HOG 0-3, HOF 0-4 with 4 = no motion).
 * weights: CV_32FC1 gradient magnitudes for HOG; empty for HOF, where each pixel weighs 1.
 */
struct FrameVotes {
    cv::Mat bins;
    cv::Mat weights;
};

/**
 * @brief Votes from a field (CV_32FC2, non-empty). HOG (@p flow false): bin of the gradient's
 * direction, weighted by its length. HOF (@p flow true): bin of the flow's direction when it is
 * at least 0.5 pixel long, else the no-motion bin 4. Reuses @p votes' buffers.
 * @throws std::invalid_argument for an empty field or another type.
 */
void fieldVotes(const cv::Mat& field, bool flow, FrameVotes& votes);

/// A descriptor box: first column, first row (from the top), first frame; n columns and rows,
/// m frames.
struct DescriptorBox {
    int x0, y0, t0, n, m;
};

/**
 * @brief The box around (column, row, frame) for variances (sigma^2, tau^2):
 * n = max(3, lround(18 sigma)), m = max(3, lround(8 tau)), x0 = column - floor(n / 2),
 * y0 = row - floor(n / 2), t0 = frame - floor(m / 2).
 * @throws std::invalid_argument for a negative or non-finite variance, or a box whose extent
 *         or coordinates would not fit an int.
 */
DescriptorBox descriptorBox(int column, int row, int frame, double sigma2, double tau2);

/**
 * @brief Appends the box's HOG (72 numbers, @p flow false) or HOF (90, @p flow true),
 * normalised to unit L2 length (all zeros stay zeros). Order: cell (time, then row, then
 * column; cell i of an extent n in k cells covers [floor(i n / k), floor((i + 1) n / k))), then
 * bin. Box positions outside the frame take the votes of the nearest pixel inside, and frames
 * outside [first, last] those of first or last.
 * @param votes gives the votes of frame t for t in [first, last] (from fieldVotes with the
 *        same @p flow; every frame of one size). Called once per frame of the box. For HOF the
 *        votes of frame t come from the flow of (t, t + 1), those of last from (last - 1,
 *        last), and a single-frame range from a zero flow (all no motion).
 * @throws std::invalid_argument for first > last, an extent below 1, or votes that are empty,
 *         of another type or size, or not HOG/HOF votes as @p flow says.
 */
void appendHistograms(const DescriptorBox& box, int first, int last,
                      const std::function<const FrameVotes&(int)>& votes, bool flow,
                      std::vector<double>& out);

}  // namespace stview
