#include "detector/video_detection.hpp"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <opencv2/videoio.hpp>
#include <string>

#include "detector/memory.hpp"
#include "detector/space_time_detector.hpp"
#include "video/progress.hpp"
#include "video/read_ahead.hpp"
#include "video/video_input.hpp"

namespace stview {
namespace {

// Frames from the capture, decoded one thread ahead unless only one thread is allowed.
class FrameSource {
  public:
    FrameSource(cv::VideoCapture& capture, bool ahead) : capture_(capture) {
        if (ahead) ahead_ = std::make_unique<ReadAhead>(capture);
    }
    bool read(cv::Mat& frame) { return ahead_ ? ahead_->read(frame) : capture_.read(frame); }

  private:
    cv::VideoCapture& capture_;
    std::unique_ptr<ReadAhead> ahead_;
};

std::string sizeText(cv::Size size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace

bool detectVideo(const DetectSettings& settings, const DetectionSteps& steps) {
    cv::VideoCapture capture;
    if (!openVideo(capture, settings.videoFile, 0, stderr)) {
        throw VideoFailure("could not open the video " + settings.videoFile, true);
    }
    // Refused before any frame is read, when the video tells its frame size.
    const cv::Size announced(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                             static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
    if (!announced.empty()) checkDetectorMemory(announced, settings.detector);
    positionCapture(capture, settings.firstFrame, settings.videoFile, stderr);
    const long last = settings.lastFrame >= 0 ? settings.lastFrame : INT_MAX;
    const long total = expectedFrames(capture, settings.firstFrame, last);
    FrameSource frames(capture, settings.threads != 1);
    cv::Mat frame;
    if (!frames.read(frame) || frame.empty()) {
        throw VideoFailure("no frame in " + settings.videoFile + " from frame " +
                           std::to_string(settings.firstFrame) + " on");
    }
    SpaceTimeDetector detector(frame.size(), settings.detector, settings.firstFrame);
    if (!detector.notice().empty())
        std::fprintf(stderr, "stdetect: %s\n", detector.notice().c_str());
    if (steps.started) steps.started();
    ProgressReport progress(stderr, isatty(STDERR_FILENO) != 0, total, "done");
    FeatureList points;
    long n = settings.firstFrame;
    for (; n < last && !frame.empty(); ++n) {
        if (steps.stop && steps.stop()) return false;
        if (frame.size() != detector.frameSize()) {
            throw VideoFailure("frame " + std::to_string(n) + " of " + settings.videoFile + " is " +
                               sizeText(frame.size()) + ", the first frame was " +
                               sizeText(detector.frameSize()));
        }
        detector.addFrame(frame, points);
        steps.take(points);
        points.clear();
        if (!settings.quiet) progress.frameWritten();
        if (!frames.read(frame)) frame.release();
    }
    if (steps.stop && steps.stop()) return false;
    detector.finish(points);
    steps.take(points);
    if (!settings.quiet) progress.finish();
    if (steps.ended) steps.ended(n - settings.firstFrame, total);
    return true;
}

}  // namespace stview
