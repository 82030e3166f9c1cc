// Runs the real stview binary on small numbered videos made here.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "tests/e2e/run_binary.hpp"
#include "tests/e2e/test_videos.hpp"

namespace stview {
namespace {

namespace fs = std::filesystem;
using testing_support::environmentWithout;
using testing_support::numberOf;
using testing_support::readAllFrames;
using testing_support::runBinary;
using testing_support::RunResult;

constexpr int kFrames = 40;

const char* const kUsage =
    "\n"
    "This program displays pre-detected space-time interest points\n"
    "and optionally creates a video with s-t points overlayed on the\n"
    "original video.\n"
    "\n"
    "Usage:\n"
    "   -v  filename : input video file name\n"
    "   -f  filename : input DRAV features file name\n"
    "   -o  filename : output video file name (optional)\n"
    "   -ff integer  : first frame (optional)\n"
    "   -lf integer  : last frame (optional)\n"
    "   -p           : pause after each frame\n";

class ViewerEndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(testing::TempDir()) / ("stview-e2e-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        ASSERT_TRUE(testing_support::writeNumberedVideo(video(), kFrames));
        // Point A: frame 15 only (temporal variance 1), radius 12, centre
        // column 64, row 64 - 24 = 40. Point B: frames 11 to 13, radius 6,
        // centre column 20, row 34.
        std::ofstream(features()) << "# id x y t sv tv value\n"
                                  << "0 64 24 15 16 1 1.0\n"
                                  << "1 20 30 12 4 4 2.0\n";
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string video() { return (dir_ / "count.avi").string(); }
    static std::string features() { return (dir_ / "features.txt").string(); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }

    // Headless environment: no display, and no Qt platform chosen.
    static RunResult runHeadless(const std::vector<std::string>& args) {
        return runBinary(STVIEW_BINARY, args,
                         environmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}));
    }

    static fs::path dir_;
};

fs::path ViewerEndToEnd::dir_;

bool isYellow(const cv::Vec3b& bgr) { return bgr[1] - bgr[0] > 80 && bgr[2] - bgr[0] > 80; }

TEST_F(ViewerEndToEnd, UsageTextIsExactAndFirstWhenInputsAreMissing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"plain.avi"}, {"-h", "-v", video(), "-f", features()}, {"-v", video()}}) {
        const RunResult run = runHeadless(args);
        EXPECT_EQ(run.status, 0);
        ASSERT_EQ(run.out.compare(0, std::string(kUsage).size(), kUsage), 0) << run.out;
        // The extra options follow the twelve lines, one line each.
        EXPECT_EQ(run.out.substr(std::string(kUsage).size()).find("--no-window"), 3u);
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(ViewerEndToEnd, EchoLinesAndCountAreExact) {
    const RunResult run = runHeadless({"--no-window", "-v", video(), "-f", features(), "-lf", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Input video:   " + video() + "\nInput features:" + features() +
                           "\nload 2 features from " + features() + "\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ViewerEndToEnd, WritesExactlyTheRequestedFramesWithTheirCircles) {
    const std::string out = path("range.avi");
    const RunResult run = runHeadless(
        {"--no-window", "-v", video(), "-f", features(), "-ff", "10", "-lf", "20", "-o", out});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<cv::Mat> frames = readAllFrames(out);
    ASSERT_EQ(frames.size(), 10u);
    for (int k = 0; k < 10; ++k) {
        const int n = 10 + k;
        SCOPED_TRACE(n);
        EXPECT_EQ(numberOf(frames[k]), n);
        // A's ring passes through (76, 40), B's through (26, 34).
        EXPECT_EQ(isYellow(frames[k].at<cv::Vec3b>(40, 76)), n == 15);
        EXPECT_EQ(isYellow(frames[k].at<cv::Vec3b>(34, 26)), n >= 11 && n <= 13);
        EXPECT_FALSE(isYellow(frames[k].at<cv::Vec3b>(40, 64)));  // the centres stay clear
        EXPECT_FALSE(isYellow(frames[k].at<cv::Vec3b>(34, 20)));
    }
}

TEST_F(ViewerEndToEnd, LastFrameNotAfterFirstGivesAnEmptyOutput) {
    const std::string out = path("empty.avi");
    const RunResult run = runHeadless(
        {"--no-window", "-v", video(), "-f", features(), "-ff", "5", "-lf", "5", "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(out));
    EXPECT_TRUE(readAllFrames(out).empty());
}

TEST_F(ViewerEndToEnd, MissingVideoIsReportedAndFails) {
    const std::string missing = path("missing.avi");
    const RunResult run = runHeadless({"--no-window", "-v", missing, "-f", features()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Could not initialize capturing from " + missing + "...\n");
    EXPECT_NE(run.out.find("load 2 features from "), std::string::npos);
}

TEST_F(ViewerEndToEnd, NoDisplayGivesStatusTwoAndNamesTheWayOut) {
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{}, {"DISPLAY=:93"}}) {
        const RunResult run =
            runBinary(STVIEW_BINARY, {"-v", video(), "-f", features()},
                      environmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, extra));
        EXPECT_EQ(run.status, 2);
        EXPECT_FALSE(run.signalled);
        EXPECT_NE(run.err.find("--no-window"), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(ViewerEndToEnd, NoWindowRendersWithoutADisplayAndReportsProgress) {
    const std::string out = path("headless.avi");
    const RunResult run = runHeadless({"-v", video(), "-f", features(), "-o", out, "--no-window"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAllFrames(out).size(), static_cast<std::size_t>(kFrames));
    // Not a terminal: one summary line only.
    EXPECT_EQ(run.err.rfind("written 40 of 40 frames", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

TEST_F(ViewerEndToEnd, WindowOnAnOffscreenPlatformPlaysInRealTime) {
    // Eight frames at 4 per second: the last is due 1.75 s after the first, where
    // playing as fast as they decode takes under a second in all.
    const std::string slow = path("slow.avi"), out = path("window.avi");
    ASSERT_TRUE(testing_support::writeNumberedVideo(slow, 8, 4));
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = runBinary(
        STVIEW_BINARY, {"-v", slow, "-f", features(), "-o", out, "--realtime"},
        environmentWithout({"DISPLAY", "QT_QPA_PLATFORM"}, {"QT_QPA_PLATFORM=offscreen"}));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(run.signalled);
    EXPECT_EQ(readAllFrames(out).size(), 8u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1750));
}

}  // namespace
}  // namespace stview
