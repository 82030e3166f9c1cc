#pragma once

#include <csignal>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "viewer/settings.hpp"
#include "viewer/video_writer.hpp"

namespace stview {

/// Exit statuses of the viewer.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,         ///< a run that could not do what was asked
    kExitNoDisplay = 2,      ///< a window was needed but no display could be reached
    kExitInterrupted = 130,  ///< stopped by SIGINT (Ctrl-C); the output was closed
    kExitBadOptions = -1,    ///< option handling raised an exception
};

/// While it lives, Ctrl-C (SIGINT) only sets a flag that the frame loops check,
/// so that the output can still be closed properly. One at a time.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    bool requested() const;

  private:
    struct sigaction previous_ = {};
};

/// Takes one line of a run's messages (no line break).
using ReportLine = std::function<void(const std::string&)>;

/// The output video of a run (-o), if any, with the messages a user sees when
/// it fails: each failing call below has reported one line, on standard error
/// unless a ReportLine is given (a caller that words failures its own way).
class OutputVideo {
  public:
    OutputVideo(const ViewerSettings& settings, const EncoderSettings& encoder,
                ReportLine report = nullptr);
    bool enabled() const { return !path_.empty(); }
    /// Reports @p line as the output's own messages are reported.
    void report(const std::string& line) const;
    bool open(cv::Size frameSize);
    bool write(const cv::Mat& frame);
    /// Finishes the file and gives the run's exit status: failed when the file
    /// could not be finished, interrupted (saying how many frames were
    /// written) when Ctrl-C was pressed, else ok.
    int finish(const InterruptGuard& interrupt) { return finish(interrupt.requested()); }
    /// As above, @p interrupted saying whether the run was stopped early.
    int finish(bool interrupted);
    /// Frames written so far.
    long framesWritten() const { return writer_.framesWritten(); }

  private:
    std::string path_;
    EncoderSettings encoder_;
    ReportLine report_;
    VideoFileWriter writer_;
};

}  // namespace stview
