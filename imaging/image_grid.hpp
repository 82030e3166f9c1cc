#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace stview {

/// Grid for a number of images: columns x rows square cells of `cellSide` pixels, 20-pixel
/// margins at the left and top and 20-pixel gaps. All zero for counts outside 2..12.
struct GridLayout {
    int columns = 0;
    int rows = 0;
    int cellSide = 0;
    cv::Size canvasSize;
};

GridLayout gridLayoutFor(int count);

/**
 * @brief Where an image lands in a cell whose top-left corner is `corner`: its larger side
 * scaled to `cellSide` with a single-precision scale, both sides truncated, so a 640 x 480
 * image covers 299 x 224 pixels of a 300-pixel cell.
 * @param imageSize positive width and height.
 */
cv::Rect gridTargetRect(cv::Size imageSize, int cellSide, cv::Point corner);

enum class GridOutcome {
    Composed,   ///< the canvas holds the images
    Single,     ///< one image: the "canvas" is that image itself, unscaled
    TooFew,     ///< no image
    TooMany,    ///< more than 12 images
    NullImage,  ///< an empty cv::Mat came before the grid was complete
};

/**
 * @brief Lays out up to twelve images, in order, row by row on a black CV_8UC3 canvas.
 *
 * Each image sits at the top-left corner of its cell with its aspect ratio kept (bilinear
 * resize). An image whose shorter side scales to zero pixels leaves its cell black. Images
 * after the first empty one are not looked at.
 *
 * @param images CV_8UC3 two-dimensional images; an empty cv::Mat is a null image. With a
 *        single image, no format is required.
 * @param canvas receives the canvas, or the single image, or an empty Mat when refused.
 * @throws cv::Exception (StsUnsupportedFormat) for an image of another type, naming its
 *         position and type, when two or more images are given.
 */
GridOutcome composeImageGrid(const std::vector<cv::Mat>& images, cv::Mat& canvas);

/// The canvas of composeImageGrid above; an empty Mat when refused.
cv::Mat composeImageGrid(const std::vector<cv::Mat>& images);

/**
 * @brief Shows composeImageGrid's canvas in the named window (a single image unscaled).
 *
 * Prints to standard output, showing nothing: "Number of arguments too small....\n" for no
 * image, "Number of arguments too large....\n" for more than 12, and "Invalid arguments"
 * (no line end) when a null image comes up. Needs a display (or QT_QPA_PLATFORM=offscreen).
 */
void showImageGrid(const std::string& windowName, const std::vector<cv::Mat>& images);

}  // namespace stview
