#include "viewer/overlay.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "viewer/feature_index.hpp"

namespace stview {
namespace {

FeaturePoint point(int x, int y, int t, double spatial, double temporal) {
    FeaturePoint p;
    p.x = x, p.y = y, p.t = t, p.spatialVariance = spatial, p.temporalVariance = temporal;
    return p;
}

const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
constexpr int lowest = std::numeric_limits<int>::min();
constexpr int highest = std::numeric_limits<int>::max();

// drawFeatures on a 64 x 48 frame against one marker drawn at (x, row) with a
// size, or against the untouched frame when size is -1.
TEST(DrawFeatures, DrawsTheMarkerOfEachVisiblePointOrNothing) {
    struct Row {
        FeaturePoint p;
        int frame, x, row, size;
    };
    // clang-format off
    const Row rows[] = {
        // |frame - t| < sqrt(temporal variance), strictly.
        {point(30, 24, 10, 4, 4.0), 8, 0, 0, -1},   {point(30, 24, 10, 4, 4.0), 9, 30, 24, 4},
        {point(30, 24, 10, 4, 4.0), 11, 30, 24, 4}, {point(30, 24, 10, 4, 4.0), 12, 0, 0, -1},
        {point(30, 24, 10, 4, 0.25), 10, 30, 24, 4}, {point(30, 24, 10, 4, 0.25), 9, 0, 0, -1},
        {point(30, 24, 10, 4, 0.0), 10, 0, 0, -1},  {point(30, 24, 10, 4, -1.0), 10, 0, 0, -1},
        {point(30, 24, 10, 4, nan), 10, 0, 0, -1},
        // Rows count from the bottom (48 is one past the last); the size truncates.
        {point(20, 5, 0, 2.9, 1.0), 0, 20, 43, 2},  {point(20, 0, 0, 0.9, 1.0), 0, 20, 48, 0},
        // Negative or NaN variances draw nothing; huge ones clamp to a circle
        // larger than the image, which leaves it untouched.
        {point(20, 20, 0, -1.0, 1.0), 0, 0, 0, -1}, {point(20, 20, 0, -1e308, 1.0), 0, 0, 0, -1},
        {point(20, 20, 0, nan, 1.0), 0, 0, 0, -1},  {point(20, 20, 0, -inf, 1.0), 0, 0, 0, -1},
        {point(20, 20, 0, 1e308, 1.0), 0, 0, 0, -1}, {point(20, 20, 0, inf, 1.0), 0, 0, 0, -1},
        // Centres outside the image clip; far ones and extreme values draw nothing.
        {point(-5, 38, 0, 16, 1.0), 0, -5, 10, 16}, {point(67, 0, 0, 16, 1.0), 0, 67, 48, 16},
        {point(1 << 30, 43, 0, 16, 1.0), 0, 0, 0, -1},
        {point(lowest, 48 - highest, 0, 16, 1.0), 0, 0, 0, -1},
        {point(20, lowest, highest, 4, 1e300), lowest, 0, 0, -1},
        {point(20, highest, lowest, 4, 1e300), lowest, 0, 0, -1}};
    // clang-format on
    const cv::Mat blank(48, 64, CV_8UC3, cv::Scalar(10, 20, 30));
    for (const Row& r : rows) {
        cv::Mat drawn = blank.clone(), expected = blank.clone();
        drawFeatures({r.p}, drawn, r.frame);
        if (r.size >= 0) drawCircleMarker(expected, r.x, r.row, r.size);
        EXPECT_EQ(cv::norm(drawn, expected, cv::NORM_INF), 0.0)
            << r.p.x << "," << r.p.y << "," << r.p.t << " in frame " << r.frame;
        EXPECT_EQ(r.size < 0, cv::norm(drawn, blank, cv::NORM_INF) == 0.0);
    }
    EXPECT_TRUE(isVisibleInFrame(point(0, 0, highest, 1, 1e300), lowest));
    EXPECT_FALSE(isVisibleInFrame(point(0, 0, highest, 1, 4.0), lowest));
    EXPECT_EQ(markerSize(1e308), highest);
    EXPECT_EQ(markerSize(-0.5), -1);
    EXPECT_EQ(std::vector({markerRadius(16), markerRadius(2), markerRadius(0), markerRadius(10)}),
              std::vector({12, 4, 0, 9}));
}

// The index must draw exactly what the plain scan over the list draws.
void expectSameAsPlainScan(const FeatureList& points, int firstFrame, int lastFrame,
                           cv::Size size) {
    const FeatureIndex index(points);
    for (int n = firstFrame; n <= lastFrame; ++n) {
        cv::Mat plain(size, CV_8UC3, cv::Scalar(40, 80, 120));
        cv::Mat fast = plain.clone();
        drawFeatures(points, plain, n);
        index.draw(fast, n);
        ASSERT_EQ(cv::norm(plain, fast, cv::NORM_INF), 0.0) << "frame " << n;
    }
}

TEST(FeatureIndex, DrawsTheSamePixelsAsThePlainScan) {
    expectSameAsPlainScan({}, 0, 1, {10, 10});
    // Long-lived and odd points first, then random ones.
    // clang-format off
    FeatureList points{
        point(30, 20, 20, 9, 1e6),    // drawn in every frame tested
        point(30, 20, 20, 1e308, 4),  // clamped size, radius beyond any pattern
        point(30, 20, 20, nan, 4), point(30, 20, 20, 9, nan),  // never drawn
        point(30, 20, 20, 9, 4.0),    // distance exactly at the limit is excluded
        point(10, 10, highest, 9, 1e300), point(lowest, highest, 20, 9, 4),  // extremes
        point(0, 0, 20, 0, 4)};       // radius 0 on the row past the last
    // clang-format on
    std::mt19937 random(11);
    std::uniform_int_distribution<int> column(-30, 150), row(-30, 120), frame(0, 59);
    std::uniform_real_distribution<double> spatial(-2.0, 400.0), temporal(-1.0, 30.0);
    for (int i = 0; i < 3000; ++i)
        points.push_back(
            point(column(random), row(random), frame(random), spatial(random), temporal(random)));
    expectSameAsPlainScan(points, -3, 63, {120, 90});
}

// Every centre in and around small images, so that each way a circle can be
// clipped by one edge, two edges or opposite edges is met.
TEST(FeatureIndex, ClippedCirclesMatchOpenCvAtEveryBorderPosition) {
    for (const cv::Size size : {cv::Size(21, 13), cv::Size(3, 2), cv::Size(1, 1)}) {
        for (int spatial : {0, 1, 2, 5, 9, 16}) {
            const int reach = static_cast<int>(3 * std::sqrt(spatial)) + 5;
            for (int x = -reach; x < size.width + reach; ++x) {
                for (int y = -reach; y < size.height + reach; ++y) {
                    SCOPED_TRACE(testing::Message()
                                 << size << " " << spatial << " " << x << "," << y);
                    expectSameAsPlainScan({point(x, y, 0, spatial, 1.0)}, 0, 0, size);
                }
            }
        }
    }
}

// A record carrying the track (x, y from the bottom) of points.size() frames.
FeaturePoint tracked(int t, const std::vector<cv::Point2d>& points, double spatial = 28.4) {
    FeaturePoint p = point(0, 0, t, spatial, 56.25);
    p.matrix = std::make_shared<cv::Mat>(static_cast<int>(points.size()), 2, CV_64FC1);
    for (std::size_t i = 0; i < points.size(); ++i)
        p.matrix->at<cv::Point2d>(static_cast<int>(i)) = points[i];
    return p;
}

// A track of L + 1 = 5 points at t = 10 shows on exactly frames 10 - 2 ... 10 + 2, and
// only as its track; the index draws what the scan draws, in and around the border.
TEST(FeatureIndex, ShowsATrackOnExactlyItsFrames) {
    const std::vector<cv::Point2d> path{{5.5, 20}, {8.49, 22.5}, {12, 25}, {16, 27}, {19, 30}};
    const FeaturePoint track = tracked(10, path);
    const cv::Size size(40, 36);
    for (int n = 5; n <= 15; ++n) {
        cv::Mat plain = cv::Mat::zeros(size, CV_8UC3), indexed = plain.clone();
        const int shown = FeatureIndex({track}).draw(indexed, n);
        drawFeatures({track}, plain, n);
        EXPECT_EQ(shown, n >= 8 && n <= 12 ? 1 : 0) << "frame " << n;
        EXPECT_EQ(cv::countNonZero(indexed.reshape(1)) > 0, shown == 1) << "frame " << n;
        EXPECT_EQ(cv::norm(plain, indexed, cv::NORM_INF), 0.0) << "frame " << n;
        // --color-by scale: the colour of the record's circle (sigma2 28.4: reddish purple).
        FeatureIndex({track}, CircleColours::ByScale).draw(indexed, n);
        drawTrack(plain, track, n, scaleColour(28.4));
        EXPECT_EQ(cv::norm(plain, indexed, cv::NORM_INF), 0.0) << "frame " << n;
    }
    // Tracks crossing every edge, one that cannot be drawn (NaN), a circle beside them.
    FeatureList points{tracked(3, {{-3, 2}, {1, -1}, {6, 3}}), tracked(3, {{38, 34}, {41, 37}}),
                       tracked(4, {{1, 1}, {nan, 2}, {3, 3}}), point(20, 18, 4, 4, 4),
                       tracked(5, {{2e9, 1}, {3, 3}}),         tracked(6, {{20, 18}})};
    for (int i = 0; i < 200; ++i) points.push_back(tracked(i % 9, {{i % 45 - 3., i % 39 - 2.}}));
    expectSameAsPlainScan(points, 0, 10, size);
    cv::Mat frame = cv::Mat::zeros(size, CV_8UC3);
    for (int n : {4, 5}) EXPECT_EQ(FeatureIndex({points[2], points[4]}).draw(frame, n), 0);
    EXPECT_EQ(cv::countNonZero(frame.reshape(1)), 0);
}

}  // namespace
}  // namespace stview
