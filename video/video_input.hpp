#pragma once

#include <cstdio>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace stview {

/**
 * @brief Positions an opened capture so that its next read yields frame
 * @p firstFrame (zero-based). A first frame below 1 leaves the capture alone.
 * When the capture refuses to jump, says so on @p out and reads and discards
 * frames until it gets there or the video ends.
 *
 * @tparam Capture anything with `bool set(int, double)` and `bool read(cv::Mat&)`
 *         (cv::VideoCapture, or a stand-in in tests).
 */
template <class Capture>
void positionCapture(Capture& capture, int firstFrame, const std::string& name, std::FILE* out) {
    if (firstFrame < 1) return;
    if (capture.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(firstFrame))) return;
    std::fprintf(out, "Could not start capture from frame %d in %s\n", firstFrame, name.c_str());
    std::fprintf(out, " -> bugfix: fast-forward to the frame %d ...\n", firstFrame);
    cv::Mat skipped;
    for (int i = 0; i < firstFrame && capture.read(skipped); ++i) {
    }
    std::fprintf(out, "    done.\n");
}

/**
 * @brief Opens @p name for reading and positions it at @p firstFrame.
 * @return false, after writing "Could not initialize capturing from <name>..."
 *         to standard error, when the video cannot be opened. Messages about a slow
 *         positioning go to @p messages.
 */
bool openVideo(cv::VideoCapture& capture, const std::string& name, int firstFrame,
               std::FILE* messages = stdout);

/// True when both names lead to the same existing file (any spelling), so that writing one
/// would destroy the other.
bool sameFile(const std::string& a, const std::string& b);

/// Frames from @p firstFrame up to (not including) @p lastFrame that the opened capture says
/// it holds, or 0 when it cannot tell (or announces an implausible count).
long expectedFrames(const cv::VideoCapture& capture, int firstFrame, long lastFrame);

}  // namespace stview
