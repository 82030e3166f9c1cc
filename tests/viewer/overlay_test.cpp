#include "viewer/overlay.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

cv::Mat blank() { return cv::Mat(kHeight, kWidth, CV_8UC3, cv::Scalar(10, 20, 30)); }

bool identical(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

FeaturePoint point(int x, int y, int t, double spatial, double temporal) {
    FeaturePoint p;
    p.x = x;
    p.y = y;
    p.t = t;
    p.spatialVariance = spatial;
    p.temporalVariance = temporal;
    return p;
}

// The marker must be exactly OpenCV's circle with the fixed style.
cv::Mat expectedCircle(int x, int y, int radius) {
    cv::Mat image = blank();
    cv::circle(image, {x, y}, radius, cv::Scalar(0, 255, 255, 0), 3, cv::LINE_8, 0);
    return image;
}

TEST(DrawCircleMarker, MatchesOpenCvCirclePixelForPixel) {
    // size -> radius floor(3 sqrt(size)): 16 -> 12, 2 -> 4, 0 -> 0, 10 -> 9.
    for (const auto& [size, radius] :
         std::vector<std::pair<int, int>>{{16, 12}, {2, 4}, {0, 0}, {10, 9}}) {
        cv::Mat image = blank();
        drawCircleMarker(image, 30, 20, size);
        EXPECT_TRUE(identical(image, expectedCircle(30, 20, radius))) << size;
    }
}

TEST(DrawCircleMarker, CentresOutsideTheImageClipLikeOpenCv) {
    for (const cv::Point& centre :
         {cv::Point(-5, 10), cv::Point(kWidth + 3, kHeight), cv::Point(10, -12),
          cv::Point(-100, -100), cv::Point(1 << 30, 5)}) {
        cv::Mat image = blank();
        drawCircleMarker(image, centre.x, centre.y, 16);
        EXPECT_TRUE(identical(image, expectedCircle(centre.x, centre.y, 12))) << centre;
    }
    cv::Mat image = blank();
    drawCircleMarker(image, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 16);
    EXPECT_TRUE(identical(image, blank()));
}

TEST(DrawFeatures, TemporalWindowIsStrictlyWithinOneDeviation) {
    const FeatureList wide{point(30, 24, 10, 4, 4.0)};     // drawn at 9, 10, 11
    const FeatureList narrow{point(30, 24, 10, 4, 0.25)};  // only at 10
    const FeatureList never{point(30, 24, 10, 4, 0.0), point(30, 24, 10, 4, -1.0),
                            point(30, 24, 10, 4, std::nan(""))};
    for (int frame = 7; frame <= 13; ++frame) {
        cv::Mat a = blank(), b = blank(), c = blank();
        drawFeatures(wide, a, frame);
        drawFeatures(narrow, b, frame);
        drawFeatures(never, c, frame);
        EXPECT_EQ(!identical(a, blank()), frame >= 9 && frame <= 11) << frame;
        EXPECT_EQ(!identical(b, blank()), frame == 10) << frame;
        EXPECT_TRUE(identical(c, blank())) << frame;
    }
}

TEST(DrawFeatures, RowsCountFromTheBottomAndSizeTruncates) {
    cv::Mat image = blank();
    drawFeatures({point(20, 5, 0, 2.9, 1.0)}, image, 0);  // size 2, radius 4, row 48 - 5
    EXPECT_TRUE(identical(image, expectedCircle(20, kHeight - 5, 4)));

    cv::Mat bottom = blank();
    drawFeatures({point(20, 0, 0, 0.9, 1.0)}, bottom, 0);  // row = height: one past the last
    EXPECT_TRUE(identical(bottom, expectedCircle(20, kHeight, 0)));
}

TEST(DrawFeatures, BadSpatialVariancesDrawNothingOrClamp) {
    for (double spatial : {-1.0, -1e308, std::nan(""), -std::numeric_limits<double>::infinity()}) {
        cv::Mat image = blank();
        drawFeatures({point(20, 20, 0, spatial, 1.0)}, image, 0);
        EXPECT_TRUE(identical(image, blank())) << spatial;
    }
    // A huge variance is clamped to int's range: a circle far larger than the
    // image, which then leaves the image untouched, without overflow.
    for (double spatial : {1e308, std::numeric_limits<double>::infinity()}) {
        cv::Mat image = blank();
        drawFeatures({point(20, 20, 0, spatial, 1.0)}, image, 0);
        EXPECT_TRUE(identical(image, blank())) << spatial;
    }
    EXPECT_EQ(markerSize(1e308), std::numeric_limits<int>::max());
    EXPECT_EQ(markerSize(2.9), 2);
    EXPECT_EQ(markerSize(-0.5), -1);
}

TEST(DrawFeatures, ExtremeFramesAndRowsDoNotOverflow) {
    cv::Mat image = blank();
    const int lowest = std::numeric_limits<int>::min();
    const int highest = std::numeric_limits<int>::max();
    drawFeatures({point(20, lowest, highest, 4, 1e300), point(20, highest, lowest, 4, 1e300)},
                 image, lowest);
    EXPECT_TRUE(identical(image, blank()));
    EXPECT_TRUE(isVisibleInFrame(point(0, 0, highest, 1, 1e300), lowest));
    EXPECT_FALSE(isVisibleInFrame(point(0, 0, highest, 1, 4.0), lowest));
}

TEST(DrawFeatures, EmptyListLeavesTheFrame) {
    cv::Mat image = blank();
    drawFeatures({}, image, 0);
    EXPECT_TRUE(identical(image, blank()));
}

}  // namespace
}  // namespace stview
