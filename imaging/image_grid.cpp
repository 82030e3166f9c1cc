#include "imaging/image_grid.hpp"

#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

constexpr int kGap = 20;
constexpr int kMaxImages = 12;

}  // namespace

GridLayout gridLayoutFor(int count) {
    GridLayout layout;
    if (count < 2 || count > kMaxImages) {
        return layout;
    }
    if (count == 2) {
        layout = {2, 1, 300, {}};
    } else if (count <= 4) {
        layout = {2, 2, 300, {}};
    } else if (count <= 6) {
        layout = {3, 2, 200, {}};
    } else if (count <= 8) {
        layout = {4, 2, 200, {}};
    } else {
        layout = {4, 3, 150, {}};
    }
    layout.canvasSize = {100 + layout.cellSide * layout.columns,
                         60 + layout.cellSide * layout.rows};
    return layout;
}

cv::Rect gridTargetRect(cv::Size imageSize, int cellSide, cv::Point corner) {
    const int larger = imageSize.width > imageSize.height ? imageSize.width : imageSize.height;
    const float scale = static_cast<float>(static_cast<double>(larger) / cellSide);
    const int width = static_cast<int>(imageSize.width / static_cast<double>(scale));
    const int height = static_cast<int>(imageSize.height / static_cast<double>(scale));
    return {corner.x, corner.y, width, height};
}

GridOutcome composeImageGrid(const std::vector<cv::Mat>& images, cv::Mat& canvas) {
    if (images.size() == 1) {
        canvas = images.front();
        return GridOutcome::Single;
    }
    canvas.release();
    if (images.empty()) {
        return GridOutcome::TooFew;
    }
    if (images.size() > static_cast<std::size_t>(kMaxImages)) {
        return GridOutcome::TooMany;
    }

    const int count = static_cast<int>(images.size());
    const GridLayout layout = gridLayoutFor(count);
    cv::Mat grid = cv::Mat::zeros(layout.canvasSize, CV_8UC3);
    const int step = layout.cellSide + kGap;
    cv::Point cursor(kGap, kGap);
    for (int i = 0; i < count; ++i) {
        const cv::Mat& image = images[i];
        if (image.empty()) {
            return GridOutcome::NullImage;
        }
        if (image.type() != CV_8UC3 || image.dims != 2) {
            CV_Error(cv::Error::StsUnsupportedFormat,
                     cv::format("image grid: image %d is %s, expected a two-dimensional CV_8UC3", i,
                                cv::typeToString(image.type()).c_str()));
        }
        if (i % layout.columns == 0 && cursor.x != kGap) {
            cursor.y += step;
            cursor.x = kGap;
        }
        const cv::Rect target = gridTargetRect(image.size(), layout.cellSide, cursor);
        if (!target.empty()) {
            cv::Mat cell = grid(target);
            cv::resize(image, cell, target.size(), 0.0, 0.0, cv::INTER_LINEAR);
        }
        cursor.x += step;
    }
    canvas = grid;
    return GridOutcome::Composed;
}

cv::Mat composeImageGrid(const std::vector<cv::Mat>& images) {
    cv::Mat canvas;
    composeImageGrid(images, canvas);
    return canvas;
}

}  // namespace stview
