#include "viewer/driver.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/highgui.hpp>

#include "features/features_file.hpp"
#include "video/progress.hpp"
#include "video/read_ahead.hpp"
#include "video/video_input.hpp"
#include "viewer/display.hpp"
#include "viewer/feature_index.hpp"
#include "viewer/option_table.hpp"
#include "viewer/overlay.hpp"
#include "viewer/settings.hpp"
#include "viewer/video_writer.hpp"

namespace stview {
namespace {

const char* const kWindowName = "Features";

volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void requestInterrupt(int) { interruptRequested = 1; }

// While it lives, Ctrl-C (SIGINT) only sets a flag that the frame loop checks,
// so that the output can still be closed properly.
class InterruptGuard {
  public:
    InterruptGuard() {
        interruptRequested = 0;
        struct sigaction action = {};
        action.sa_handler = requestInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    bool requested() const { return interruptRequested != 0; }

  private:
    struct sigaction previous_ = {};
};

// The output's encoder settings; --fps source takes the input's announced rate.
EncoderSettings encoderSettings(const cv::VideoCapture& capture, const ViewerSettings& settings) {
    EncoderSettings encoder;
    encoder.quality = settings.quality;
    encoder.bitRate = settings.bitRate;
    encoder.framesPerSecond = settings.fps;
    if (settings.fpsFromSource) {
        const double rate = capture.get(cv::CAP_PROP_FPS);
        if (rate > 0 && rate <= 1000) {
            encoder.framesPerSecond = rate;
        } else {
            std::fprintf(stderr, "--fps source: %s announces no frame rate; writing %g\n",
                         settings.videoFile.c_str(), settings.fps);
        }
    }
    return encoder;
}

int playVideo(cv::VideoCapture& capture, const FeatureIndex& features,
              const ViewerSettings& settings) {
    const bool writing = !settings.outputFile.empty();
    const bool window = !settings.noWindow;
    const bool showProgress = writing && !window;
    const long total =
        showProgress ? expectedFrames(capture, settings.firstFrame, settings.lastFrame) : 0;

    // Decoding runs one thread ahead; frames still arrive in the capture's order.
    ReadAhead frames(capture);
    cv::Mat frame;
    if (!frames.read(frame)) {
        std::fprintf(stderr, "No frame to play in %s from frame %d on\n",
                     settings.videoFile.c_str(), settings.firstFrame);
        return kExitFailed;
    }
    const InterruptGuard interrupt;
    VideoFileWriter writer;
    if (writing &&
        !writer.open(settings.outputFile, frame.size(), encoderSettings(capture, settings))) {
        std::fprintf(stderr, "Could not open the output video %s for writing: %s\n",
                     settings.outputFile.c_str(), writer.error().c_str());
        return kExitFailed;
    }
    ProgressReport progress(stderr, isatty(STDERR_FILENO) != 0, total);
    // 64-bit count so that a last frame near INT_MAX cannot overflow it.
    for (long long n = settings.firstFrame;
         n < settings.lastFrame && !frame.empty() && !interrupt.requested(); ++n) {
        features.draw(frame, static_cast<int>(n));
        if (window) {
            cv::imshow(kWindowName, frame);
            cv::waitKey(10);
        }
        if (writing) {
            if (!writer.write(frame)) {
                std::fprintf(stderr, "Could not write the output video %s: %s\n",
                             settings.outputFile.c_str(), writer.error().c_str());
                return kExitFailed;
            }
            if (showProgress) progress.frameWritten();
        }
        frames.read(frame);
        // Waits for a key as waitKey(0) would, but looks at Ctrl-C in between.
        while (window && settings.pause && !interrupt.requested() && cv::waitKey(50) < 0) {
        }
    }
    if (showProgress) progress.finish();
    if (writing && !writer.close()) {
        std::fprintf(stderr, "Could not finish the output video %s: %s\n",
                     settings.outputFile.c_str(), writer.error().c_str());
        return kExitFailed;
    }
    if (interrupt.requested()) {
        if (writing) {
            std::fprintf(stderr, "Interrupted: %ld frames written to %s\n", writer.framesWritten(),
                         settings.outputFile.c_str());
        }
        return kExitInterrupted;
    }
    return kExitOk;
}

}  // namespace

int runViewer(int argc, const char* const* argv) {
    OptionTable options;
    if (options.parse(argc, argv) < 1) {
        printUsage(stdout);
        return kExitOk;
    }
    ViewerSettings settings;
    switch (readSettings(options, settings)) {
        case SettingsOutcome::Usage:
            printUsage(stdout);
            return kExitOk;
        case SettingsOutcome::UsageFailed:
            printUsage(stdout);
            return kExitBadOptions;
        case SettingsOutcome::Run:
            break;
    }
    std::string problem;
    if (!readOutputSettings(options, settings, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitFailed;
    }
    std::cout << "Input video:   " << settings.videoFile << '\n'
              << "Input features:" << settings.featuresFile << std::endl;

    if (!settings.outputFile.empty() && sameFile(settings.outputFile, settings.videoFile)) {
        std::fprintf(stderr, "The output video %s is the input video; it is left untouched\n",
                     settings.outputFile.c_str());
        return kExitFailed;
    }
    // OpenCV's own warnings (back ends probing a file) would only repeat what
    // the viewer reports itself.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);

    cv::VideoCapture capture;
    const bool opened = openVideo(capture, settings.videoFile, settings.firstFrame);
    const bool window = !settings.noWindow;
    if (window) {
        if (!displayReachable()) {
            std::fprintf(stderr,
                         "No display could be reached to open the \"%s\" window; "
                         "use --no-window to render without one\n",
                         kWindowName);
            return kExitNoDisplay;
        }
        cv::namedWindow(kWindowName, cv::WINDOW_NORMAL);
    }
    const FeatureList points = loadFeatures(settings.featuresFile);
    std::printf("load %d features from %s\n", static_cast<int>(points.size()),
                settings.featuresFile.c_str());
    std::fflush(stdout);
    if (!opened) return kExitFailed;

    const int status = playVideo(capture, FeatureIndex(points), settings);
    capture.release();
    if (window) cv::destroyWindow(kWindowName);
    return status;
}

}  // namespace stview
