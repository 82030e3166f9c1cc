// Runs the real stdetect binary: the points of a generated video land on its
// moving square, and stview draws them there.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <sstream>

#include "features/features_file.hpp"
#include "tests/e2e/harness.hpp"

namespace stview::e2e {
namespace {

RunResult detect(const std::string& words) { return runBinary(STDETECT_BINARY, arguments(words)); }

// The lines after the last '#' line.
std::string body(const std::string& text) {
    return text.substr(text.find('\n', text.rfind("\n#") + 1));
}

TEST(Detect, PointsFollowTheSquareAndStviewDrawsThemOnIt) {
    const std::string common =
        "-v " + scratch("square.avi") + " --scales 4,8:2 --threshold 1e-9 --quiet";
    const RunResult run = detect(common + " -o @points.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string written = readFile(scratch("points.txt"));
    EXPECT_EQ(body(detect(common).out), body(written)) << "standard output carries the file";

    FeatureParseReport report;
    const FeatureList points = parseFeatures(written, report);
    ASSERT_GE(points.size(), 4u);
    for (const FeaturePoint& p : points) {
        const cv::Point row(p.x, kVideoSize.height - p.y), square = squareAt(p.t);
        EXPECT_TRUE(cv::Rect(square - cv::Point(8, 8), cv::Size(32, 32)).contains(row))
            << "point at column " << p.x << ", row " << row.y << ", frame " << p.t;
        EXPECT_TRUE(p.t > 0 && p.t < kSquareFrames - 1);
    }
    // A range in the middle: absolute frame numbers, never its first or last frame.
    for (const FeaturePoint& p : parseFeatures(detect(common + " -ff 6 -lf 18").out, report))
        EXPECT_TRUE(p.t > 6 && p.t < 17) << p.t;

    const RunResult view = runBinary(
        STVIEW_BINARY, arguments("--no-window -v @square.avi -f @points.txt -o @drawn.avi"));
    ASSERT_EQ(view.status, 0) << view.err;
    const std::vector<cv::Mat> frames = readAllFrames(scratch("drawn.avi"));
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSquareFrames));
    const FeaturePoint& p = points.front();
    cv::Mat yellow;
    cv::inRange(frames[p.t], cv::Scalar(0, 180, 180), cv::Scalar(90, 255, 255), yellow);
    // The circle (radius 6 or 8) is drawn around the point's pixel.
    const cv::Rect around(p.x - 10, kVideoSize.height - p.y - 10, 21, 21);
    EXPECT_GT(cv::countNonZero(yellow(around & cv::Rect({}, kVideoSize))), 10);
}

// Ctrl-C: status 130, the existing output untouched, no temporary file left.
TEST(Detect, InterruptedRunLeavesNothingBehind) {
    writeFile(scratch("kept.txt"), "# keep me\n");
    const std::string input = testClip("320x240", 400, 25);
    // Interrupted once the partial output exists, so the handler is certainly in place however
    // slowly the program starts (a loaded machine, a sanitizer build).
    const auto partialExists = [] {
        for (const auto& entry : fs::directory_iterator(scratch("")))
            if (entry.path().filename().string().find(".partial") != std::string::npos) return true;
        return false;
    };
    const RunResult run =
        runBinary(STDETECT_BINARY, arguments("-v " + input + " -o @kept.txt"), "", partialExists);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_EQ(readFile(scratch("kept.txt")), "# keep me\n");
    for (const auto& entry : fs::directory_iterator(scratch("")))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
}

}  // namespace
}  // namespace stview::e2e
