#include "viewer/playback_keys.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace stview {
namespace {

// Navigation keys: Qt's key codes first, then the X11 keysyms GTK reports.
enum Key : int {
    kHome = 0x01000010,
    kEnd = 0x01000011,
    kLeft = 0x01000012,
    kRight = 0x01000014,
    kPageUp = 0x01000016,
    kPageDown = 0x01000017,
    kXHome = 0xff50,
    kXLeft = 0xff51,
    kXRight = 0xff53,
    kXPageUp = 0xff55,
    kXPageDown = 0xff56,
    kXEnd = 0xff57,
};

// The action a navigation key names; Continue for any other key.
PlaybackAction navigation(int key) {
    switch (key) {
        case kRight:
        case kXRight:
        case '.':
            return PlaybackAction::Step;
        case kLeft:
        case kXLeft:
        case ',':
            return PlaybackAction::StepBack;
        case kPageDown:
        case kXPageDown:
            return PlaybackAction::JumpForward;
        case kPageUp:
        case kXPageUp:
            return PlaybackAction::JumpBack;
        case kHome:
        case kXHome:
            return PlaybackAction::First;
        case kEnd:
        case kXEnd:
            return PlaybackAction::Last;
        default:
            return PlaybackAction::Continue;
    }
}

}  // namespace

PlaybackAction playbackAction(int key, bool pauseEachFrame, bool paused, bool windowOpen) {
    if (!windowOpen || key == kEscapeKey || key == 'q') return PlaybackAction::Quit;
    if (key == kNoKey) return PlaybackAction::Continue;
    if (key == 'o') return PlaybackAction::ToggleCircles;
    if (key == 's') return PlaybackAction::Save;
    // Keys pressed while a frame is still on its way count for nothing but a
    // pause, as before; stepping needs a frame to step from.
    if (!paused) {
        return !pauseEachFrame && key == ' ' ? PlaybackAction::Pause : PlaybackAction::Continue;
    }
    const PlaybackAction moved = navigation(key);
    if (moved != PlaybackAction::Continue) return moved;
    // With -p any other key shows the next frame; otherwise only space resumes.
    if (pauseEachFrame) return PlaybackAction::Step;
    return key == ' ' ? PlaybackAction::Resume : PlaybackAction::Continue;
}

long long targetFrame(PlaybackAction action, long long current, long long first, long long end) {
    const auto inside = [&](long long n) { return std::clamp(n, first, end - 1); };
    switch (action) {
        case PlaybackAction::Step:
            return current + 1;
        case PlaybackAction::StepBack:
            return inside(current - 1);
        case PlaybackAction::JumpForward:
            return inside(current + kJump);
        case PlaybackAction::JumpBack:
            return inside(current - kJump);
        case PlaybackAction::First:
            return first;
        case PlaybackAction::Last:
            return end - 1;
        default:
            return current;
    }
}

std::string statusText(long long frame, long long total, double framesPerSecond, int points,
                       bool paused, bool circlesHidden, const std::string& note) {
    const long long ms = framesPerSecond > 0 ? std::llround(frame * 1000.0 / framesPerSecond) : 0;
    const long long s = ms / 1000, m = s / 60, h = m / 60;
    char time[48];
    if (h > 0) {
        std::snprintf(time, sizeof time, "%lld:%02lld:%02lld.%03lld", h, m % 60, s % 60, ms % 1000);
    } else {
        std::snprintf(time, sizeof time, "%lld:%02lld.%03lld", m, s % 60, ms % 1000);
    }
    std::string text = "frame " + std::to_string(frame);
    if (total > 0) text += " of " + std::to_string(total);
    text += std::string(" | ") + time + " | " + std::to_string(points) +
            (points == 1 ? " point" : " points");
    if (circlesHidden) text += " (hidden)";
    if (paused) text += " | paused";
    if (!note.empty()) text += " | " + note;
    return text;
}

}  // namespace stview
