#pragma once

#include <vector>

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "spacetime/frame_buffer.hpp"

namespace stview::test {

/// rows x cols CV_32FC1 image with value base + 10 * row + column.
inline cv::Mat pattern(int rows, int cols, float base) {
    cv::Mat image(rows, cols, CV_32FC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) image.at<float>(r, c) = base + 10.0f * r + c;
    return image;
}

/// Largest absolute difference; throws cv::Exception when size or type differ.
inline double diff(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

inline std::vector<int> labels(const FrameRing& ring) {
    std::vector<int> out;
    for (int s = 0; s < ring.Size(); ++s) out.push_back(ring.FrameAt(s));
    return out;
}

inline cv::Mat atSlot(const FrameBuffer& buffer, int slot) {
    cv::Mat out;
    EXPECT_EQ(buffer.GetFrameAtSlot(slot, out), 0) << "slot " << slot;
    return out;
}

}  // namespace stview::test
