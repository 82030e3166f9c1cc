#pragma once

#include <opencv2/videoio.hpp>

#include "viewer/feature_index.hpp"
#include "viewer/session.hpp"
#include "viewer/settings.hpp"

namespace stview {

/// The window stview plays in.
inline const char* const kWindowName = "Features";

/**
 * @brief Plays the range of @p settings in the (already created) window, with
 * a status line, a position bar and the keys of playbackAction. Frames are
 * kept and sought by a FrameCache, and drawn anew from @p features each time
 * they are shown; the output, when enabled, receives each frame once, the
 * first time it is shown after every frame written before.
 *
 * The environment variable STVIEW_KEYS, when set, names keys taken as typed
 * before the keyboard's, one per wait, comma-separated ("space", "right",
 * "left", "pgdn", "pgup", "home", "end", "esc", or one character); each status
 * line is then also written to standard error. This is how scripted checks
 * steer the window.
 *
 * @param capture positioned at settings.firstFrame, as openVideo leaves it
 * @return the run's exit status
 */
int playInWindow(cv::VideoCapture& capture, const FeatureIndex& features,
                 const ViewerSettings& settings, OutputVideo& output,
                 const InterruptGuard& interrupt);

}  // namespace stview
