#include "imaging/image_grid.hpp"

#include <cstdio>

#include <opencv2/highgui.hpp>

namespace stview {

void showImageGrid(const std::string& windowName, const std::vector<cv::Mat>& images) {
    cv::Mat canvas;
    switch (composeImageGrid(images, canvas)) {
        case GridOutcome::TooFew:
            std::printf("Number of arguments too small....\n");
            return;
        case GridOutcome::TooMany:
            std::printf("Number of arguments too large....\n");
            return;
        case GridOutcome::NullImage:
            std::printf("Invalid arguments");
            return;
        case GridOutcome::Composed:
        case GridOutcome::Single:
            cv::imshow(windowName, canvas);
            return;
    }
}

}  // namespace stview
