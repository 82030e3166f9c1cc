#include "imaging/image_grid.hpp"

#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>
#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

TEST(ImageGrid, LayoutTable) {
    struct Row {
        int count, columns, rows, cell, width, height;
    };
    const Row table[] = {
        {2, 2, 1, 300, 700, 360}, {3, 2, 2, 300, 700, 660}, {4, 2, 2, 300, 700, 660},
        {5, 3, 2, 200, 700, 460}, {6, 3, 2, 200, 700, 460}, {7, 4, 2, 200, 900, 460},
        {8, 4, 2, 200, 900, 460}, {9, 4, 3, 150, 700, 510}, {12, 4, 3, 150, 700, 510}};
    for (const Row& row : table) {
        const GridLayout layout = gridLayoutFor(row.count);
        EXPECT_EQ(layout.columns, row.columns) << row.count;
        EXPECT_EQ(layout.rows, row.rows) << row.count;
        EXPECT_EQ(layout.cellSide, row.cell) << row.count;
        EXPECT_EQ(layout.canvasSize, cv::Size(row.width, row.height)) << row.count;
    }
    for (int count : {-3, 0, 1, 13}) {
        EXPECT_EQ(gridLayoutFor(count).columns, 0) << count;
    }
}

TEST(ImageGrid, SinglePrecisionScaleAndTruncation) {
    const cv::Point corner(20, 40);
    EXPECT_EQ(gridTargetRect({640, 480}, 300, corner), cv::Rect(20, 40, 299, 224));
    EXPECT_EQ(gridTargetRect({640, 480}, 200, corner), cv::Rect(20, 40, 199, 149));
    EXPECT_EQ(gridTargetRect({640, 480}, 150, corner), cv::Rect(20, 40, 149, 112));
    EXPECT_EQ(gridTargetRect({480, 640}, 300, corner), cv::Rect(20, 40, 224, 299));
    EXPECT_EQ(gridTargetRect({600, 400}, 300, corner), cv::Rect(20, 40, 300, 200));
    EXPECT_EQ(gridTargetRect({176, 144}, 300, corner), cv::Rect(20, 40, 300, 245));
    EXPECT_EQ(gridTargetRect({100, 100}, 150, corner), cv::Rect(20, 40, 149, 149));
}

cv::Mat uniform(cv::Size size, int index) {
    return cv::Mat(size, CV_8UC3, cv::Scalar(index + 1, 255 - index, 100));
}

// Bounding box of the canvas pixels that carry the colour of uniform(_, index).
cv::Rect footprint(const cv::Mat& canvas, int index) {
    const cv::Scalar colour(index + 1, 255 - index, 100);
    cv::Mat mask;
    cv::inRange(canvas, colour, colour, mask);
    std::vector<cv::Point> points;
    cv::findNonZero(mask, points);
    EXPECT_EQ(static_cast<int>(points.size()), cv::boundingRect(points).area()) << index;
    return cv::boundingRect(points);
}

std::vector<cv::Rect> footprints(const std::vector<cv::Mat>& images, cv::Size canvasSize) {
    const cv::Mat canvas = composeImageGrid(images);
    EXPECT_EQ(canvas.type(), CV_8UC3);
    EXPECT_EQ(canvas.size(), canvasSize);
    std::vector<cv::Rect> rects;
    int covered = 0;
    for (std::size_t i = 0; i < images.size(); ++i) {
        rects.push_back(footprint(canvas, static_cast<int>(i)));
        covered += rects.back().area();
    }
    std::vector<cv::Mat> channels;
    cv::split(canvas, channels);
    EXPECT_EQ(cv::countNonZero(channels[2]), covered) << "the rest of the canvas is black";
    return rects;
}

