// Writes to standard output the pixels stview's overlay draws for one frame of a features
// file on a black BGR canvas: overlay_helper FEATURES WIDTH HEIGHT FRAME.
#include <cstdio>
#include <cstdlib>

#include "features/features_file.hpp"
#include "viewer/overlay.hpp"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    cv::Mat canvas = cv::Mat::zeros(std::atoi(argv[3]), std::atoi(argv[2]), CV_8UC3);
    stview::drawFeatures(stview::loadFeatures(argv[1]), canvas, std::atoi(argv[4]));
    std::fwrite(canvas.data, 1, canvas.total() * canvas.elemSize(), stdout);
    return 0;
}
