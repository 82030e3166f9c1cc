#include "detector/scale_space.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/gaussian_kernel.hpp"

namespace stview {

cv::Mat gaussianTaps(double variance) {
    const std::vector<double> taps = makeGaussianKernel(variance, 0, 3);
    cv::Mat column;
    cv::Mat(taps, true).convertTo(column, CV_32F);
    return column;
}

void smoothSpace(const cv::Mat& src, cv::Mat& dst, const cv::Mat& taps) {
    cv::sepFilter2D(src, dst, CV_32F, taps, taps, cv::Point(-1, -1), 0.0, cv::BORDER_REPLICATE);
}

void gradientProducts(const cv::Mat& before, const cv::Mat& current, const cv::Mat& after,
                      double sigma, double tau, GradientProducts& products) {
    const int rows = current.rows;
    const int cols = current.cols;
    for (cv::Mat& product : products) product.create(rows, cols, CV_32FC1);
    const float halfSigma = static_cast<float>(sigma / 2.0);
    const float halfTau = static_cast<float>(tau / 2.0);
    for (int r = 0; r < rows; ++r) {
        const float* up = current.ptr<float>(r > 0 ? r - 1 : 0);
        const float* row = current.ptr<float>(r);
        const float* down = current.ptr<float>(r + 1 < rows ? r + 1 : rows - 1);
        const float* previous = before.ptr<float>(r);
        const float* next = after.ptr<float>(r);
        float* out[6];
        for (int i = 0; i < 6; ++i) out[i] = products[i].ptr<float>(r);
        for (int c = 0; c < cols; ++c) {
            const float left = row[c > 0 ? c - 1 : 0];
            const float right = row[c + 1 < cols ? c + 1 : cols - 1];
            const float lx = halfSigma * (right - left);
            const float ly = halfSigma * (down[c] - up[c]);
            const float lt = halfTau * (next[c] - previous[c]);
            out[0][c] = lx * lx;
            out[1][c] = ly * ly;
            out[2][c] = lt * lt;
            out[3][c] = lx * ly;
            out[4][c] = lx * lt;
            out[5][c] = ly * lt;
        }
    }
}

void cornerResponse(const GradientProducts& mu, double k, cv::Mat& response) {
    const int rows = mu[0].rows;
    const int cols = mu[0].cols;
    response.create(rows, cols, CV_32FC1);
    for (int r = 0; r < rows; ++r) {
        const float* xx = mu[0].ptr<float>(r);
        const float* yy = mu[1].ptr<float>(r);
        const float* tt = mu[2].ptr<float>(r);
        const float* xy = mu[3].ptr<float>(r);
        const float* xt = mu[4].ptr<float>(r);
        const float* yt = mu[5].ptr<float>(r);
        float* out = response.ptr<float>(r);
        for (int c = 0; c < cols; ++c) {
            const double a = xx[c], b = yy[c], t = tt[c], d = xy[c], e = xt[c], f = yt[c];
            const double det = a * (b * t - f * f) - d * (d * t - f * e) + e * (d * f - b * e);
            const double trace = a + b + t;
            out[c] = static_cast<float>(det - k * trace * trace * trace);
        }
    }
}

void greyFloat(const cv::Mat& frame, cv::Mat& grey8, cv::Mat& grey) {
    switch (frame.type()) {
        case CV_8UC3:
            cv::cvtColor(frame, grey8, cv::COLOR_BGR2GRAY);
            break;
        case CV_8UC4:
            cv::cvtColor(frame, grey8, cv::COLOR_BGRA2GRAY);
            break;
        case CV_8UC1:
            frame.copyTo(grey8);
            break;
        default:
            throw std::invalid_argument("frame of type " + cv::typeToString(frame.type()) +
                                        ": 8-bit BGR, BGRA or grey expected");
    }
    grey8.convertTo(grey, CV_32F, 1.0 / 255);
}

}  // namespace stview
