#include <sstream>
#include <stdexcept>
#include <tuple>

#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using V = std::vector<int>;

FrameRing makeRing(int n, int value, const V& pushes) {
    FrameRing ring;
    ring.Init(n, value);
    for (int f : pushes) ring.Push(f);
    return ring;
}

TEST(FrameRing, PushesWrapAndAgesCountBackFromTheHead) {
    for (const auto& [n, value, pushes, labels, ages] : std::vector<std::tuple<int, int, V, V, V>>{
             {4, 7, {}, {7, 7, 7, 7}, {0, 3, 2, 1}},
             {4, 0, {5, 9, 5, 9, 9}, {9, 9, 9, 5}, {1, 0, 3, 2}},
             {5, 0, {1, 2, 3, 4, 5, 6}, {5, 6, 2, 3, 4}, {1, 0, 4, 3, 2}},
             {1, 3, {4, 5}, {5}, {0}}}) {
        FrameRing ring = makeRing(n, value, pushes);
        EXPECT_EQ(test::labels(ring), labels) << n;
        EXPECT_EQ(ring.UpdateAges(), ages) << n;
    }
}

TEST(FrameRing, CentreFrameIsTakenCyclically) {
    const FrameRing five = makeRing(5, 0, {1, 2, 3, 4, 5, 6}), one = makeRing(1, 3, {4, 5});
    for (auto [window, frame] : std::vector<std::pair<int, int>>{
             {5, 4}, {1, 6}, {0, 2}, {2, 6}, {3, 5}, {4, 5}, {7, 3}, {12, 6}}) {
        EXPECT_EQ(five.CentreFrame(window), frame) << window;
        EXPECT_EQ(one.CentreFrame(window), 5) << window;
    }
}

// FindSlot's lowest slot, MinFrame, MaxFrame and Print on a filled ring are checked through
// FrameBuffer::GetFrame, GetRegion and GetLocalRegion.
TEST(FrameRing, EmptyRingRefusesWhatNeedsASlot) {
    FrameRing ring;
    std::ostringstream out;
    EXPECT_EQ(&ring.Print(out), &out);
    EXPECT_EQ(out.str(), "D: \nS: \n");
    EXPECT_EQ(ring.FindSlot(0), -1);
    EXPECT_TRUE(ring.UpdateAges().empty());
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
