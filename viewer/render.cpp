#include "viewer/render.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "video/progress.hpp"
#include "video/read_ahead.hpp"
#include "video/video_input.hpp"

namespace stview {

EncoderSettings encoderSettings(const cv::VideoCapture& capture, const ViewerSettings& settings) {
    EncoderSettings encoder;
    encoder.quality = settings.quality.value_or(-1);
    encoder.bitRate = settings.bitRate.value_or(0);
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

int renderVideo(cv::VideoCapture& capture, const FeatureIndex& features,
                const ViewerSettings& settings, OutputVideo& output,
                const std::function<bool()>& stop, bool progress) {
    const bool showProgress = progress && output.enabled();
    const long total =
        showProgress ? expectedFrames(capture, settings.firstFrame, settings.lastFrame) : 0;

    // Decoding runs one thread ahead; frames still arrive in the capture's order.
    ReadAhead frames(capture);
    cv::Mat frame;
    if (!frames.read(frame)) {
        output.report("No frame to play in " + settings.videoFile + " from frame " +
                      std::to_string(settings.firstFrame) + " on");
        return kExitFailed;
    }
    if (output.enabled() && !output.open(frame.size())) return kExitFailed;
    ProgressReport report(stderr, isatty(STDERR_FILENO) != 0, total);
    bool stopped = false;
    // 64-bit count so that a last frame near INT_MAX cannot overflow it.
    for (long long n = settings.firstFrame;
         n < settings.lastFrame && !frame.empty() && !(stopped = stop()); ++n) {
        features.draw(frame, static_cast<int>(n));
        if (output.enabled()) {
            if (!output.write(frame)) return kExitFailed;
            if (showProgress) report.frameWritten();
        }
        frames.read(frame);
    }
    if (showProgress) report.finish();
    return output.finish(stopped || stop());
}

}  // namespace stview
