#include "imaging/image_wrappers.hpp"

#include <opencv2/highgui.hpp>

namespace stview {

void showNormalized(const std::string& windowName, cv::Mat& image) {
    cv::normalize(image, image, 1.0, 0.0, cv::NORM_MINMAX);
    cv::imshow(windowName, image);
}

}  // namespace stview
