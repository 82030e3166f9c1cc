#include "tests/e2e/test_videos.hpp"

#include <opencv2/videoio.hpp>

namespace stview::testing_support {
namespace {

constexpr int kBits = 6;
constexpr int kBlock = 16;

}  // namespace

cv::Mat numberedFrame(int number) {
    cv::Mat frame(kVideoSize, CV_8UC3, cv::Scalar::all(110));
    for (int bit = 0; bit < kBits; ++bit) {
        const int level = (number >> bit) & 1 ? 200 : 30;
        frame(cv::Rect(bit * kBlock, 0, kBlock, kBlock)).setTo(cv::Scalar::all(level));
    }
    return frame;
}

int numberOf(const cv::Mat& frame) {
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const cv::Rect inner(bit * kBlock + 4, 4, kBlock - 8, kBlock - 8);
        if (cv::mean(frame(inner))[1] > 115) number |= 1 << bit;
    }
    return number;
}

bool writeNumberedVideo(const std::string& path, int count, double framesPerSecond) {
    cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           framesPerSecond, kVideoSize, true);
    if (!writer.isOpened()) return false;
    for (int i = 0; i < count; ++i) writer.write(numberedFrame(i));
    return true;
}

std::vector<cv::Mat> readAllFrames(const std::string& path) {
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    cv::Mat frame;
    while (capture.isOpened() && capture.read(frame)) frames.push_back(frame.clone());
    return frames;
}

}  // namespace stview::testing_support
