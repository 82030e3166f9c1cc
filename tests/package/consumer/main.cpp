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
        std::printf("consumer failed: centre %d, %zu points\n", centre, points.size());
        return 1;
    }
    stview::SpaceTimeDetector(cv::Size(16, 12), stview::DetectorOptions{}).finish(points);
    std::printf("consumer ok\n");
    return 0;
}
