#include "detector/gabor_response.hpp"

#include <cmath>
#include <numeric>
#include <stdexcept>

#include "imaging/gaussian_kernel.hpp"

namespace stview {

GaborTaps gaborTaps(double tau2) {
    if (!(tau2 > 0) || !std::isfinite(tau2)) {
        throw std::invalid_argument("gaborTaps: temporal variance is not a positive number");
    }
    const double tau = std::sqrt(tau2);
    // The Gaussian's half length, so that the filters reach as far as g(tau^2) does.
    const int half = static_cast<int>(makeGaussianKernel(tau2, 0, 3).size() / 2);
    GaborTaps taps;
    for (int j = -half; j <= half; ++j) {
        const double envelope = std::exp(-static_cast<double>(j) * j / tau2);
        taps.even.push_back(-std::cos(4.0 * j / tau) * envelope);
        taps.odd.push_back(-std::sin(4.0 * j / tau) * envelope);
    }
    const double mean = std::accumulate(taps.even.begin(), taps.even.end(), 0.0) /
                        static_cast<double>(taps.even.size());
    for (double& tap : taps.even) tap -= mean;
    return taps;
}

void gaborEnergy(const cv::Mat& even, const cv::Mat& odd, cv::Mat& response) {
    CV_Assert(even.type() == CV_32FC1 && odd.type() == CV_32FC1 && even.size() == odd.size());
    response.create(even.size(), CV_32FC1);
    for (int r = 0; r < even.rows; ++r) {
        const float* e = even.ptr<float>(r);
        const float* o = odd.ptr<float>(r);
        float* out = response.ptr<float>(r);
        for (int c = 0; c < even.cols; ++c) {
            const double a = e[c], b = o[c];
            out[c] = static_cast<float>(a * a + b * b);
        }
    }
}

}  // namespace stview
