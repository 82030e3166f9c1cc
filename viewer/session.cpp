#include "viewer/session.hpp"

#include <csignal>
#include <cstdio>
#include <utility>

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

OutputVideo::OutputVideo(const ViewerSettings& settings, const EncoderSettings& encoder,
                         ReportLine report)
    : path_(settings.outputFile), encoder_(encoder), report_(std::move(report)) {}

void OutputVideo::report(const std::string& line) const {
    if (report_) {
        report_(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

bool OutputVideo::open(cv::Size frameSize) {
    if (writer_.open(path_, frameSize, encoder_)) return true;
    report("Could not open the output video " + path_ + " for writing: " + writer_.error());
    return false;
}

bool OutputVideo::write(const cv::Mat& frame) {
    if (writer_.write(frame)) return true;
    report("Could not write the output video " + path_ + ": " + writer_.error());
    return false;
}

int OutputVideo::finish(bool interrupted) {
    if (enabled() && !writer_.close()) {
        report("Could not finish the output video " + path_ + ": " + writer_.error());
        return kExitFailed;
    }
    if (!interrupted) return kExitOk;
    if (enabled()) {
        report("Interrupted: " + std::to_string(writer_.framesWritten()) + " frames written to " +
               path_);
    }
    return kExitInterrupted;
}

}  // namespace stview
