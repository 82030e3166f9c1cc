#include "video/video_input.hpp"

#include <algorithm>
#include <filesystem>
#include <opencv2/core/utils/logger.hpp>

namespace stview {

bool openVideo(cv::VideoCapture& capture, const std::string& name, int firstFrame,
               std::FILE* messages) {
    // FFmpeg reads nearly every video file; a printf-style name such as
    // "frame%04d.png" is an image sequence. Other back ends are cameras and
    // streams, which probing a file name would only wake up. Their complaints
    // about a file that is no video of theirs are silenced: the one message
    // below says all the user needs.
    namespace logging = cv::utils::logging;
    const logging::LogLevel previous = logging::setLogLevel(logging::LOG_LEVEL_SILENT);
    std::error_code error;
    if (!std::filesystem::is_directory(name, error)) {
        capture.open(name, cv::CAP_FFMPEG);
        if (!capture.isOpened() && name.find('%') != std::string::npos) {
            capture.open(name, cv::CAP_IMAGES);
        }
    }
    logging::setLogLevel(previous);
    if (!capture.isOpened()) {
        std::fprintf(stderr, "Could not initialize capturing from %s...\n", name.c_str());
        return false;
    }
    positionCapture(capture, firstFrame, name, messages);
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

long expectedFrames(const cv::VideoCapture& capture, int firstFrame, long lastFrame) {
    // A damaged file may announce any count; only plausible ones are used.
    const double count = capture.get(cv::CAP_PROP_FRAME_COUNT);
    if (!(count > 0 && count < 1e12)) return 0;
    const long first = firstFrame > 0 ? firstFrame : 0;
    const long inVideo = static_cast<long>(count) - first;
    const long inRange = lastFrame - firstFrame;
    return std::max(0L, std::min(inVideo, inRange));
}

}  // namespace stview
