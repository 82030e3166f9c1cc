#include "detector/hessian_response.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace stview {
namespace {

// Dx of one row, repeating its end samples: (v(x+1) - v(x-1)) / 2.
void centralX(const float* row, int cols, float* out) {
    for (int c = 0; c < cols; ++c) {
        const float left = row[std::max(c - 1, 0)], right = row[std::min(c + 1, cols - 1)];
        out[c] = (right - left) / 2;
    }
}

}  // namespace

void hessianResponseRows(const cv::Mat& before, const cv::Mat& current, const cv::Mat& after,
                         double sigma, double tau, int begin, int end, cv::Mat& response) {
    const int rows = current.rows, cols = current.cols;
    CV_Assert(current.type() == CV_32FC1 && before.size() == current.size() &&
              after.size() == current.size() && response.size() == current.size() &&
              response.type() == CV_32FC1 && 0 <= begin && begin <= end && end <= rows);
    const double s2 = sigma * sigma, t2 = tau * tau, st = sigma * tau;
    // Dx L of the rows above and below (for Lxy), and of the frames before and after (Lxt).
    std::vector<float> dxUp(cols), dxDown(cols), dxBefore(cols), dxAfter(cols);
    for (int r = begin; r < end; ++r) {
        const int up = std::max(r - 1, 0), down = std::min(r + 1, rows - 1);
        const float* l = current.ptr<float>(r);
        const float* lUp = current.ptr<float>(up);
        const float* lDown = current.ptr<float>(down);
        const float* lBefore = before.ptr<float>(r);
        const float* lAfter = after.ptr<float>(r);
        // Dy L of the frames before and after (for Lyt).
        const float* upBefore = before.ptr<float>(up);
        const float* downBefore = before.ptr<float>(down);
        const float* upAfter = after.ptr<float>(up);
        const float* downAfter = after.ptr<float>(down);
        centralX(lUp, cols, dxUp.data());
        centralX(lDown, cols, dxDown.data());
        centralX(lBefore, cols, dxBefore.data());
        centralX(lAfter, cols, dxAfter.data());
        float* out = response.ptr<float>(r);
        for (int c = 0; c < cols; ++c) {
            const int left = std::max(c - 1, 0), right = std::min(c + 1, cols - 1);
            const float lxx = l[right] - 2 * l[c] + l[left];
            const float lyy = lDown[c] - 2 * l[c] + lUp[c];
            const float ltt = lAfter[c] - 2 * l[c] + lBefore[c];
            const float lxy = (dxDown[c] - dxUp[c]) / 2;
            const float lxt = (dxAfter[c] - dxBefore[c]) / 2;
            const float dyBefore = (downBefore[c] - upBefore[c]) / 2;
            const float dyAfter = (downAfter[c] - upAfter[c]) / 2;
            const float lyt = (dyAfter - dyBefore) / 2;
            const double a = s2 * lxx, b = s2 * lyy, t = t2 * ltt, d = s2 * lxy, e = st * lxt,
                         f = st * lyt;
            const double det = a * (b * t - f * f) - d * (d * t - f * e) + e * (d * f - b * e);
            out[c] = static_cast<float>(std::abs(det));
        }
    }
}

}  // namespace stview
