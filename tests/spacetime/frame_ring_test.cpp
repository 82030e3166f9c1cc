#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "spacetime/frame_ring.hpp"
#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using V = std::vector<int>;

TEST(FrameRing, InitLabelsEverySlotAndUpdateAgesCountsBackFromTheHead) {
    FrameRing ring;
    ring.Init(4, 7);
    EXPECT_EQ(test::labels(ring), (V{7, 7, 7, 7}));
    EXPECT_EQ(ring.Head(), 0);
    EXPECT_EQ(ring.FindSlot(7), 0);
    EXPECT_EQ(ring.MinFrame(), 7);
    EXPECT_EQ(ring.MaxFrame(), 7);
    EXPECT_EQ(ring.UpdateAges(), (V{0, 3, 2, 1}));
}

TEST(FrameRing, PushesWrapAroundAndFindSlotGivesTheLowestSlot) {
    FrameRing ring;
    ring.Init(4, 0);
    V slots;
    for (int f : {5, 9, 5, 9, 9}) slots.push_back(ring.Push(f));
    EXPECT_EQ(slots, (V{1, 2, 3, 0, 1}));
    EXPECT_EQ(test::labels(ring), (V{9, 9, 9, 5}));
    EXPECT_EQ(ring.FindSlot(9), 0);
    EXPECT_EQ(ring.FindSlot(5), 3);
    EXPECT_EQ(ring.FindSlot(4), -1);
}

TEST(FrameRing, CentreFrameAfterSixPushesOnFiveSlots) {
    FrameRing ring;
    ring.Init(5, 0);
    for (int f = 1; f <= 6; ++f) ring.Push(f);
    EXPECT_EQ(ring.Head(), 1);
    const std::vector<std::pair<int, int>> cases = {{5, 4}, {1, 6}, {0, 2}, {2, 6},
                                                    {3, 5}, {4, 5}, {7, 3}, {12, 6}};
    for (const auto& [window, frame] : cases) EXPECT_EQ(ring.CentreFrame(window), frame) << window;
    EXPECT_EQ(ring.UpdateAges(), (V{1, 0, 4, 3, 2}));
}

TEST(FrameRing, OneSlot) {
    FrameRing ring;
    ring.Init(1, 3);
    EXPECT_EQ(ring.Push(4), 0);
    EXPECT_EQ(ring.Push(5), 0);
    EXPECT_EQ(ring.UpdateAges(), (V{0}));
    for (int window : {0, 1, 2, 9}) EXPECT_EQ(ring.CentreFrame(window), 5);
}

TEST(FrameRing, PrintWritesLabelsThenAges) {
    FrameRing ring;
    ring.Init(3, 10);
    ring.Push(11);
    ring.Push(12);
    std::ostringstream out;
    EXPECT_EQ(&ring.Print(out), &out);
    EXPECT_EQ(out.str(), "D: 10\t11\t12\t\nS: 2\t1\t0\t\n");
}

TEST(FrameRing, EmptyRingRefusesWhatNeedsASlot) {
    FrameRing ring;
    EXPECT_EQ(ring.Size(), 0);
    EXPECT_EQ(ring.FindSlot(0), -1);
    EXPECT_TRUE(ring.UpdateAges().empty());
    std::ostringstream out;
    ring.Print(out);
    EXPECT_EQ(out.str(), "D: \nS: \n");
    EXPECT_THROW(ring.Push(1), std::logic_error);
    EXPECT_THROW(ring.CentreFrame(1), std::logic_error);
    EXPECT_THROW(ring.MinFrame(), std::logic_error);
    EXPECT_THROW(ring.MaxFrame(), std::logic_error);
    EXPECT_THROW(ring.FrameAt(0), std::out_of_range);
    EXPECT_THROW(ring.Init(-1, 0), std::length_error);
    EXPECT_EQ(ring.Size(), 0);
    ring.Init(2, 0);
    EXPECT_THROW(ring.Init(2, 0), std::logic_error);
    EXPECT_EQ(ring.Size(), 2);
}

}  // namespace
}  // namespace stview
