#include "viewer/driver.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
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
#include "viewer/playback_keys.hpp"
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

// The input's announced frame rate for --realtime; 25 when it announces none.
double displayRate(const cv::VideoCapture& capture, const ViewerSettings& settings) {
    const double rate = capture.get(cv::CAP_PROP_FPS);
    if (rate > 0 && rate <= 1000) return rate;
    std::fprintf(stderr, "--realtime: %s announces no frame rate; showing 25 per second\n",
                 settings.videoFile.c_str());
    return 25;
}

// False once the user has closed the window. OpenCV's Qt back end reports a
// closed window as not visible while other windows remain, and throws once the
// last one is gone.
bool windowOpen() {
    try {
        return cv::getWindowProperty(kWindowName, cv::WND_PROP_VISIBLE) >= 1;
    } catch (const cv::Exception&) {
        return false;
    }
}

using Clock = std::chrono::steady_clock;

// When each frame is due: counted from a start time rather than by a fixed
// sleep per frame, so that decoding and drawing time does not add up. Without
// a rate every frame is due 10 ms after the previous one was shown.
class FramePacer {
  public:
    explicit FramePacer(double framesPerSecond)
        : period_(framesPerSecond > 0 ? std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(1 / framesPerSecond))
                                      : Clock::duration::zero()) {}

    // Counts from now again, as after a pause.
    void restart() {
        start_ = Clock::now();
        shown_ = 0;
    }
    // When the frame after the one just shown is due.
    Clock::time_point nextDue() {
        if (period_ == Clock::duration::zero()) return Clock::now() + std::chrono::milliseconds(10);
        return start_ + period_ * ++shown_;
    }

  private:
    Clock::duration period_;
    Clock::time_point start_ = Clock::now();
    long long shown_ = 0;
};

// Keeps the window responsive until @p due, and returns the first key or
// window event that changes playback (Continue when none does).
PlaybackAction waitUntil(Clock::time_point due, bool pauseEachFrame,
                         const InterruptGuard& interrupt) {
    do {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        const int key = cv::waitKey(static_cast<int>(std::max<long long>(1, left.count())));
        const PlaybackAction action = playbackAction(key, pauseEachFrame, false, windowOpen());
        if (action != PlaybackAction::Continue) return action;
    } while (Clock::now() < due && !interrupt.requested());
    return PlaybackAction::Continue;
}

// Waits for a key as waitKey(0) would, but looks at Ctrl-C and the window in
// between. False when playback should end.
bool waitWhilePaused(bool pauseEachFrame, const InterruptGuard& interrupt) {
    while (!interrupt.requested()) {
        switch (playbackAction(cv::waitKey(50), pauseEachFrame, true, windowOpen())) {
            case PlaybackAction::Quit:
                return false;
            case PlaybackAction::Resume:
            case PlaybackAction::Step:
                return true;
            case PlaybackAction::Continue:
            case PlaybackAction::Pause:
                break;
        }
    }
    return true;
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
    FramePacer pacer(window && settings.realtime ? displayRate(capture, settings) : 0);
    // The window opens at the frame's size; it stays resizable.
    if (window) cv::resizeWindow(kWindowName, frame.size());
    // 64-bit count so that a last frame near INT_MAX cannot overflow it.
    for (long long n = settings.firstFrame;
         n < settings.lastFrame && !frame.empty() && !interrupt.requested(); ++n) {
        features.draw(frame, static_cast<int>(n));
        PlaybackAction action = PlaybackAction::Continue;
        if (window) {
            cv::imshow(kWindowName, frame);
            action = waitUntil(pacer.nextDue(), settings.pause, interrupt);
        }
        // The frame shown is also written, so that the output ends where playback did.
        if (writing) {
            if (!writer.write(frame)) {
                std::fprintf(stderr, "Could not write the output video %s: %s\n",
                             settings.outputFile.c_str(), writer.error().c_str());
                return kExitFailed;
            }
            if (showProgress) progress.frameWritten();
        }
        if (action == PlaybackAction::Quit) break;
        frames.read(frame);
        if (window && (settings.pause || action == PlaybackAction::Pause)) {
            if (!waitWhilePaused(settings.pause, interrupt)) break;
            pacer.restart();
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
    // A window the user closed is gone already (and destroying it would throw).
    if (window && windowOpen()) cv::destroyWindow(kWindowName);
    return status;
}

}  // namespace stview
