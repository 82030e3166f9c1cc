#include "detector/stdetect.hpp"

#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "detector/output_file.hpp"
#include "detector/space_time_detector.hpp"
#include "detector/stdetect_options.hpp"
#include "features/features_file.hpp"
#include "video/progress.hpp"
#include "video/read_ahead.hpp"
#include "video/video_input.hpp"

namespace stview {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

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

void writeHeader(std::ostream& out, int argc, const char* const* argv,
                 const DetectorOptions& options) {
    out << "# space-time interest points (stdetect)\n# command:";
    for (int i = 0; i < argc; ++i) out << ' ' << argv[i];
    out << "\n# columns: id x y t sigma2 tau2 H";
    if (options.hog) out << " hog[72]";
    if (options.hof) out << " hof[90]";
    out << "\n# y counts upward from the bottom edge, t is the zero-based frame number";
    if (options.hog || options.hof) {
        out << "; descriptors by cell (t, row, column) of 3x3x2, then bin: hog right down left "
               "up, hof right down left up still";
    }
    out << '\n';
}

int fail(const std::string& message) {
    std::fprintf(stderr, "stdetect: %s\n", message.c_str());
    return kDetectFailed;
}

}  // namespace

int runDetect(int argc, const char* const* argv) {
    DetectSettings settings;
    const DetectCommand command =
        readDetectSettings(std::vector<std::string>(argv + 1, argv + argc), settings);
    if (command.kind == DetectCommand::Usage) {
        printDetectUsage(stdout);
        return kDetectOk;
    }
    if (command.kind == DetectCommand::Bad) {
        std::fprintf(stderr, "stdetect: %s (see stdetect --help)\n", command.error.c_str());
        return kDetectBadOptions;
    }
    const bool toFile = !settings.outputFile.empty() && settings.outputFile != "-";
    if (toFile && sameFile(settings.outputFile, settings.videoFile)) {
        return fail("the output " + settings.outputFile + " is the input video; left untouched");
    }
    std::error_code error;
    if (toFile && std::filesystem::is_directory(settings.outputFile, error)) {
        return fail("the output " + settings.outputFile + " is a folder");
    }
    cv::setNumThreads(settings.threads > 0 ? settings.threads : cv::getNumberOfCPUs());
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    try {
        OutputFile output(toFile ? settings.outputFile : "-");
        cv::VideoCapture capture;
        if (!openVideo(capture, settings.videoFile, settings.firstFrame, stderr)) {
            return kDetectFailed;
        }
        const long last = settings.lastFrame >= 0 ? settings.lastFrame : INT_MAX;
        const long total = expectedFrames(capture, settings.firstFrame, last);
        FrameSource frames(capture, settings.threads != 1);
        cv::Mat frame;
        if (!frames.read(frame) || frame.empty()) {
            return fail("no frame in " + settings.videoFile + " from frame " +
                        std::to_string(settings.firstFrame) + " on");
        }
        SpaceTimeDetector detector(frame.size(), settings.detector, settings.firstFrame);
        std::ostream& out = output.stream();
        writeHeader(out, argc, argv, settings.detector);
        ProgressReport progress(stderr, isatty(STDERR_FILENO) != 0, total, "done");
        FeatureList points;
        for (long n = settings.firstFrame; n < last && !frame.empty(); ++n) {
            if (interrupted) break;
            if (frame.size() != detector.frameSize()) {
                return fail("frame " + std::to_string(n) + " of " + settings.videoFile + " is " +
                            std::to_string(frame.cols) + "x" + std::to_string(frame.rows) +
                            ", the first frame was " + std::to_string(detector.frameSize().width) +
                            "x" + std::to_string(detector.frameSize().height));
            }
            detector.addFrame(frame, points);
            writeFeatures(out, points);
            points.clear();
            if (!settings.quiet) progress.frameWritten();
            if (!frames.read(frame)) frame.release();
        }
        if (interrupted) {
            // A progress line redrawn in place is ended first.
            const bool redrawn = !settings.quiet && isatty(STDERR_FILENO) != 0;
            std::fprintf(stderr, "%sstdetect: interrupted; no output written\n",
                         redrawn ? "\n" : "");
            return kDetectInterrupted;
        }
        detector.finish(points);
        writeFeatures(out, points);
        output.commit();
        if (!settings.quiet) progress.finish();
    } catch (const std::exception& problem) {
        if (interrupted) return kDetectInterrupted;
        return fail(problem.what());
    }
    return interrupted ? kDetectInterrupted : kDetectOk;
}

}  // namespace stview
