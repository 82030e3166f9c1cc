#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace stview {

/// The quadrature pair of temporal filters for tau^2 (frames^2), tau = sqrt(tau^2), J =
/// floor(3 tau), j = -J .. J: even(j) = -cos(4 j / tau) exp(-j^2 / tau^2) less the mean of its
/// taps (so that still brightness gives no response), odd(j) = -sin(4 j / tau) exp(-j^2 /
/// tau^2). Index i holds j = i - J.
struct GaborTaps {
    std::vector<double> even, odd;
    int half() const { return static_cast<int>(even.size() / 2); }
};

/// @throws std::invalid_argument for a variance that is not a positive finite number.
GaborTaps gaborTaps(double tau2);

/// R = E^2 + O^2 per pixel of the even and odd responses (CV_32FC1, one size), summed in double
/// and stored as CV_32FC1 in @p response.
void gaborEnergy(const cv::Mat& even, const cv::Mat& odd, cv::Mat& response);

}  // namespace stview
