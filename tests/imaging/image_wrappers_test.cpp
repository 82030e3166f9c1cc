#include "imaging/image_wrappers.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

namespace stview {
namespace {

cv::Mat randomImage(cv::Size size, int type, unsigned seed) {
    cv::Mat image(size, type);
    const bool isFloat = CV_MAT_DEPTH(type) == CV_32F;
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, isFloat ? -100.0 : 0.0, isFloat ? 100.0 : 256.0);
    return image;
}

bool identical(const cv::Mat& a, const cv::Mat& b) {
    return a.type() == b.type() && a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

TEST(CrossMarker, ArmsPixelByPixelClippedAtTheBorder) {
    const int cases[][3] = {{10, 10, 2}, {10, 10, 5}, {10, 10, 1},    {10, 10, 0},
                            {0, 0, 4},   {-3, 5, 6},  {7, 9, INT_MAX}};
    for (const auto& [x, y, size] : cases) {
        cv::Mat image = cv::Mat::zeros(20, 20, CV_8UC3);
        drawCrossMarker(image, x, y, size);
        // Arms cover distances 2..size, or size..2 below 2.
        const int from = std::min(size, 2), to = std::max(size, 2);
        for (int py = 0; py < image.rows; ++py) {
            for (int px = 0; px < image.cols; ++px) {
                const int d = px == x ? std::abs(py - y) : py == y ? std::abs(px - x) : -1;
                const cv::Vec3b colour(0, 0, d >= from && d <= to ? 255 : 0);
                EXPECT_EQ(image.at<cv::Vec3b>(py, px), colour) << x << "," << y << "," << size;
            }
        }
    }
}

TEST(GrayConversion, MatchesCvCvtColorAndRefusalsLeaveTheDestinationUntouched) {
    for (int type : {CV_8UC3, CV_8UC4, CV_32FC3}) {
        cv::Mat src = randomImage({17, 31}, type, 4);
        cv::Mat expected(src.size(), CV_MAKETYPE(src.depth(), 1));
        IplImage srcHeader = cvIplImage(src), expectedHeader = cvIplImage(expected);
        cvCvtColor(&srcHeader, &expectedHeader, CV_BGR2GRAY);

        cv::Mat allocated, inPlace(src.size(), expected.type(), cv::Scalar(7));
        const uchar* data = inPlace.data;
        EXPECT_EQ(convertToGray(src, allocated), 0);
        EXPECT_EQ(convertToGray(src, inPlace), 0);
        EXPECT_TRUE(identical(allocated, expected) && identical(inPlace, expected)) << type;
        EXPECT_EQ(inPlace.data, data) << "written in place";
    }
    const cv::Mat original = randomImage({5, 4}, CV_8UC1, 1);
    for (const cv::Mat& source :
         {cv::Mat(), randomImage({5, 4}, CV_8UC1, 2), randomImage({5, 4}, CV_8UC2, 3)}) {
        cv::Mat dst = original.clone(), empty;
        const uchar* data = dst.data;
        EXPECT_EQ(convertToGray(source, dst), -1);
        EXPECT_EQ(convertToGray(source, empty), -1);
        EXPECT_TRUE(dst.data == data && identical(dst, original) && empty.empty());
    }
}

TEST(GaussianSmoothing, MatchesCvSmoothWithReplicatedBorder) {
    for (int type : {CV_8UC1, CV_8UC3, CV_32FC1}) {
        const cv::Mat src = randomImage({29, 37}, type, 5);
        for (double variance : {0.3, 1.0, 2.25, 4.0, 10.0}) {
            cv::Mat expected(src.size(), src.type()), dst;
            IplImage srcHeader = cvIplImage(src), expectedHeader = cvIplImage(expected);
            cvSmooth(&srcHeader, &expectedHeader, CV_GAUSSIAN, 0, 0, std::sqrt(variance), 0.0);
            EXPECT_EQ(smoothGaussian(src, dst, variance), 0);
            EXPECT_TRUE(identical(dst, expected)) << "type " << type << " variance " << variance;
        }
        cv::Mat fixed, four;
        EXPECT_EQ(smoothGaussianFixed(src, fixed), 0);
        smoothGaussian(src, four, 4.0);
        EXPECT_TRUE(identical(fixed, four)) << type;
        // Variances without a deviation.
        EXPECT_THROW(smoothGaussian(src, four, -1.0), std::invalid_argument);
        EXPECT_THROW(smoothGaussian(src, four, std::nan("")), std::invalid_argument);
        EXPECT_THROW(smoothGaussian(src, four, 0.0), cv::Exception);
    }
}

TEST(SobelDerivatives, MatchesCvSobel) {
    const std::pair<int, int> cases[] = {
        std::pair(CV_8UC1, CV_16SC1), std::pair(CV_8UC1, CV_32FC1), std::pair(CV_8UC3, CV_16SC3),
        std::pair(CV_32FC1, CV_32FC1), std::pair(CV_8UC1, CV_8UC1)};
    for (const auto& [srcType, dstType] : cases) {
        const cv::Mat src = randomImage({41, 23}, srcType, 7);
        cv::Mat expectedX(src.size(), dstType), expectedY(src.size(), dstType);
        IplImage srcHeader = cvIplImage(src);
        IplImage xHeader = cvIplImage(expectedX), yHeader = cvIplImage(expectedY);
        cvSobel(&srcHeader, &xHeader, 1, 0, 3);
        cvSobel(&srcHeader, &yHeader, 0, 1, 3);

        // A given destination keeps its depth; an empty one gets the source's.
        cv::Mat dx(src.size(), dstType), dy(src.size(), dstType), emptyX, emptyY;
        EXPECT_EQ(sobelDerivatives(src, dx, dy), 0);
        EXPECT_TRUE(identical(dx, expectedX) && identical(dy, expectedY))
            << srcType << " -> " << dstType;
        if (srcType == dstType) {
            sobelDerivatives(src, emptyX, emptyY);
            EXPECT_TRUE(identical(emptyX, expectedX) && identical(emptyY, expectedY)) << srcType;
        }
    }
}

}  // namespace
}  // namespace stview
