#include "imaging/image_wrappers.hpp"

#include <climits>
#include <cmath>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>
#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

cv::Mat randomImage(int rows, int cols, int type, unsigned seed) {
    cv::Mat image(rows, cols, type);
    cv::RNG rng(seed);
    if (CV_MAT_DEPTH(type) == CV_32F) {
        rng.fill(image, cv::RNG::UNIFORM, -100.0, 100.0);
    } else {
        rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    }
    return image;
}

bool identical(const cv::Mat& a, const cv::Mat& b) {
    return a.type() == b.type() && a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// Red pixels expected after drawing a cross, as (x, y) positions.
using Pixels = std::set<std::pair<int, int>>;

Pixels redPixels(const cv::Mat& image) {
    Pixels red;
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const cv::Vec3b pixel = image.at<cv::Vec3b>(y, x);
            if (pixel == cv::Vec3b(0, 0, 255)) {
                red.insert({x, y});
            } else {
                EXPECT_EQ(pixel, cv::Vec3b(0, 0, 0)) << "at " << x << "," << y;
            }
        }
    }
    return red;
}

Pixels crossAt(int x, int y, int from, int to) {
    Pixels pixels;
    for (int d = from; d <= to; ++d) {
        pixels.insert({{x, y + d}, {x + d, y}, {x, y - d}, {x - d, y}});
    }
    return pixels;
}

Pixels drawn(int x, int y, int size) {
    cv::Mat image = cv::Mat::zeros(20, 20, CV_8UC3);
    drawCrossMarker(image, x, y, size);
    return redPixels(image);
}

TEST(CrossMarker, ArmsCoverDistancesTwoToSize) {
    EXPECT_EQ(drawn(10, 10, 2), crossAt(10, 10, 2, 2));
    EXPECT_EQ(drawn(10, 10, 5), crossAt(10, 10, 2, 5));
    EXPECT_EQ(drawn(10, 10, 1), crossAt(10, 10, 1, 2));
    EXPECT_EQ(drawn(10, 10, 0), crossAt(10, 10, 0, 2));
}

TEST(CrossMarker, ClippedAtTheBorder) {
    Pixels corner;
    for (int d = 2; d <= 4; ++d) corner.insert({{d, 0}, {0, d}});
    EXPECT_EQ(drawn(0, 0, 4), corner);

    Pixels outside;
    for (int x = 0; x <= 3; ++x) outside.insert({x, 5});
    EXPECT_EQ(drawn(-3, 5, 6), outside);

    Pixels huge = crossAt(7, 9, 2, 19);
    for (auto it = huge.begin(); it != huge.end();) {
        it = (it->first < 0 || it->first >= 20 || it->second < 0 || it->second >= 20)
                 ? huge.erase(it)
                 : std::next(it);
    }
    EXPECT_EQ(drawn(7, 9, INT_MAX), huge);
}

TEST(GrayConversion, RefusalsLeaveTheDestinationUntouched) {
    const cv::Mat original = randomImage(4, 5, CV_8UC1, 1);
    for (const cv::Mat& source :
         {cv::Mat(), randomImage(4, 5, CV_8UC1, 2), randomImage(4, 5, CV_8UC2, 3)}) {
        cv::Mat dst = original.clone();
        const uchar* data = dst.data;
        EXPECT_EQ(convertToGray(source, dst), -1);
        EXPECT_EQ(dst.data, data);
        EXPECT_TRUE(identical(dst, original));

        cv::Mat empty;
        EXPECT_EQ(convertToGray(source, empty), -1);
        EXPECT_TRUE(empty.empty());
    }
}

TEST(GrayConversion, MatchesCvCvtColor) {
    for (int type : {CV_8UC3, CV_8UC4, CV_32FC3}) {
        cv::Mat src = randomImage(31, 17, type, 4);
        cv::Mat expected(src.size(), CV_MAKETYPE(src.depth(), 1));
        IplImage srcHeader = cvIplImage(src), expectedHeader = cvIplImage(expected);
        cvCvtColor(&srcHeader, &expectedHeader, CV_BGR2GRAY);

        cv::Mat allocated;
        EXPECT_EQ(convertToGray(src, allocated), 0);
        EXPECT_TRUE(identical(allocated, expected));

        cv::Mat inPlace(src.size(), expected.type(), cv::Scalar(7));
        const uchar* data = inPlace.data;
        EXPECT_EQ(convertToGray(src, inPlace), 0);
        EXPECT_EQ(inPlace.data, data);
        EXPECT_TRUE(identical(inPlace, expected));
    }
}

TEST(GaussianSmoothing, MatchesCvSmoothWithReplicatedBorder) {
    for (int type : {CV_8UC1, CV_8UC3, CV_32FC1}) {
        const cv::Mat src = randomImage(37, 29, type, 5);
        for (double variance : {0.3, 1.0, 2.25, 4.0, 10.0}) {
            cv::Mat expected(src.size(), src.type());
            IplImage srcHeader = cvIplImage(src), expectedHeader = cvIplImage(expected);
            cvSmooth(&srcHeader, &expectedHeader, CV_GAUSSIAN, 0, 0, std::sqrt(variance), 0.0);
            cv::Mat dst;
            EXPECT_EQ(smoothGaussian(src, dst, variance), 0);
            EXPECT_TRUE(identical(dst, expected)) << "type " << type << " variance " << variance;
        }
        cv::Mat fixed, four;
        EXPECT_EQ(smoothGaussianFixed(src, fixed), 0);
        smoothGaussian(src, four, 4.0);
        EXPECT_TRUE(identical(fixed, four));
    }
}

TEST(GaussianSmoothing, RejectsVariancesWithoutADeviation) {
    const cv::Mat src = randomImage(8, 8, CV_8UC1, 6);
    cv::Mat dst;
    EXPECT_THROW(smoothGaussian(src, dst, -1.0), std::invalid_argument);
    EXPECT_THROW(smoothGaussian(src, dst, std::nan("")), std::invalid_argument);
    EXPECT_THROW(smoothGaussian(src, dst, 0.0), cv::Exception);
}

TEST(SobelDerivatives, MatchesCvSobel) {
    const std::vector<std::pair<int, int>> cases = {{CV_8UC1, CV_16SC1},
                                                    {CV_8UC1, CV_32FC1},
                                                    {CV_8UC3, CV_16SC3},
                                                    {CV_32FC1, CV_32FC1},
                                                    {CV_8UC1, CV_8UC1}};
    for (const auto& [srcType, dstType] : cases) {
        const cv::Mat src = randomImage(23, 41, srcType, 7);
        cv::Mat expectedX(src.size(), dstType), expectedY(src.size(), dstType);
        IplImage srcHeader = cvIplImage(src);
        IplImage xHeader = cvIplImage(expectedX), yHeader = cvIplImage(expectedY);
        cvSobel(&srcHeader, &xHeader, 1, 0, 3);
        cvSobel(&srcHeader, &yHeader, 0, 1, 3);

        cv::Mat dx(src.size(), dstType), dy(src.size(), dstType);
        EXPECT_EQ(sobelDerivatives(src, dx, dy), 0);
        EXPECT_TRUE(identical(dx, expectedX)) << srcType << " -> " << dstType;
        EXPECT_TRUE(identical(dy, expectedY)) << srcType << " -> " << dstType;
        if (srcType == dstType) {
            cv::Mat emptyX, emptyY;
            sobelDerivatives(src, emptyX, emptyY);
            EXPECT_TRUE(identical(emptyX, expectedX));
            EXPECT_TRUE(identical(emptyY, expectedY));
        }
    }
}

}  // namespace
}  // namespace stview
