#include "imaging/image_grid.hpp"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

namespace stview {
namespace {

TEST(ImageGrid, LayoutTable) {
    // count, columns, rows, cell side, canvas width and height
    const cv::Vec6i table[] = {
        {2, 2, 1, 300, 700, 360}, {3, 2, 2, 300, 700, 660}, {4, 2, 2, 300, 700, 660},
        {5, 3, 2, 200, 700, 460}, {6, 3, 2, 200, 700, 460}, {7, 4, 2, 200, 900, 460},
        {8, 4, 2, 200, 900, 460}, {9, 4, 3, 150, 700, 510}, {12, 4, 3, 150, 700, 510},
        {-3, 0, 0, 0, 0, 0},      {0, 0, 0, 0, 0, 0},       {1, 0, 0, 0, 0, 0},
        {13, 0, 0, 0, 0, 0}};
    for (const cv::Vec6i& row : table) {
        const GridLayout l = gridLayoutFor(row[0]);
        const cv::Size canvas = l.canvasSize;
        EXPECT_EQ(cv::Vec6i(row[0], l.columns, l.rows, l.cellSide, canvas.width, canvas.height),
                  row);
    }
}

// Random images of the given sizes must land in the given rectangles, resized as cvResize
// does, on an otherwise black canvas; an empty rectangle leaves its cell black.
void expectCanvas(const std::vector<cv::Size>& sizes, cv::Size canvasSize,
                  const std::vector<cv::Rect>& targets) {
    std::vector<cv::Mat> images;
    cv::Mat expected = cv::Mat::zeros(canvasSize, CV_8UC3);
    IplImage canvasHeader = cvIplImage(expected);
    cv::RNG rng(11);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        images.emplace_back(sizes[i], CV_8UC3);
        rng.fill(images.back(), cv::RNG::UNIFORM, 1, 256);
        if (targets[i].empty()) continue;
        IplImage imageHeader = cvIplImage(images.back());
        cvSetImageROI(&canvasHeader, cvRect(targets[i]));
        cvResize(&imageHeader, &canvasHeader, CV_INTER_LINEAR);
        cvResetImageROI(&canvasHeader);
    }
    cv::Mat canvas;
    ASSERT_EQ(composeImageGrid(images, canvas), GridOutcome::Composed);
    ASSERT_EQ(canvas.size(), canvasSize);
    EXPECT_EQ(cv::norm(canvas, expected, cv::NORM_INF), 0.0);
}

TEST(ImageGrid, CellsRowByRowLikeCvResize) {
    // Single-precision scale, both sides truncated: 640 x 480 covers 299 x 224 of 300.
    expectCanvas({{640, 480}, {480, 640}}, {700, 360}, {{20, 20, 299, 224}, {340, 20, 224, 299}});
    expectCanvas(
        {{640, 480}, {480, 640}, {176, 144}, {600, 400}, {320, 240}}, {700, 460},
        {cv::Rect(20, 20, 199, 149), cv::Rect(240, 20, 149, 199), cv::Rect(460, 20, 200, 163),
         cv::Rect(20, 240, 200, 133), cv::Rect(240, 240, 199, 149)});
    std::vector<cv::Size> sizes(12, {150, 150});  // the last row ends at the bottom edge
    std::vector<cv::Rect> twelve;
    for (int i = 0; i < 12; ++i) twelve.emplace_back(20 + i % 4 * 170, 20 + i / 4 * 170, 150, 150);
    sizes[0] = {640, 480}, twelve[0].width = 149, twelve[0].height = 112;
    sizes[1] = {100, 100}, twelve[1].width = twelve[1].height = 149;
    expectCanvas(sizes, {700, 510}, twelve);
    expectCanvas({{100, 100}, {176, 144}, {1, 1}}, {700, 660},
                 {{20, 20, 299, 299}, {340, 20, 300, 245}, {20, 340, 299, 299}});
    // An image scaled to zero rows leaves its cell black.
    expectCanvas({{1000, 2}, {1000, 4}, {3, 3}}, {700, 660},
                 {{20, 20, 300, 0}, {340, 20, 300, 1}, {20, 340, 300, 300}});
}

TEST(ImageGrid, SingleImageOrRefusals) {
    const cv::Mat image(20, 10, CV_8UC3, cv::Scalar(1, 2, 3));
    const std::pair<std::vector<cv::Mat>, GridOutcome> cases[] = {
        {{}, GridOutcome::TooFew},
        {std::vector<cv::Mat>(13, image), GridOutcome::TooMany},
        // The fourth image would be rejected if it were looked at.
        {{image, image, cv::Mat(), cv::Mat(4, 4, CV_32FC1)}, GridOutcome::NullImage}};
    for (const auto& [images, outcome] : cases) {
        cv::Mat canvas = image.clone();
        EXPECT_EQ(composeImageGrid(images, canvas), outcome);
        EXPECT_TRUE(canvas.empty());
    }
    const cv::Mat single(3, 5, CV_32FC1, cv::Scalar(0.5));  // any format, not copied
    cv::Mat canvas;
    EXPECT_EQ(composeImageGrid({single}, canvas), GridOutcome::Single);
    EXPECT_EQ(canvas.data, single.data);
    try {
        composeImageGrid({image, cv::Mat(4, 4, CV_8UC1)});
        ADD_FAILURE() << "a grey image was accepted";
    } catch (const cv::Exception& error) {
        EXPECT_NE(error.err.find("image 1 is CV_8UC1"), std::string::npos) << error.err;
    }
}

}  // namespace
}  // namespace stview
