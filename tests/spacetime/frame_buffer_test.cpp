#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include "spacetime/frame_buffer.hpp"
#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using test::labels;
using test::pattern;
using test::sameContent;
using V = std::vector<int>;

TEST(FrameBuffer, FiveAddsOnFourSlots) {
    FrameBuffer buffer(4);
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(pattern(3, 5, 100.0f * i));
        buffer.AddFrame(frames.back());
    }
    EXPECT_EQ(labels(buffer.Ring()), (V{4, 1, 2, 3}));
    EXPECT_EQ(buffer.Ring().Head(), 0);
    EXPECT_EQ(buffer.Width(), 5);
    EXPECT_EQ(buffer.Height(), 3);
    cv::Mat out;
    EXPECT_EQ(buffer.GetFrame(1, out), 0);
    EXPECT_TRUE(sameContent(out, frames[1]));
    EXPECT_EQ(buffer.GetFrame(4, out), 0);
    EXPECT_TRUE(sameContent(out, frames[4]));
    cv::Mat untouched = pattern(3, 5, -1.0f), copy = untouched.clone();
    EXPECT_EQ(buffer.GetFrame(5, untouched), -1);
    EXPECT_EQ(buffer.GetFrameAtSlot(-1, untouched), -1);
    EXPECT_EQ(buffer.GetFrameAtSlot(4, untouched), -1);
    EXPECT_TRUE(sameContent(untouched, copy));
}

TEST(FrameBuffer, NumberedAddsKeepTheFirstFrameInSlotZero) {
    FrameBuffer buffer(4);
    const cv::Mat first = pattern(2, 2, 1.0f);
    buffer.AddFrameNumbered(first, 100);
    buffer.AddFrameNumbered(pattern(2, 2, 2.0f), 200);
    buffer.AddFrameNumbered(pattern(2, 2, 3.0f), 300);
    EXPECT_EQ(labels(buffer.Ring()), (V{100, 200, 300, 100}));
    EXPECT_EQ(buffer.Ring().Head(), 2);
    cv::Mat out;
    EXPECT_EQ(buffer.GetFrame(100, out), 0);
    EXPECT_TRUE(sameContent(out, first));
    EXPECT_EQ(buffer.GetFrameAtSlot(3, out), 0);
    EXPECT_EQ(cv::countNonZero(out), 0) << "unwritten slots start zeroed";
}

TEST(FrameBuffer, AutomaticNumbersFollowTheHead) {
    FrameBuffer single(1);
    for (int i = 0; i < 3; ++i) single.AddFrame(pattern(2, 3, float(i)));
    EXPECT_EQ(labels(single.Ring()), (V{2}));
    cv::Mat out;
    single.GetFrameAtSlot(0, out);
    EXPECT_TRUE(sameContent(out, pattern(2, 3, 2.0f)));

    FrameBuffer mixed(3);
    mixed.AddFrameNumbered(pattern(2, 3, 0), 10);
    mixed.AddFrame(pattern(2, 3, 0));
    mixed.AddFrame(pattern(2, 3, 0));
    EXPECT_EQ(labels(mixed.Ring()), (V{10, 11, 12}));
}

// Found by fuzz_frame_buffer: the automatic number after INT_MAX overflowed an int.
TEST(FrameBuffer, NoAutomaticNumberAfterTheLargestInt) {
    FrameBuffer buffer(3);
    buffer.AddFrameNumbered(pattern(2, 3, 0), INT_MAX - 1);
    buffer.AddFrame(pattern(2, 3, 1.0f));
    EXPECT_EQ(labels(buffer.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MAX - 1}));
    EXPECT_THROW(buffer.AddFrame(pattern(2, 3, 2.0f)), std::out_of_range);
    EXPECT_EQ(labels(buffer.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MAX - 1}));
    EXPECT_EQ(buffer.Ring().Head(), 1);
    cv::Mat out;
    ASSERT_EQ(buffer.GetFrameAtSlot(2, out), 0);  // the slot the refused add would take
    EXPECT_EQ(cv::countNonZero(out), 0);
    buffer.AddFrameNumbered(pattern(2, 3, 3.0f), INT_MIN);  // an explicit number still goes
    EXPECT_EQ(labels(buffer.Ring()), (V{INT_MAX - 1, INT_MAX, INT_MIN}));
}

