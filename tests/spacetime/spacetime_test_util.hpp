#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "spacetime/frame_ring.hpp"

namespace stview::test {

/// rows x cols CV_32FC1 image with value base + 10 * row + column.
inline cv::Mat pattern(int rows, int cols, float base) {
    cv::Mat image(rows, cols, CV_32FC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) image.at<float>(r, c) = base + 10.0f * r + c;
    return image;
}

inline std::vector<int> labels(const FrameRing& ring) {
    std::vector<int> out;
    for (int s = 0; s < ring.Size(); ++s) out.push_back(ring.FrameAt(s));
    return out;
}

inline bool sameContent(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

}  // namespace stview::test
