// A user of the installed library: the umbrella header, one frame buffer, one kernel, and
// the detector over a few frames.
#include <cstdio>

#include "stview.hpp"

int main() {
    stview::FrameBuffer buffer(3);
    for (int i = 0; i < 3; ++i)
        buffer.AddFrame(cv::Mat(4, 5, CV_32FC1, cv::Scalar(float(i == 1 ? 8 : 1))));
    cv::Mat smoothed;
    const int centre = buffer.ConvolveTime(smoothed, stview::makeGaussianKernel(1.0, 3, 0));
    stview::FeatureList points;
    buffer.FindLocalMaxima(points, true);
    if (centre != 1 || smoothed.rows != 4 || smoothed.cols != 5 || !points.empty()) {
        std::printf("consumer failed: centre %d, %d x %d, %zu points\n", centre, smoothed.rows,
                    smoothed.cols, points.size());
        return 1;
    }
    stview::SpaceTimeDetector detector(cv::Size(16, 12), stview::DetectorOptions{});
    for (int t = 0; t < 5; ++t)
        detector.addFrame(cv::Mat(12, 16, CV_8UC1, cv::Scalar(t * 9)), points);
    detector.finish(points);
    if (!points.empty()) {
        std::printf("consumer failed: %zu points in flat frames\n", points.size());
        return 1;
    }
    std::printf("consumer ok\n");
    return 0;
}
