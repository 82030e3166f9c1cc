#pragma once

// Small videos for the end-to-end tests: frame i shows its number in binary as
// six dark or bright blocks along the top edge, so that every frame can be told
// apart after lossy coding.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace stview::testing_support {

inline const cv::Size kVideoSize(96, 64);

cv::Mat numberedFrame(int number);
int numberOf(const cv::Mat& frame);

/// Writes frames 0 .. count-1 as Motion JPEG; false when the writer fails.
bool writeNumberedVideo(const std::string& path, int count, double framesPerSecond = 25);

/// Every frame FFmpeg decodes from @p path (none when it cannot be opened).
std::vector<cv::Mat> readAllFrames(const std::string& path);

}  // namespace stview::testing_support
