#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "video/frame_cache.hpp"
#include "video/progress.hpp"
#include "video/read_ahead.hpp"
#include "video/video_input.hpp"

namespace stview {
namespace {

TEST(Progress, LineAddsShareAndTimeLeftOnlyWhenTheTotalIsKnown) {
    const std::tuple<long, long, double, const char*> cases[] = {
        {50, 200, 2.0, "done 50 of 200 frames, 25.0 fps, 25%, 0:06 left"},
        {1, 7300, 1.0, "done 1 of 7300 frames, 1.0 fps, 0%, 2:01:39 left"},
        {0, 10, 0.0, "done 0 of 10 frames, 0.0 fps, 0%"},
        {12, 10, 1.0, "done 12 of 10 frames, 12.0 fps, 100%, 0:00 left"},
        {5, 0, 1.0, "done 5 frames, 5.0 fps"},
    };
    for (const auto& [written, total, seconds, line] : cases)
        EXPECT_EQ(formatProgressLine(written, total, seconds, "done"), line);
    EXPECT_EQ(formatProgress(50, 200, 2.0), "written 50 of 200 frames, 25.0 fps");
}

TEST(ReadAhead, GivesTheCapturesFramesInOrderBitForBit) {
    const std::string path = testing::TempDir() + "ahead_" + std::to_string(::getpid()) + ".avi";
    {
        cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                               25.0, cv::Size(48, 32), true);
        ASSERT_TRUE(writer.isOpened());
        cv::RNG random(3);
        cv::Mat frame(32, 48, CV_8UC3);
        for (int i = 0; i < 25; ++i)
            random.fill(frame, cv::RNG::UNIFORM, 0, 256), writer.write(frame);
    }
    for (std::size_t depth : {1u, 3u}) {
        cv::VideoCapture plain(path, cv::CAP_FFMPEG), capture(path, cv::CAP_FFMPEG);
        ReadAhead frames(capture, depth);
        cv::Mat frame, expected;
        int count = 0;
        for (; frames.read(frame); ++count) {
            ASSERT_TRUE(plain.read(expected)) << count;
            EXPECT_EQ(cv::norm(frame, expected, cv::NORM_INF), 0.0) << count;
            frame.setTo(cv::Scalar::all(0));  // drawing into a frame must not reach later ones
        }
        EXPECT_EQ(count, 25);
        EXPECT_TRUE(frame.empty());
        EXPECT_FALSE(frames.read(frame));  // stays at the end
    }
    cv::VideoCapture capture(path, cv::CAP_FFMPEG), closed;
    std::remove(path.c_str());
    cv::Mat frame;
    ASSERT_TRUE(ReadAhead(capture).read(frame));  // its destructor joins a reader still decoding
    EXPECT_FALSE(ReadAhead(closed).read(frame));  // a closed capture ends at once
}

// A capture of `frames` frames that refuses (or accepts) to jump.
struct FakeCapture {
    bool canJump;
    int frames, position = 0;
    bool set(int property, double value) {
        if (canJump && property == cv::CAP_PROP_POS_FRAMES) position = static_cast<int>(value);
        return canJump && property == cv::CAP_PROP_POS_FRAMES;
    }
    bool read(cv::Mat& frame) {
        if (position >= frames) return false;
        frame = cv::Mat(1, 1, CV_8UC1, cv::Scalar(position++));
        return true;
    }
};

TEST(PositionCapture, JumpsOrFastForwardsToTheFirstFrame) {
    const char* const forward =
        "Could not start capture from frame 5 in clip.avi\n"
        " -> bugfix: fast-forward to the frame 5 ...\n    done.\n";
    // Can jump, frames, first frame; then what it prints and the next frame read.
    const std::tuple<bool, int, int, const char*, int> cases[] = {
        {false, 10, 0, "", 0},      {false, 10, -5, "", 0},     {true, 10, 5, "", 5},
        {false, 10, 5, forward, 5}, {false, 3, 5, forward, -1},  // stops at the end
    };
    for (const auto& [canJump, frames, first, text, next] : cases) {
        FakeCapture capture{canJump, frames};
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
        positionCapture(capture, first, "clip.avi", out.get());
        std::string printed(256, '\0');
        std::rewind(out.get());
        printed.resize(std::fread(printed.data(), 1, printed.size(), out.get()));
        cv::Mat frame;
        EXPECT_EQ(printed, text) << first;
        EXPECT_EQ(capture.read(frame) ? frame.at<uchar>(0, 0) : -1, next) << first;
    }
}

// 300 frames of 96 x 64 whose number shows as nine dark or bright blocks, made by
// FFmpeg with one keyframe every 250 frames; "" when it cannot be made.
std::string numberedVideo(const std::string& name, const std::string& codec) {
    const std::string path = testing::TempDir() + std::to_string(::getpid()) + name;
    const std::string command =
        "ffmpeg -v error -y -f rawvideo -pix_fmt gray -s 96x64 -r 25 -i - " + codec +
        " -g 250 -pix_fmt yuv420p " + path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> pipe(popen(command.c_str(), "w"), &pclose);
    cv::Mat frame(64, 96, CV_8UC1);
    for (int n = 0; n < 300 && pipe; ++n) {
        for (int bit = 0; bit < 9; ++bit)
            frame(cv::Rect(bit % 6 * 16, bit / 6 * 16, 16, 16)).setTo(n >> bit & 1 ? 200 : 30);
        frame(cv::Rect(0, 32, 96, 32)).setTo(120);
        std::fwrite(frame.data, 1, frame.total(), pipe.get());
    }
    return pipe && pclose(pipe.release()) == 0 ? path : "";
}

int numberOf(const cv::Mat& frame) {
    int n = 0;
    for (int bit = 0; bit < 9; ++bit)
        n |= (cv::mean(frame(cv::Rect(bit % 6 * 16 + 4, bit / 6 * 16 + 4, 8, 8)))[1] > 115) << bit;
    return n;
}

// MPEG-TS is where OpenCV's own frame seek lands on the wrong frame.
TEST(FrameCache, GivesEveryFrameByItsNumberBothWaysWithSparseKeyframes) {
    for (const auto& [name, codec] : {std::pair{"gop.mp4", "-c:v libx264"},
                                      {"gop.ts", "-c:v libx264"},
                                      {"gop.avi", "-c:v mpeg4 -bf 2 -q:v 3"}}) {
        SCOPED_TRACE(name);
        const std::string path = numberedVideo(name, codec);
        ASSERT_NE(path, "");
        cv::VideoCapture capture(path, cv::CAP_FFMPEG);
        FrameCache cache(capture, path, 0, 8);
        cv::Mat frame;
        for (long long n : {5, 4, 0, 299, 260, 17, 18, 19, 251, 250, 249, 100, 3, 298, 290}) {
            ASSERT_TRUE(cache.get(n, frame)) << n;
            EXPECT_EQ(numberOf(frame), n);
        }
        for (long long n = 200; n < 208; ++n) cache.get(n, frame);
        const long long decoded = cache.decoded();
        for (long long n = 207; n >= 200; --n) {  // the last 8 decoded are kept
            ASSERT_TRUE(cache.get(n, frame));
            EXPECT_EQ(numberOf(frame), n);
        }
        EXPECT_EQ(cache.decoded(), decoded);
        EXPECT_FALSE(cache.get(300, frame));
        ASSERT_TRUE(cache.get(2, frame));
        EXPECT_EQ(numberOf(frame), 2);
        std::remove(path.c_str());
    }
    EXPECT_EQ(FrameCache::capacityFor(640 * 480 * 3), 48u);
    EXPECT_EQ(FrameCache::capacityFor(1920 * 1080 * 3), 43u);
}

}  // namespace
}  // namespace stview
