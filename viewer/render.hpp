#pragma once

#include <functional>
#include <opencv2/videoio.hpp>

#include "viewer/feature_index.hpp"
#include "viewer/session.hpp"
#include "viewer/settings.hpp"

namespace stview {

/// The output's encoder settings; --fps source takes the input's announced rate (and says
/// on standard error when the input announces none).
EncoderSettings encoderSettings(const cv::VideoCapture& capture, const ViewerSettings& settings);

/**
 * @brief Draws the features on the frames [firstFrame, lastFrame) of the positioned
 * @p capture and writes them to @p output when it is enabled, without a window, as fast as
 * frames decode: what `stview --no-window` does. @p stop is asked before each frame and once
 * after the last; when it says true, the output is finished with the frames so far (a
 * playable file) and the run counts as interrupted. With @p progress, a progress line on
 * standard error while writing.
 * @return kExitOk, kExitInterrupted, or kExitFailed after one line reported by @p output (no
 *         frame in the range; the output could not be opened, written or finished).
 */
int renderVideo(cv::VideoCapture& capture, const FeatureIndex& features,
                const ViewerSettings& settings, OutputVideo& output,
                const std::function<bool()>& stop, bool progress = true);

}  // namespace stview
