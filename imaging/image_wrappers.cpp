#include "imaging/image_wrappers.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

// Axis-aligned arm ends beyond the int range are clamped, which keeps the visible part.
int offset(int coordinate, std::int64_t distance) {
    const std::int64_t end = coordinate + distance;
    return static_cast<int>(std::clamp<std::int64_t>(end, INT_MIN, INT_MAX));
}

void smoothWithDeviation(const cv::Mat& src, cv::Mat& dst, double deviation) {
    cv::GaussianBlur(src, dst, cv::Size(0, 0), deviation, 0.0, cv::BORDER_REPLICATE);
}

void sobel(const cv::Mat& src, cv::Mat& dst, int xOrder, int yOrder) {
    const int depth = dst.empty() ? -1 : dst.depth();
    cv::Sobel(src, dst, depth, xOrder, yOrder, 3, 1.0, 0.0, cv::BORDER_REPLICATE);
}

}  // namespace

void drawCrossMarker(cv::Mat& image, int x, int y, int size) {
    const cv::Scalar red(0, 0, 255, 0);
    const auto arm = [&](cv::Point from, cv::Point to) {
        cv::line(image, from, to, red, 1, cv::LINE_8, 0);
    };
    const std::int64_t s = size;
    arm({x, offset(y, 2)}, {x, offset(y, s)});
    arm({offset(x, 2), y}, {offset(x, s), y});
    arm({x, offset(y, -2)}, {x, offset(y, -s)});
    arm({offset(x, -2), y}, {offset(x, -s), y});
}

int convertToGray(const cv::Mat& src, cv::Mat& dst) {
    if (src.empty() || src.channels() < 3) {
        return -1;
    }
    cv::cvtColor(src, dst, cv::COLOR_BGR2GRAY);
    return 0;
}

int smoothGaussian(const cv::Mat& src, cv::Mat& dst, double variance) {
    if (variance < 0.0 || std::isnan(variance)) {
        char value[32];
        std::snprintf(value, sizeof value, "%.17g", variance);
        throw std::invalid_argument(std::string("smoothGaussian: negative or NaN variance ") +
                                    value);
    }
    smoothWithDeviation(src, dst, std::sqrt(variance));
    return 0;
}

int smoothGaussianFixed(const cv::Mat& src, cv::Mat& dst) {
    smoothWithDeviation(src, dst, 2.0);
    return 0;
}

int sobelDerivatives(const cv::Mat& src, cv::Mat& dx, cv::Mat& dy) {
    sobel(src, dx, 1, 0);
    sobel(src, dy, 0, 1);
    return 0;
}

}  // namespace stview
