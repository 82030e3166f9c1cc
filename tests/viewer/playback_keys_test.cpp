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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(playbackAction(c.key, c.pauseEachFrame, c.paused, c.windowOpen), c.expected)
            << "key " << c.key << " -p " << c.pauseEachFrame << " paused " << c.paused << " open "
            << c.windowOpen;
    }
}

}  // namespace
}  // namespace stview
