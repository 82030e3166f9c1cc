#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace stview {

// Everyday image chores with the library's fixed arguments. Output matrices may be passed
// empty; they are then allocated with create(), and a caller's matrix of the type and size
// OpenCV would create is written in place. Filtering borders replicate the edge pixels.

/**
 * @brief Stretches the image in place to the range [0, 1] (minimum to 0, maximum to 1) and
 * shows it in the named window.
 * @param image any depth and channel count cv::normalize accepts; keeps its type and keeps
 *        the normalised values afterwards. Integer depths round to 0 or 1.
 * Needs a display (or QT_QPA_PLATFORM=offscreen); OpenCV throws cv::Exception for an empty
 * image.
 */
void showNormalized(const std::string& windowName, cv::Mat& image);

/**
 * @brief Draws a red (BGR 0,0,255) cross of four one-pixel arms, each covering the axis
 * positions at distances 2 through `size` from (x, y); the centre and its four direct
 * neighbours stay untouched for `size` >= 2.
 * @param image drawn into; any depth, 1 to 4 channels (a one-channel image gets value 0).
 * Arms leaving the image are clipped. A size below 2 draws each arm back from distance 2
 * towards the centre (size 0 reaches the centre pixel).
 */
void drawCrossMarker(cv::Mat& image, int x, int y, int size);

/**
 * @brief Converts a BGR (or BGRA) image to one grey channel.
 * @param src 3 or 4 channels, depth CV_8U, CV_16U or CV_32F.
 * @param dst receives height x width, one channel, the source's depth.
 * @return 0 when converted; -1, with `dst` left untouched, when `src` is empty (a null image)
 *         or has fewer than 3 channels. A C++ destination cannot be null: an empty `dst` is
 *         allocated. Other rejected formats raise cv::Exception.
 */
int convertToGray(const cv::Mat& src, cv::Mat& dst);

/**
 * @brief Gaussian smoothing with standard deviation sqrt(variance) in x and y; the kernel
 * width is derived from the deviation.
 * @param src any depth and channel count cv::GaussianBlur accepts.
 * @param dst receives the source's size and type.
 * @return 0.
 * @throws std::invalid_argument for a negative or NaN variance; a zero variance is rejected
 *         by OpenCV with cv::Exception.
 */
int smoothGaussian(const cv::Mat& src, cv::Mat& dst, double variance);

/**
 * @brief Gaussian smoothing with standard deviation 2 (variance 4); see smoothGaussian.
 * @return 0.
 */
int smoothGaussianFixed(const cv::Mat& src, cv::Mat& dst);

/**
 * @brief First derivatives in x and in y with the 3 x 3 Sobel operator.
 * @param src one or more channels, any depth cv::Sobel accepts.
 * @param dx,dy receive the source's size and channel count. A non-empty matrix keeps its
 *        depth (for example CV_16S or CV_32F for an 8-bit source); an empty one gets the
 *        source's depth (an 8-bit result saturates negative slopes to 0).
 * @return 0. Unsupported depth combinations raise cv::Exception.
 */
int sobelDerivatives(const cv::Mat& src, cv::Mat& dx, cv::Mat& dy);

}  // namespace stview
