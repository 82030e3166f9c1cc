#pragma once

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace stview {

/// The output video's fixed parameters: DIVX at 25 frames per second, colour.
bool openWriter(cv::VideoWriter& writer, const std::string& name, cv::Size frameSize);

}  // namespace stview
