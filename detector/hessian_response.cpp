#include "detector/hessian_response.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace stview {
namespace {

// Dx of one row, repeating its end samples: (v(x+1) - v(x-1)) / 2.
void centralX(const float* row, int cols, float* out) {
    if (cols == 1) {
        out[0] = 0;
        return;
    }
    out[0] = (row[1] - row[0]) / 2;
    for (int c = 1; c + 1 < cols; ++c) out[c] = (row[c + 1] - row[c - 1]) / 2;
    out[cols - 1] = (row[cols - 1] - row[cols - 2]) / 2;
}

// The rows of one output row: L at the row, above and below it, and at the frames before and
// after; Dx L of the rows above and below and of the frames before and after.
struct HessianRows {
    const float *l, *up, *down, *before, *after, *upBefore, *downBefore, *upAfter, *downAfter;
    const float *dxUp, *dxDown, *dxBefore, *dxAfter;
};

// |det| at the columns [begin, end) whose neighbours along x are c - 1 and c + 1, and at the
// column @p edge with those neighbours clamped to the row (begin = end for the edges alone).
// Written as one loop of plain arrays so that it vectorises (no contraction, so every width
// gives the same floats).
__attribute__((target_clones("avx512f", "avx2", "default"))) void hessianColumns(
    const HessianRows& in, int begin, int end, double s2, double t2, double st,
    float* __restrict out) {
    const float* __restrict l = in.l;
    const float* __restrict up = in.up;
    const float* __restrict down = in.down;
    const float* __restrict before = in.before;
    const float* __restrict after = in.after;
    const float* __restrict upBefore = in.upBefore;
    const float* __restrict downBefore = in.downBefore;
    const float* __restrict upAfter = in.upAfter;
    const float* __restrict downAfter = in.downAfter;
    const float* __restrict dxUp = in.dxUp;
    const float* __restrict dxDown = in.dxDown;
    const float* __restrict dxBefore = in.dxBefore;
    const float* __restrict dxAfter = in.dxAfter;
    const float* __restrict left = in.l - 1;
    const float* __restrict right = in.l + 1;
    for (int c = begin; c < end; ++c) {
        const float lxx = right[c] - 2 * l[c] + left[c];
        const float lyy = down[c] - 2 * l[c] + up[c];
        const float ltt = after[c] - 2 * l[c] + before[c];
        const float lxy = (dxDown[c] - dxUp[c]) / 2;
        const float lxt = (dxAfter[c] - dxBefore[c]) / 2;
        const float lyt = ((downAfter[c] - upAfter[c]) / 2 - (downBefore[c] - upBefore[c]) / 2) / 2;
        const double a = s2 * lxx, b = s2 * lyy, t = t2 * ltt, d = s2 * lxy, e = st * lxt,
                     f = st * lyt;
        const double det = a * (b * t - f * f) - d * (d * t - f * e) + e * (d * f - b * e);
        out[c] = static_cast<float>(std::abs(det));
    }
}

// One output row: the inner columns at once, the two edge columns through a copy of their
// row padded by its end samples.
void hessianRow(const HessianRows& in, int cols, double s2, double t2, double st, float* out) {
    if (cols > 2) hessianColumns(in, 1, cols - 1, s2, t2, st, out);
    for (int edge : {0, cols - 1}) {
        if (edge == cols - 1 && cols == 1) break;
        const float* row = in.l;
        float padded[3] = {row[std::max(edge - 1, 0)], row[edge],
                           row[std::min(edge + 1, cols - 1)]};
        HessianRows at = in;
        const auto shift = [edge](const float* p) { return p + edge; };
        at.l = padded + 1;
        for (const float** p :
             {&at.up, &at.down, &at.before, &at.after, &at.upBefore, &at.downBefore, &at.upAfter,
              &at.downAfter, &at.dxUp, &at.dxDown, &at.dxBefore, &at.dxAfter})
            *p = shift(*p);
        hessianColumns(at, 0, 1, s2, t2, st, out + edge);
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
    std::vector<float> dx(4 * static_cast<std::size_t>(cols));
    for (int r = begin; r < end; ++r) {
        const int up = std::max(r - 1, 0), down = std::min(r + 1, rows - 1);
        HessianRows in{current.ptr<float>(r),    current.ptr<float>(up),
                       current.ptr<float>(down), before.ptr<float>(r),
                       after.ptr<float>(r),      before.ptr<float>(up),
                       before.ptr<float>(down),  after.ptr<float>(up),
                       after.ptr<float>(down),   dx.data(),
                       dx.data() + cols,         dx.data() + 2 * cols,
                       dx.data() + 3 * cols};
        centralX(in.up, cols, dx.data());
        centralX(in.down, cols, dx.data() + cols);
        centralX(in.before, cols, dx.data() + 2 * cols);
        centralX(in.after, cols, dx.data() + 3 * cols);
        hessianRow(in, cols, s2, t2, st, response.ptr<float>(r));
    }
}

}  // namespace stview
