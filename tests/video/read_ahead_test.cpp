#include "video/read_ahead.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace stview {
namespace {

class ReadAheadTest : public testing::Test {
  protected:
    void SetUp() override {
        path_ = testing::TempDir() + "read_ahead_" + std::to_string(::getpid()) + ".avi";
        cv::VideoWriter writer(path_, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                               25.0, cv::Size(48, 32), true);
        ASSERT_TRUE(writer.isOpened());
        cv::RNG random(3);
        for (int i = 0; i < 25; ++i) {
            cv::Mat frame(32, 48, CV_8UC3);
            random.fill(frame, cv::RNG::UNIFORM, 0, 256);
            writer.write(frame);
        }
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::vector<cv::Mat> plainFrames() const {
        cv::VideoCapture capture(path_, cv::CAP_FFMPEG);
        std::vector<cv::Mat> frames;
        cv::Mat frame;
        while (capture.read(frame)) frames.push_back(frame.clone());
        return frames;
    }
    std::string path_;
};

TEST_F(ReadAheadTest, GivesTheCapturesFramesInOrderBitForBit) {
    const std::vector<cv::Mat> expected = plainFrames();
    ASSERT_EQ(expected.size(), 25u);
    for (std::size_t depth : {1u, 3u}) {
        cv::VideoCapture capture(path_, cv::CAP_FFMPEG);
        ReadAhead frames(capture, depth);
        cv::Mat frame;
        std::size_t count = 0;
        while (frames.read(frame)) {
            ASSERT_LT(count, expected.size());
            EXPECT_EQ(cv::norm(frame, expected[count], cv::NORM_INF), 0.0) << count;
            frame.setTo(cv::Scalar::all(0));  // drawing into a frame must not reach later ones
            ++count;
        }
        EXPECT_EQ(count, expected.size());
        EXPECT_TRUE(frame.empty());
        EXPECT_FALSE(frames.read(frame));  // stays at the end
    }
}

TEST_F(ReadAheadTest, StopsCleanlyBeforeTheEnd) {
    cv::VideoCapture capture(path_, cv::CAP_FFMPEG);
    ReadAhead frames(capture);
    cv::Mat frame;
    ASSERT_TRUE(frames.read(frame));
}  // the destructor must join a reader that is still decoding

TEST(ReadAhead, ClosedCaptureEndsAtOnce) {
    cv::VideoCapture capture;
    ReadAhead frames(capture);
    cv::Mat frame;
    EXPECT_FALSE(frames.read(frame));
}

}  // namespace
}  // namespace stview
