#include "viewer/session.hpp"

#include <csignal>
#include <cstdio>

namespace stview {
namespace {

volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void requestInterrupt(int) { interruptRequested = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
    interruptRequested = 0;
    struct sigaction action = {};
    action.sa_handler = requestInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }

bool InterruptGuard::requested() const { return interruptRequested != 0; }

OutputVideo::OutputVideo(const ViewerSettings& settings, const EncoderSettings& encoder)
    : path_(settings.outputFile), encoder_(encoder) {}

bool OutputVideo::open(cv::Size frameSize) {
    if (writer_.open(path_, frameSize, encoder_)) return true;
    std::fprintf(stderr, "Could not open the output video %s for writing: %s\n", path_.c_str(),
                 writer_.error().c_str());
    return false;
}

bool OutputVideo::write(const cv::Mat& frame) {
    if (writer_.write(frame)) return true;
    std::fprintf(stderr, "Could not write the output video %s: %s\n", path_.c_str(),
                 writer_.error().c_str());
    return false;
}

int OutputVideo::finish(bool interrupted) {
    if (enabled() && !writer_.close()) {
        std::fprintf(stderr, "Could not finish the output video %s: %s\n", path_.c_str(),
                     writer_.error().c_str());
        return kExitFailed;
    }
    if (!interrupted) return kExitOk;
    if (enabled()) {
        std::fprintf(stderr, "Interrupted: %ld frames written to %s\n", writer_.framesWritten(),
                     path_.c_str());
    }
    return kExitInterrupted;
}

}  // namespace stview