TEST(FrameBuffer, RefusedImagesLeaveTheBufferUnchanged) {
    FrameBuffer buffer(2);
    EXPECT_THROW(buffer.AddFrame(cv::Mat(2, 3, CV_64FC1, 0.0)), std::invalid_argument);
    EXPECT_THROW(buffer.AddFrame(cv::Mat()), std::invalid_argument);
    EXPECT_EQ(buffer.Width(), 0);
    EXPECT_EQ(buffer.Ring().Size(), 0);

    const cv::Mat first = pattern(2, 3, 0);
    buffer.AddFrame(first);
    const std::vector<cv::Mat> bad = {cv::Mat(2, 3, CV_8UC1, 0.0), cv::Mat(2, 3, CV_32FC3, 0.0),
                                      cv::Mat(3, 3, CV_32FC1, 0.0), cv::Mat(1, 5, CV_32FC1, 0.0)};
    for (const cv::Mat& image : bad) {
        EXPECT_THROW(buffer.AddFrame(image), std::invalid_argument);
        EXPECT_THROW(buffer.AddFrameNumbered(image, 9), std::invalid_argument);
    }
    EXPECT_EQ(labels(buffer.Ring()), (V{0, 0}));
    EXPECT_EQ(buffer.Ring().Head(), 0);
    cv::Mat out;
    buffer.GetFrameAtSlot(0, out);
    EXPECT_TRUE(sameContent(out, first));

    buffer.AddFrame(pattern(1, 6, 5.0f));  // same element count, other shape
    buffer.GetFrameAtSlot(1, out);
    EXPECT_EQ(out.at<float>(1, 0), 8.0f);
}

TEST(FrameBuffer, RegionsOfInterestAreCopiedRowByRow) {
    const cv::Mat big = pattern(6, 8, 0);
    const cv::Mat roi = big(cv::Rect(2, 1, 3, 4));
    ASSERT_FALSE(roi.isContinuous());
    FrameBuffer buffer(2);
    buffer.AddFrame(roi);
    buffer.AddFrame(roi);
    cv::Mat out;
    buffer.GetFrameAtSlot(1, out);
    EXPECT_TRUE(sameContent(out, roi));

    cv::Mat canvas(6, 8, CV_32FC1, cv::Scalar(-1));
    cv::Mat target = canvas(cv::Rect(1, 1, 3, 4));
    EXPECT_EQ(buffer.GetFrame(1, target), 0);
    EXPECT_EQ(target.data, canvas.ptr(1) + sizeof(float)) << "written in place";
    EXPECT_TRUE(sameContent(target, roi));
    EXPECT_EQ(canvas.at<float>(1, 0), -1.0f);
    EXPECT_EQ(canvas.at<float>(1, 4), -1.0f);
}

TEST(FrameBuffer, SlotCountIsCheckedAtTheFirstAddAndFixedAfterwards) {
    FrameBuffer buffer;
    cv::Mat out;
    EXPECT_EQ(buffer.GetFrameAtSlot(0, out), -1);
    EXPECT_THROW(buffer.AddFrame(pattern(2, 2, 0)), std::length_error);
    buffer.SetLength(-2);
    EXPECT_THROW(buffer.AddFrame(pattern(2, 2, 0)), std::length_error);
    EXPECT_EQ(buffer.Ring().Size(), 0);
    EXPECT_EQ(buffer.Width(), 0);
    buffer.SetLength(3);
    EXPECT_EQ(buffer.GetFrameAtSlot(0, out), -1) << "no storage yet";
    buffer.AddFrame(pattern(2, 2, 0));
    EXPECT_EQ(buffer.Length(), 3);
    EXPECT_THROW(buffer.SetLength(5), std::logic_error);
    EXPECT_EQ(buffer.Length(), 3);
}

TEST(FrameBuffer, OperationsOnStorageNeedAFrame) {
    FrameBuffer buffer(3);
    cv::Mat out;
    FeatureList points;
    EXPECT_THROW(buffer.ConvolveTime(out, {1.0}), std::logic_error);
    EXPECT_THROW(buffer.FindLocalMaxima(points, true), std::logic_error);
    EXPECT_THROW(buffer.GetRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    testing::internal::CaptureStdout();
    EXPECT_THROW(buffer.GetLocalRegion(0, 0, 0, 1, 1, 1, out), std::logic_error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(buffer.GetFrame(0, out), -1);
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace stview
