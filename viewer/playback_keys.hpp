#pragma once

namespace stview {

/// What the frame loop does after one wait in the window.
enum class PlaybackAction {
    Continue,  ///< nothing to do: keep playing, or keep waiting while paused
    Pause,     ///< stop before the next frame until a key resumes
    Resume,    ///< leave a pause started with space
    Step,      ///< show one more frame, then wait again (-p)
    Quit,      ///< end playback now; the output written so far is kept
};

/// Key codes as cv::waitKey returns them.
constexpr int kNoKey = -1;
constexpr int kEscapeKey = 27;

/**
 * @brief Decides what a key (or none) and the window's state mean.
 * @param key           cv::waitKey's result; kNoKey when none was pressed
 * @param pauseEachFrame -p: every key but Esc and q steps one frame
 * @param paused        the loop is waiting before the next frame
 * @param windowOpen    false once the user has closed the window
 */
PlaybackAction playbackAction(int key, bool pauseEachFrame, bool paused, bool windowOpen);

}  // namespace stview
