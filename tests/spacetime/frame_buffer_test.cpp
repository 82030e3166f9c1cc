#include <climits>
#include <stdexcept>

#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using namespace test;
using V = std::vector<int>;

TEST(FrameBuffer, FiveAddsOnFourSlotsAndThreeNumberedOnes) {
    FrameBuffer buffer(4);
    for (int i = 0; i < 5; ++i) buffer.AddFrame(pattern(3, 5, 100.0f * i));
    EXPECT_EQ(labels(buffer.Ring()), (V{4, 1, 2, 3}));
    EXPECT_EQ(cv::Size(buffer.Width(), buffer.Height()), cv::Size(5, 3));
    cv::Mat out, untouched = pattern(3, 5, -1.0f);
    for (int f : {1, 4}) {
        EXPECT_EQ(buffer.GetFrame(f, out), 0);
        EXPECT_EQ(diff(out, pattern(3, 5, 100.0f * f)), 0) << f;
    }
    EXPECT_EQ(buffer.GetFrame(5, untouched), -1);
    for (int slot : {-1, 4}) EXPECT_EQ(buffer.GetFrameAtSlot(slot, untouched), -1);
    EXPECT_EQ(diff(untouched, pattern(3, 5, -1.0f)), 0);

    FrameBuffer numbered(4);  // keeps the first frame in slot 0, the others start zeroed
    for (int i = 1; i <= 3; ++i) numbered.AddFrameNumbered(pattern(2, 2, float(i)), 100 * i);
    EXPECT_EQ(labels(numbered.Ring()), (V{100, 200, 300, 100}));
    EXPECT_EQ(numbered.GetFrame(100, out), 0);  // the lowest slot of the label
    EXPECT_EQ(diff(out, pattern(2, 2, 1.0f)), 0);
    EXPECT_EQ(cv::countNonZero(atSlot(numbered, 3)), 0);
}

// Found by fuzz_frame_buffer: the automatic number after INT_MAX overflowed an int.
TEST(FrameBuffer, NoAutomaticNumberAfterTheLargestInt) {
    FrameBuffer buffer(3);
    buffer.AddFrameNumbered(pattern(2, 3, 0), INT_MAX - 1);
    buffer.AddFrame(pattern(2, 3, 1.0f));  // numbered from the head, not from a count of adds
    EXPECT_THROW(buffer.AddFrame(pattern(2, 3, 2.0f)), std::out_of_range);
    EXPECT_EQ(labels(buffer.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MAX - 1}));
    EXPECT_EQ(cv::countNonZero(atSlot(buffer, 2)), 0);      // the slot the refused add would take
    buffer.AddFrameNumbered(pattern(2, 3, 3.0f), INT_MIN);  // an explicit number still goes
    EXPECT_EQ(labels(buffer.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MIN}));
}

TEST(FrameBuffer, RefusedImagesLeaveTheBufferUnchanged) {
    FrameBuffer buffer(2);
    EXPECT_THROW(buffer.AddFrame(cv::Mat(2, 3, CV_64FC1, 1.0)), std::invalid_argument);  // first
    EXPECT_THROW(buffer.AddFrame(cv::Mat()), std::invalid_argument);
    buffer.AddFrame(pattern(2, 3, 0));
    for (const cv::Mat& image : {cv::Mat(2, 3, CV_8UC1, 7.0), cv::Mat(2, 3, CV_32FC3, 7.0),
                                 cv::Mat(3, 3, CV_32FC1, 7.0), cv::Mat(1, 5, CV_32FC1, 7.0)}) {
        EXPECT_THROW(buffer.AddFrame(image), std::invalid_argument);
        EXPECT_THROW(buffer.AddFrameNumbered(image, 9), std::invalid_argument);
    }
    EXPECT_EQ(labels(buffer.Ring()), (V{0, 0}));
    EXPECT_EQ(cv::countNonZero(atSlot(buffer, 1)), 0);
    buffer.AddFrame(pattern(1, 6, 5.0f));  // same element count, other shape
    EXPECT_EQ(atSlot(buffer, 1).at<float>(1, 0), 8.0f);
}

TEST(FrameBuffer, RegionsOfInterestAreCopiedRowByRow) {
    const cv::Mat roi = pattern(6, 8, 0)(cv::Rect(2, 1, 3, 4));
    ASSERT_FALSE(roi.isContinuous());
    FrameBuffer buffer(2);
    for (int i = 0; i < 2; ++i) buffer.AddFrame(roi);  // the first add and a later one
    EXPECT_EQ(diff(atSlot(buffer, 1), roi), 0);
    cv::Mat canvas(6, 8, CV_32FC1, cv::Scalar(-1));
    cv::Mat target = canvas(cv::Rect(1, 1, 3, 4));
    EXPECT_EQ(buffer.GetFrame(1, target), 0);
    EXPECT_EQ(diff(target, roi), 0);
    EXPECT_EQ(cv::countNonZero(canvas == -1), 48 - 12);  // written in place, nothing else
}

TEST(FrameBuffer, WithoutAFrameTheSlotCountIsOpenAndReadsAreRefused) {
    FrameBuffer buffer;
    cv::Mat out;
    FeatureList points;
    EXPECT_THROW(buffer.AddFrame(pattern(2, 2, 0)), std::length_error);  // no slots
    buffer.SetLength(-2);
    EXPECT_THROW(buffer.AddFrame(pattern(2, 2, 0)), std::length_error);
    buffer.SetLength(3);
    EXPECT_EQ(buffer.GetFrameAtSlot(0, out), -1);
    EXPECT_THROW(buffer.ConvolveTime(out, {1.0}), std::logic_error);
    EXPECT_THROW(buffer.FindLocalMaxima(points, true), std::logic_error);
    EXPECT_THROW(buffer.GetRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    testing::internal::CaptureStdout();
    EXPECT_THROW(buffer.GetLocalRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    buffer.AddFrame(pattern(2, 2, 0));
    EXPECT_THROW(buffer.SetLength(5), std::logic_error);
    EXPECT_EQ(buffer.Length(), 3);
}

}  // namespace
}  // namespace stview