TEST(ImageGrid, CellsRowByRow) {
    EXPECT_EQ(footprints({uniform({600, 400}, 0), uniform({400, 600}, 1)}, {700, 360}),
              (std::vector<cv::Rect>{{20, 20, 300, 200}, {340, 20, 200, 300}}));

    std::vector<cv::Mat> five;
    for (int i = 0; i < 5; ++i) five.push_back(uniform({200, 200}, i));
    EXPECT_EQ(footprints(five, {700, 460}), (std::vector<cv::Rect>{{20, 20, 200, 200},
                                                                   {240, 20, 200, 200},
                                                                   {460, 20, 200, 200},
                                                                   {20, 240, 200, 200},
                                                                   {240, 240, 200, 200}}));

    std::vector<cv::Mat> twelve;
    for (int i = 0; i < 12; ++i) twelve.push_back(uniform({150, 150}, i));
    const std::vector<cv::Rect> cells = footprints(twelve, {700, 510});
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(cells[i], cv::Rect(20 + i % 4 * 170, 20 + i / 4 * 170, 150, 150)) << i;
    }
    EXPECT_EQ(cells[11].br().y, 510);

    EXPECT_EQ(
        footprints({uniform({100, 100}, 0), uniform({176, 144}, 1), uniform({1, 1}, 2)},
                   {700, 660}),
        (std::vector<cv::Rect>{{20, 20, 299, 299}, {340, 20, 300, 245}, {20, 340, 299, 299}}));
}

TEST(ImageGrid, ResizedLikeCvResizeIntoTheRegion) {
    const cv::Size sizes[] = {{640, 480}, {480, 640}, {176, 144}, {600, 400}, {320, 240}};
    const cv::Rect targets[] = {{20, 20, 199, 149},
                                {240, 20, 149, 199},
                                {460, 20, 200, 163},
                                {20, 240, 200, 133},
                                {240, 240, 199, 149}};
    std::vector<cv::Mat> images;
    cv::Mat expected = cv::Mat::zeros(460, 700, CV_8UC3);
    IplImage canvasHeader = cvIplImage(expected);
    cv::RNG rng(11);
    for (int i = 0; i < 5; ++i) {
        images.emplace_back(sizes[i], CV_8UC3);
        rng.fill(images.back(), cv::RNG::UNIFORM, 0, 256);
        IplImage imageHeader = cvIplImage(images.back());
        cvSetImageROI(&canvasHeader,
                      cvRect(targets[i].x, targets[i].y, targets[i].width, targets[i].height));
        cvResize(&imageHeader, &canvasHeader, CV_INTER_LINEAR);
        cvResetImageROI(&canvasHeader);
    }
    const cv::Mat canvas = composeImageGrid(images);
    ASSERT_EQ(canvas.size(), expected.size());
    EXPECT_EQ(cv::norm(canvas, expected, cv::NORM_INF), 0.0);
}

TEST(ImageGrid, Refusals) {
    const cv::Mat image = uniform({20, 10}, 0);
    cv::Mat canvas = image.clone();
    EXPECT_EQ(composeImageGrid({}, canvas), GridOutcome::TooFew);
    EXPECT_TRUE(canvas.empty());
    EXPECT_EQ(composeImageGrid(std::vector<cv::Mat>(13, image), canvas), GridOutcome::TooMany);
    EXPECT_TRUE(canvas.empty());

    // The fourth image would be rejected if it were looked at.
    const std::vector<cv::Mat> withNull = {image, image, cv::Mat(), cv::Mat(4, 4, CV_32FC1)};
    EXPECT_EQ(composeImageGrid(withNull, canvas), GridOutcome::NullImage);
    EXPECT_TRUE(canvas.empty());

    try {
        composeImageGrid({image, cv::Mat(4, 4, CV_8UC1)});
        ADD_FAILURE() << "a grey image was accepted";
    } catch (const cv::Exception& error) {
        EXPECT_NE(error.err.find("image 1 is CV_8UC1"), std::string::npos) << error.err;
    }
}

TEST(ImageGrid, SingleImageIsItselfAndAnyFormat) {
    const cv::Mat image(3, 5, CV_32FC1, cv::Scalar(0.5));
    cv::Mat canvas;
    EXPECT_EQ(composeImageGrid({image}, canvas), GridOutcome::Single);
    EXPECT_EQ(canvas.data, image.data);
    EXPECT_EQ(canvas.size(), image.size());
}

TEST(ImageGrid, ImageScaledToNothingLeavesItsCellBlack) {
    EXPECT_EQ(gridTargetRect({1000, 2}, 300, {20, 20}), cv::Rect(20, 20, 300, 0));
    const std::vector<cv::Rect> cells =
        footprints({uniform({1000, 2}, 0), uniform({1000, 4}, 1), uniform({3, 3}, 2)}, {700, 660});
    EXPECT_EQ(cells[0], cv::Rect());
    EXPECT_EQ(cells[1], cv::Rect(340, 20, 300, 1));
    EXPECT_EQ(cells[2], cv::Rect(20, 340, 300, 300));
}

}  // namespace
}  // namespace stview
