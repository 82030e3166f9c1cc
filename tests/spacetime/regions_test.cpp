#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

// 6 x 6 frames in slots 0, 1, 2 labelled 10, 11, 12; value 100 * slot + 10 * row + column.
class Regions : public testing::Test {
  protected:
    void SetUp() override {
        for (int s = 0; s < 3; ++s) {
            cv::Mat frame(6, 6, CV_32FC1);
            for (int r = 0; r < 6; ++r)
                for (int c = 0; c < 6; ++c) frame.at<float>(r, c) = 100.0f * s + 10.0f * r + c;
            buffer.AddFrameNumbered(frame, 10 + s);
        }
    }
    static double value(int slot, int row, int column) { return 100.0 * slot + 10 * row + column; }

    std::string localRegion(int row, int column, int frame, int rows, int columns, int frames) {
        testing::internal::CaptureStdout();
        try {
            buffer.GetLocalRegion(row, column, frame, rows, columns, frames, out);
        } catch (...) {
            printed = testing::internal::GetCapturedStdout();
            throw;
        }
        return printed = testing::internal::GetCapturedStdout();
    }

    FrameBuffer buffer{3};
    cv::Mat out;
    std::string printed;
    const std::string ringLines = "D: 10\t11\t12\t\nS: 2\t1\t0\t\n";
};

TEST_F(Regions, GetRegionRunsColumnsFastestThenRowsThenFrames) {
    buffer.GetRegion(0, 1, 11, 2, 5, 12, out);
    ASSERT_EQ(out.type(), CV_64FC1);
    ASSERT_EQ(out.total(), 30u);
    const auto* d = out.ptr<double>();
    EXPECT_EQ(d[0], 110);
    EXPECT_EQ(d[1], 111);
    EXPECT_EQ(d[3], 120);
    EXPECT_EQ(d[15], 210);
    for (int k = 0; k < 2; ++k)
        for (int v = 0; v < 5; ++v)
            for (int j = 0; j < 3; ++j) EXPECT_EQ(d[(k * 5 + v) * 3 + j], value(1 + k, 1 + v, j));
}

TEST_F(Regions, GetRegionClampsToTheImageAndTheStoredFrames) {
    buffer.GetRegion(-3, 7, 20, -1, 7, 21, out);
    ASSERT_EQ(out.total(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out.at<double>(i), value(2, 5, 0));
    buffer.GetRegion(4, 0, 5, 9, 0, 5, out);
    const std::vector<double> expected = {4, 5, 5, 5, 5, 5};
    EXPECT_EQ(std::vector<double>(out.begin<double>(), out.end<double>()), expected);
}

TEST_F(Regions, GetRegionWritesIntoALargerMatrixAndLeavesTheRestAlone) {
    cv::Mat caller(4, 3, CV_64FC1, cv::Scalar(-1));
    const uchar* data = caller.data;
    buffer.GetRegion(1, 2, 10, 3, 2, 11, caller);
    EXPECT_EQ(caller.data, data);
    const std::vector<double> expected = {21, 22, 23, 121, 122, 123, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(std::vector<double>(caller.begin<double>(), caller.end<double>()), expected);

    buffer.GetRegion(1, 2, 10, 0, 2, 11, caller);
    EXPECT_EQ(caller.at<double>(0), 21) << "an empty box writes nothing";
    EXPECT_THROW(buffer.GetRegion(1, 2, 10, -1, 2, 11, caller), std::length_error);
}

TEST(RegionsRing, GetRegionUsesTheLowestSlotOfARepeatedLabel) {
    FrameBuffer buffer(4);
    for (int i = 0; i < 3; ++i) buffer.AddFrame(cv::Mat(2, 2, CV_32FC1, cv::Scalar(i + 1)));
    cv::Mat out;
    buffer.GetRegion(0, 0, -5, 0, 0, 9, out);
    ASSERT_EQ(out.total(), 15u);
    for (int i = 0; i < 15; ++i) {
        const int f = i < 5 ? 0 : (i > 7 ? 2 : i - 5);
        EXPECT_EQ(out.at<double>(i), f + 1) << i;
    }
}

TEST(RegionsRing, GetRegionRefusesAGapInTheStoredFrames) {
    FrameBuffer buffer(3);
    for (int f : {10, 12, 13}) buffer.AddFrameNumbered(cv::Mat(2, 2, CV_32FC1, 1.0f), f);
    cv::Mat out(1, 4, CV_64FC1, cv::Scalar(-1));
    EXPECT_THROW(buffer.GetRegion(0, 0, 10, 1, 0, 12, out), std::out_of_range);
    EXPECT_EQ(cv::countNonZero(out == -1), 4);
}

TEST_F(Regions, GetLocalRegionRunsRowsFastestAndReportsEachFrame) {
    EXPECT_EQ(localRegion(3, 3, 11, 2, 5, 2),
              ringLines +
                  "GetLocalRegion > t_orig=11\nGetLocalRegion > t=10; buffind=0\n"
                  "GetLocalRegion > t=11; buffind=1\n");
    ASSERT_EQ(out.total(), 20u);
    const auto* d = out.ptr<double>();
    EXPECT_EQ(d[0], 21);
    EXPECT_EQ(d[1], 31);
    EXPECT_EQ(d[2], 22);
    EXPECT_EQ(d[10], 121);
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 5; ++k)
            for (int j = 0; j < 2; ++j) EXPECT_EQ(d[i * 10 + k * 2 + j], value(i, 2 + j, 1 + k));
}

TEST_F(Regions, GetLocalRegionWithAnEmptyExtentOnlyPrints) {
    out = cv::Mat(1, 3, CV_64FC1, cv::Scalar(-1));
    EXPECT_EQ(localRegion(3, 3, 11, 2, 2, 0), ringLines + "GetLocalRegion > t_orig=11\n");
    EXPECT_EQ(localRegion(3, 3, 12, 0, 2, 1),
              ringLines + "GetLocalRegion > t_orig=12\nGetLocalRegion > t=12; buffind=2\n");
    EXPECT_EQ(localRegion(3, 3, 20, 2, 0, 1),
              ringLines + "GetLocalRegion > t_orig=20\nGetLocalRegion > t=20; buffind=-1\n");
    EXPECT_EQ(cv::countNonZero(out == -1), 3);
}

TEST_F(Regions, GetLocalRegionRefusesBoxesOutsideTheStorageAfterPrinting) {
    out = cv::Mat(1, 100, CV_64FC1, cv::Scalar(-1));
    EXPECT_THROW(localRegion(1, 3, 11, 4, 1, 1), std::out_of_range);  // rows -1 .. 2
    EXPECT_THROW(localRegion(3, 5, 11, 1, 3, 1), std::out_of_range);  // column 6
    EXPECT_THROW(localRegion(5, 3, 11, 3, 1, 1), std::out_of_range);  // row 6
    EXPECT_THROW(localRegion(3, 3, 13, 1, 1, 2), std::out_of_range);  // frame 13
    EXPECT_EQ(printed, ringLines +
                           "GetLocalRegion > t_orig=13\nGetLocalRegion > t=12; buffind=2\n"
                           "GetLocalRegion > t=13; buffind=-1\n");
    EXPECT_EQ(cv::countNonZero(out == -1), 100);
    EXPECT_NO_THROW(localRegion(3, 3, 11, 6, 6, 3));
    EXPECT_EQ(out.at<double>(0), 0.0);
    EXPECT_EQ(out.at<double>(107), 255.0);
}

}  // namespace
}  // namespace stview
