#include "viewer/playback_keys.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace stview {
namespace {

TEST(PlaybackAction, KeysAndTheWindowDecide) {
    using A = PlaybackAction;
    struct Case {
        int key;
        bool pauseEachFrame, paused, windowOpen;
        A expected;
    };
    const std::vector<Case> cases = {
        // No key: playback and waiting go on; a closed window ends either.
        {kNoKey, false, false, true, A::Continue},
        {kNoKey, true, true, true, A::Continue},
        {kNoKey, false, false, false, A::Quit},
        {'x', false, true, false, A::Quit},
        // Esc and q end playback in every state; Q and other keys do not.
        {kEscapeKey, false, false, true, A::Quit},
        {'q', false, true, true, A::Quit},
        {kEscapeKey, true, false, true, A::Quit},
        {'Q', false, false, true, A::Continue},
        // Without -p, space pauses and resumes; other keys are ignored.
        {' ', false, false, true, A::Pause},
        {' ', false, true, true, A::Resume},
        {'x', false, false, true, A::Continue},
        {'x', false, true, true, A::Continue},
        // With -p, any other key (space too) steps while waiting.
        {' ', true, true, true, A::Step},
        {'x', true, true, true, A::Step},
        {0, true, true, true, A::Step},
        {' ', true, false, true, A::Continue},
        // Paused (either way), arrows (Qt and X11 codes), page keys, Home, End, '.' and ','
        // move; while playing they count for nothing. o and s work in every state.
        {0x01000014, false, true, true, A::Step},
        {'.', true, true, true, A::Step},
        {0xff51, false, true, true, A::StepBack},
        {',', true, true, true, A::StepBack},
        {0x01000017, false, true, true, A::JumpForward},
        {0x01000016, true, true, true, A::JumpBack},
        {0xff50, false, true, true, A::First},
        {0x01000011, false, true, true, A::Last},
        {0x01000012, false, false, true, A::Continue},
        {'o', false, false, true, A::ToggleCircles},
        {'s', true, true, true, A::Save},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(playbackAction(c.key, c.pauseEachFrame, c.paused, c.windowOpen), c.expected)
            << "key " << c.key << " -p " << c.pauseEachFrame << " paused " << c.paused << " open "
            << c.windowOpen;
    }
}

TEST(PlaybackAction, NavigationStaysInTheRangeButStepMayLeaveIt) {
    using A = PlaybackAction;
    // From frame 12 in [10, 40): each action's target.
    const std::pair<A, long long> cases[] = {
        {A::Step, 13},  {A::StepBack, 11}, {A::JumpForward, 37}, {A::JumpBack, 10},
        {A::First, 10}, {A::Last, 39},     {A::Save, 12},
    };
    for (const auto& [action, target] : cases) EXPECT_EQ(targetFrame(action, 12, 10, 40), target);
    EXPECT_EQ(targetFrame(A::Step, 39, 10, 40), 40);
    EXPECT_EQ(targetFrame(A::StepBack, 10, 10, 40), 10);
    EXPECT_EQ(targetFrame(A::JumpForward, 30, 10, 40), 39);
    EXPECT_EQ(statusText(3725 * 25 + 14, 0, 25, 1, true, true, "saved x.png"),
              "frame 93139 | 1:02:05.560 | 1 point (hidden) | paused | saved x.png");
    EXPECT_EQ(statusText(14, 40, 25, 2, false, false, ""), "frame 14 of 40 | 0:00.560 | 2 points");
}

}  // namespace
}  // namespace stview
