#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include "imaging/gaussian_kernel.hpp"
#include "imaging/image_grid.hpp"
#include "imaging/image_wrappers.hpp"

namespace stview {
namespace {

// Half size size / 2 if a size is given, else sqrt(variance) * sigmaMultiple truncated toward
// zero; underflowed taps trimmed to one zero a side; 50000 * 50000 overflows 32 bits.
TEST(GaussianKernel, TapsHalfSizesAndRefusalsNamingTheValue) {
    const std::vector<double> one = {0.004433, 0.054006, 0.242036, 0.399050,
                                     0.242036, 0.054006, 0.004433};
    const std::tuple<double, int, int, std::vector<double>> cases[] = {
        {1.0, 0, 3, one},
        {1.0, 7, 99, one},
        {2.25, 0, 2, {0.036633, 0.111281, 0.216745, 0.270682, 0.216745, 0.111281, 0.036633}},
        {1.0, -1, 3, {1.0}},
        {0.25, 0, -1, {1.0}},
        {0.00001, 5, 0, {0.0, 1.0, 0.0}},
        {INFINITY, 4, 0, std::vector<double>(5, 0.2)}};
    for (const auto& [variance, size, sigmaMultiple, taps] : cases) {
        const std::vector<double> kernel = makeGaussianKernel(variance, size, sigmaMultiple);
        ASSERT_EQ(kernel.size(), taps.size()) << variance << ", " << size << ", " << sigmaMultiple;
        for (std::size_t i = 0; i < kernel.size(); ++i) EXPECT_NEAR(kernel[i], taps[i], 5e-7);
        EXPECT_TRUE(std::equal(kernel.begin(), kernel.end(), kernel.rbegin()));
    }
    EXPECT_EQ(makeGaussianKernel(1.0, 101, 0).size(), 79u);
    const std::vector<double> wide = makeGaussianKernel(1e9, 100001, 0);
    ASSERT_EQ(wide.size(), 100001u);
    EXPECT_NEAR(wide.front() / wide[50000], std::exp(-1.25), 1e-12);
    const std::tuple<double, int, int, std::string> refused[] = {
        {1.0, -7, 0, "half size -3"},
        {1.0, 0, -1, "half size -1 "},
        {0.0, 5, 0, "variance"},
        {NAN, 5, 0, "nan"},
        {INFINITY, 0, 0, "nan"},
        {1e30, 0, 3, "half size 3000000000000000 "},
        {1.0, 2 * kMaxGaussianHalfSize + 2, 0, "half size 4194305 "}};  // the largest + 1
    for (const auto& [variance, size, sigmaMultiple, named] : refused) {
        try {
            makeGaussianKernel(variance, size, sigmaMultiple);
            ADD_FAILURE() << "accepted " << variance << ", " << size << ", " << sigmaMultiple;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

// Layouts by count; images land in their cells resized as cvResize does (single-precision
// scale, both sides truncated) on a black canvas, one scaled to zero rows leaves its cell black.
TEST(ImageGrid, LayoutsCellsLikeCvResizeAndRefusals) {
    const cv::Vec6i layouts[] = {{2, 2, 1, 300, 700, 360}, {4, 2, 2, 300, 700, 660},
                                 {5, 3, 2, 200, 700, 460}, {8, 4, 2, 200, 900, 460},
                                 {9, 4, 3, 150, 700, 510}, {12, 4, 3, 150, 700, 510},
                                 {1, 0, 0, 0, 0, 0},       {13, 0, 0, 0, 0, 0}};
    for (const cv::Vec6i& row : layouts) {
        const GridLayout l = gridLayoutFor(row[0]);
        const cv::Size c = l.canvasSize;
        EXPECT_EQ(cv::Vec6i(row[0], l.columns, l.rows, l.cellSide, c.width, c.height), row);
    }
    const cv::Size sizes[] = {{640, 480}, {480, 640}, {1000, 2}, {176, 144}, {600, 400}};
    const cv::Rect targets[] = {{20, 20, 199, 149},
                                {240, 20, 149, 199},
                                {460, 20, 200, 0},
                                {20, 240, 200, 163},
                                {240, 240, 200, 133}};
    std::vector<cv::Mat> images;
    cv::Mat canvas, expected = cv::Mat::zeros(460, 700, CV_8UC3);
    IplImage canvasHeader = cvIplImage(expected);
    for (int i = 0; i < 5; ++i) {
        images.emplace_back(sizes[i], CV_8UC3);
        cv::randu(images.back(), 1, 256);
        IplImage imageHeader = cvIplImage(images.back());
        cvSetImageROI(&canvasHeader, cvRect(targets[i]));
        if (!targets[i].empty()) cvResize(&imageHeader, &canvasHeader, CV_INTER_LINEAR);
    }
    cvResetImageROI(&canvasHeader);  // frees the ROI record the C interface allocated
    ASSERT_EQ(composeImageGrid(images, canvas), GridOutcome::Composed);
    EXPECT_TRUE(canvas.size() == expected.size() && cv::norm(canvas, expected, cv::NORM_INF) == 0);
    // A refusal releases the canvas, the image after an empty one unread; one passes uncopied.
    images = {images[0], cv::Mat(), cv::Mat(4, 4, CV_8UC1)};
    EXPECT_EQ(composeImageGrid(images, canvas), GridOutcome::NullImage);
    EXPECT_TRUE(canvas.empty());
    EXPECT_EQ(composeImageGrid({images[2]}).data, images[2].data);
    EXPECT_THROW(composeImageGrid({images[0], images[2]}), cv::Exception);
}

// Arms cover distances 2 .. size (size .. 2 below 2) pixel by pixel, clipped at the border.
TEST(CrossMarker, ArmsPixelByPixel) {
    for (const auto& [x, y, size] :
         {std::tuple{10, 10, 5}, {10, 10, 1}, {0, 0, 4}, {-3, 5, 6}, {7, 9, INT_MAX}}) {
        cv::Mat image = cv::Mat::zeros(20, 20, CV_8UC3);
        drawCrossMarker(image, x, y, size);
        for (int py = 0; py < image.rows; ++py)
            for (int px = 0; px < image.cols; ++px) {
                const int d = px == x ? std::abs(py - y) : py == y ? std::abs(px - x) : -1;
                const bool red = d >= std::min(size, 2) && d <= std::max(size, 2);
                ASSERT_EQ(image.at<cv::Vec3b>(py, px), cv::Vec3b(0, 0, red ? 255 : 0)) << x << y;
            }
    }
}

// The C interface's results: BGR order, replicated borders, deviation sqrt(variance) (2 for the
// fixed one), a derivative's given depth kept and an empty one given the source's.
TEST(ImageWrappers, MatchTheCInterfaceAndRefusalsLeaveTheDestination) {
    cv::Mat src(29, 37, CV_8UC3), gray, smooth, fixed, four, dx(29, 37, CV_16SC3), dy;
    cv::randu(src, 0, 256);
    IplImage s = cvIplImage(src);
    const auto same = [&](const cv::Mat& result, int type, auto call) {
        cv::Mat expected(src.size(), type);
        IplImage e = cvIplImage(expected);
        call(&e);
        return result.type() == type && cv::norm(result, expected, cv::NORM_INF) == 0;
    };
    EXPECT_EQ(convertToGray(src, gray), 0);
    EXPECT_TRUE(same(gray, CV_8UC1, [&](IplImage* e) { cvCvtColor(&s, e, CV_BGR2GRAY); }));
    EXPECT_EQ(smoothGaussian(src, smooth, 2.25), 0);
    EXPECT_TRUE(
        same(smooth, CV_8UC3, [&](IplImage* e) { cvSmooth(&s, e, CV_GAUSSIAN, 0, 0, 1.5); }));
    EXPECT_EQ(smoothGaussianFixed(src, fixed) + smoothGaussian(src, four, 4.0), 0);
    EXPECT_EQ(cv::norm(fixed, four, cv::NORM_INF), 0);
    EXPECT_EQ(sobelDerivatives(src, dx, dy), 0);
    EXPECT_TRUE(same(dx, CV_16SC3, [&](IplImage* e) { cvSobel(&s, e, 1, 0, 3); }));
    EXPECT_TRUE(same(dy, CV_8UC3, [&](IplImage* e) { cvSobel(&s, e, 0, 1, 3); }));
    const cv::Mat kept = gray.clone();
    EXPECT_EQ(convertToGray(kept, gray) + convertToGray(cv::Mat(), gray), -2);
    EXPECT_EQ(cv::norm(gray, kept, cv::NORM_INF), 0);
    for (double variance : {-1.0, double(NAN)})
        EXPECT_THROW(smoothGaussian(src, four, variance), std::invalid_argument);
    EXPECT_THROW(smoothGaussian(src, four, 0.0), cv::Exception);  // no deviation, not refused
}

TEST(Display, GridRefusalsArePrinted) {
    const auto printed = [](const std::vector<cv::Mat>& images) {
        testing::internal::CaptureStdout();
        showImageGrid("stview grid", images);
        return testing::internal::GetCapturedStdout();
    };
    const cv::Mat colour(48, 64, CV_8UC3);
    EXPECT_EQ(printed({}), "Number of arguments too small....\n");
    EXPECT_EQ(printed(std::vector<cv::Mat>(13, colour)), "Number of arguments too large....\n");
    EXPECT_EQ(printed({colour, cv::Mat()}), "Invalid arguments");
}

}  // namespace
}  // namespace stview
