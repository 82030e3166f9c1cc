#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "detector/stdetect_options.hpp"
#include "features/feature_point.hpp"

namespace stview {

/// A video that cannot be read as asked: it does not open, holds no frame in the range or
/// changes its frame size. The message is one line naming the video (and the frame).
class VideoFailure : public std::runtime_error {
  public:
    explicit VideoFailure(const std::string& message, bool reported = false)
        : std::runtime_error(message), reported(reported) {}
    bool reported;  ///< a line saying so was written to standard error already
};

/// What detectVideo calls on its way.
struct DetectionSteps {
    std::function<void()> started;           ///< once the detector exists, before any record
    std::function<void(FeatureList&)> take;  ///< each frame's final records (may be none)
    std::function<bool()> stop;              ///< before each frame: true ends the run early
    /// After the last frame: the frames read and those the file announces for the range
    /// (0 when it announces none); fewer read than announced hints at a truncated file.
    std::function<void(long, long)> ended;
};

/**
 * @brief Detects the points of the frame range of @p settings (video, first and last frame,
 * detector options; progress on standard error unless quiet), as stdetect does, handing the
 * records to @p steps.take in output order as they become final. Decodes one thread ahead
 * unless settings.threads is 1; sets no thread count and no signal handler itself.
 * @return false when @p steps.stop ended the run (the last records were then not taken).
 * @throws VideoFailure; what SpaceTimeDetector's constructor throws (bad options, not
 *         enough memory); and whatever the steps throw.
 */
bool detectVideo(const DetectSettings& settings, const DetectionSteps& steps);

}  // namespace stview
