#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace stview {

/// One progress text: "<verb> N of M frames, F fps" (without "of M" when
/// @p total is not positive, i.e. unknown); the verb is "written" for a render.
std::string formatProgress(long written, long total, double seconds, const char* verb = "written");

/// The line redrawn in place while running: formatProgress's text followed, when
/// @p total is known, by the share done and the time left at the mean rate so
/// far, e.g. "done 50 of 200 frames, 25.0 fps, 25%, 0:06 left" (no time left
/// before the first frame; "1:02:03 left" past an hour).
std::string formatProgressLine(long written, long total, double seconds,
                               const char* verb = "written");

/**
 * @brief Progress of a headless render on a stream. On a terminal the line is
 * redrawn in place a few times a second (formatProgressLine); elsewhere only
 * one summary line is written, by finish() (formatProgress).
 */
class ProgressReport {
  public:
    ProgressReport(std::FILE* out, bool terminal, long total, const char* verb = "written");
    void frameWritten();
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    double elapsed() const;

    std::FILE* out_;
    bool terminal_;
    long total_;
    const char* verb_;
    long written_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_ = start_;
};

}  // namespace stview
