#pragma once

#include <opencv2/core.hpp>

namespace stview {

/**
 * @brief The blob response |det| of the scale-normalised space-time Hessian at frame t, on
 * rows [@p begin, @p end), from L at t - 1, t and t + 1 (CV_32FC1, one size; the caller passes
 * L(t) again for a neighbour outside the processed range).
 *
 * Second derivatives by central differences, each pass padding its own input by repeating
 * its outermost sample: Lxx = L(x+1) - 2 L(x) + L(x-1), Lyy and Ltt likewise, Lxy = Dy(Dx L),
 * Lxt = Dt(Dx L), Lyt = Dt(Dy L) with D v = (v(+1) - v(-1)) / 2. The matrix is sigma^2 Lxx,
 * sigma^2 Lyy, tau^2 Ltt, sigma^2 Lxy, sigma tau Lxt, sigma tau Lyt; its determinant is taken
 * in double. @p response must be CV_32FC1 of L's size already.
 */
void hessianResponseRows(const cv::Mat& before, const cv::Mat& current, const cv::Mat& after,
                         double sigma, double tau, int begin, int end, cv::Mat& response);

}  // namespace stview
