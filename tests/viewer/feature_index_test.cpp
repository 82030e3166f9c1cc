#include "viewer/feature_index.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "viewer/overlay.hpp"

namespace stview {
namespace {

FeatureList randomPoints(std::mt19937& random, int count, int frames, cv::Size size) {
    std::uniform_int_distribution<int> column(-30, size.width + 30), row(-30, size.height + 30);
    std::uniform_int_distribution<int> frame(0, frames - 1);
    std::uniform_real_distribution<double> spatial(-2.0, 400.0), temporal(-1.0, 30.0);
    FeatureList points(static_cast<std::size_t>(count));
    for (FeaturePoint& p : points) {
        p.x = column(random);
        p.y = row(random);
        p.t = frame(random);
        p.spatialVariance = spatial(random);
        p.temporalVariance = temporal(random);
    }
    return points;
}

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
    std::mt19937 random(11);
    const cv::Size size(120, 90);
    expectSameAsPlainScan(randomPoints(random, 3000, 60, size), -3, 63, size);
}

TEST(FeatureIndex, LongLivedAndOddPointsMatchToo) {
    std::mt19937 random(5);
    const cv::Size size(64, 48);
    FeatureList points = randomPoints(random, 300, 40, size);
    const double nan = std::nan("");
    const int lowest = std::numeric_limits<int>::min();
    const int highest = std::numeric_limits<int>::max();
    auto add = [&](int x, int y, int t, double s, double v) {
        FeaturePoint p;
        p.x = x, p.y = y, p.t = t, p.spatialVariance = s, p.temporalVariance = v;
        points.push_back(p);
    };
    add(30, 20, 20, 9, 1e6);         // drawn in every frame tested
    add(30, 20, 20, 1e308, 4);       // clamped size, radius beyond any pattern
    add(30, 20, 20, nan, 4);         // never drawn
    add(30, 20, 20, 9, nan);         // never drawn
    add(30, 20, 20, 9, 4.0);         // distance exactly at the limit is excluded
    add(10, 10, highest, 9, 1e300);  // extreme frames
    add(lowest, highest, 20, 9, 4);  // extreme position
    add(0, 0, 20, 0, 4);             // radius 0 on the row past the last
    expectSameAsPlainScan(points, 0, 40, size);
}

// Every centre in and around small images, so that each way a circle can be
// clipped by one edge, two edges or opposite edges is met.
TEST(FeatureIndex, ClippedCirclesMatchOpenCvAtEveryBorderPosition) {
    for (const cv::Size size : {cv::Size(21, 13), cv::Size(3, 2), cv::Size(1, 1)}) {
        for (int spatial : {0, 1, 2, 5, 9, 16}) {
            const int reach = static_cast<int>(3 * std::sqrt(spatial)) + 5;
            FeatureList points(1);
            points[0].spatialVariance = spatial;
            points[0].temporalVariance = 1.0;
            for (int x = -reach; x < size.width + reach; ++x) {
                for (int y = -reach; y < size.height + reach; ++y) {
                    points[0].x = x;
                    points[0].y = y;
                    cv::Mat plain(size, CV_8UC3, cv::Scalar::all(0));
                    cv::Mat fast = plain.clone();
                    drawFeatures(points, plain, 0);
                    FeatureIndex(points).draw(fast, 0);
                    ASSERT_EQ(cv::norm(plain, fast, cv::NORM_INF), 0.0)
                        << size << " size " << spatial << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(FeatureIndex, EmptyListDrawsNothing) {
    const FeatureIndex index({});
    cv::Mat frame(10, 10, CV_8UC3, cv::Scalar::all(7));
    index.draw(frame, 0);
    EXPECT_EQ(cv::countNonZero(frame.reshape(1) != 7), 0);
}

}  // namespace
}  // namespace stview
