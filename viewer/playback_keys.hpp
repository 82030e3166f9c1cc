#pragma once

#include <string>

namespace stview {

/// What the frame loop does after one wait in the window.
enum class PlaybackAction {
    Continue,       ///< nothing to do: keep playing, or keep waiting while paused
    Pause,          ///< stop on this frame until a key resumes
    Resume,         ///< leave a pause started with space
    Step,           ///< show the next frame, then wait again (paused, or -p)
    StepBack,       ///< show the previous frame (paused)
    JumpForward,    ///< kJump frames on (paused)
    JumpBack,       ///< kJump frames back (paused)
    First,          ///< the first frame of the range (paused)
    Last,           ///< the last frame of the range (paused)
    ToggleCircles,  ///< hide or show the circles
    Save,           ///< save the frame as shown to a PNG file
    Quit,           ///< end playback now; the output written so far is kept
};

/// Key codes as cv::waitKeyEx returns them.
constexpr int kNoKey = -1;
constexpr int kEscapeKey = 27;
/// Frames skipped by Page Down and Page Up.
constexpr int kJump = 25;

/**
 * @brief Decides what a key (or none) and the window's state mean. Arrow,
 * page, Home and End keys are recognised as Qt reports them, and as GTK and
 * X11 do (their keysyms).
 * @param key           cv::waitKeyEx's result; kNoKey when none was pressed
 * @param pauseEachFrame -p: every key but the named ones steps one frame
 * @param paused        the loop is waiting on a frame
 * @param windowOpen    false once the user has closed the window
 */
PlaybackAction playbackAction(int key, bool pauseEachFrame, bool paused, bool windowOpen);

/**
 * @brief The frame a navigation action goes to from frame @p current, within
 * the range [@p first, @p end) (@p end exclusive, and above @p first). Step
 * may leave the range (the caller decides what the frame after the last one
 * means); every other action stays inside it; non-navigation actions keep
 * @p current.
 */
long long targetFrame(PlaybackAction action, long long current, long long first, long long end);

/**
 * @brief The window's status line, e.g.
 * "frame 14 of 40 | 0:00.560 | 2 points | paused". Frame numbers count from 0
 * as in the features file; @p total <= 0 (unknown) leaves "of N" out; the time
 * is @p frame / @p framesPerSecond as m:ss.mmm (h:mm:ss.mmm from an hour on);
 * @p note, when not empty, is added at the end.
 */
std::string statusText(long long frame, long long total, double framesPerSecond, int points,
                       bool paused, bool circlesHidden, const std::string& note);

}  // namespace stview
