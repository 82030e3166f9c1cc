#include "video/video_input.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace stview {
namespace {

// A capture of `frames` frames that refuses (or accepts) to jump.
struct FakeCapture {
    bool canJump = false;
    int frames = 0;
    int position = 0;
    int jumps = 0;
    bool set(int property, double value) {
        ++jumps;
        if (!canJump || property != cv::CAP_PROP_POS_FRAMES) return false;
        position = static_cast<int>(value);
        return true;
    }
    bool read(cv::Mat& frame) {
        if (position >= frames) return false;
        frame = cv::Mat(1, 1, CV_8UC1, cv::Scalar(position++));
        return true;
    }
};

// Runs positionCapture and returns what it printed.
std::string position(FakeCapture& capture, int firstFrame) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
    positionCapture(capture, firstFrame, "clip.avi", out.get());
    std::string text(256, '\0');
    std::rewind(out.get());
    text.resize(std::fread(text.data(), 1, text.size(), out.get()));
    return text;
}

TEST(PositionCapture, FirstFrameBelowOneLeavesTheCaptureAlone) {
    for (int first : {0, -5}) {
        FakeCapture capture{false, 10};
        EXPECT_EQ(position(capture, first), "");
        EXPECT_EQ(capture.jumps, 0);
        EXPECT_EQ(capture.position, 0);
    }
}

TEST(PositionCapture, JumpsWhenTheCaptureCan) {
    FakeCapture capture{true, 10};
    EXPECT_EQ(position(capture, 5), "");
    EXPECT_EQ(capture.position, 5);
}

TEST(PositionCapture, FastForwardsWhenTheCaptureRefuses) {
    FakeCapture capture{false, 10};
    EXPECT_EQ(position(capture, 5),
              "Could not start capture from frame 5 in clip.avi\n"
              " -> bugfix: fast-forward to the frame 5 ...\n"
              "    done.\n");
    cv::Mat next;
    ASSERT_TRUE(capture.read(next));
    EXPECT_EQ(next.at<uchar>(0, 0), 5);  // the sixth frame of the file
}

TEST(PositionCapture, FastForwardStopsAtTheEnd) {
    FakeCapture capture{false, 3};
    EXPECT_NE(position(capture, 5).find("    done.\n"), std::string::npos);
    cv::Mat next;
    EXPECT_FALSE(capture.read(next));
}

}  // namespace
}  // namespace stview
