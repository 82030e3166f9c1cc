#include "viewer/video_output.hpp"

namespace stview {

bool openWriter(cv::VideoWriter& writer, const std::string& name, cv::Size frameSize) {
    const int fourcc = cv::VideoWriter::fourcc('D', 'I', 'V', 'X');
    return writer.open(name, cv::CAP_FFMPEG, fourcc, 25.0, frameSize, true);
}

}  // namespace stview
