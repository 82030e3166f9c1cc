#include "viewer/playback_keys.hpp"

namespace stview {

PlaybackAction playbackAction(int key, bool pauseEachFrame, bool paused, bool windowOpen) {
    if (!windowOpen || key == kEscapeKey || key == 'q') return PlaybackAction::Quit;
    if (key == kNoKey) return PlaybackAction::Continue;
    if (pauseEachFrame) {
        // A key pressed while the frame is still on its way counts for nothing, as
        // before: only the wait after the frame steps.
        return paused ? PlaybackAction::Step : PlaybackAction::Continue;
    }
    if (key != ' ') return PlaybackAction::Continue;
    return paused ? PlaybackAction::Resume : PlaybackAction::Pause;
}

}  // namespace stview
