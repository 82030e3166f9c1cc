#include "detector/descriptors.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include <opencv2/video/tracking.hpp>

namespace stview {

namespace {

constexpr int kColumnCells = 3;
constexpr int kRowCells = 3;
constexpr int kTimeCells = 2;
constexpr int kCells = kColumnCells * kRowCells * kTimeCells;
constexpr int kHogBins = 4;
constexpr int kHofBins = 5;
constexpr int kNoMotionBin = 4;
// Accumulator slots per cell: bins beyond the histogram's own land in the spare slots, so a
// malformed vote image is reported instead of writing out of bounds.
constexpr int kSlots = 8;

std::string typeText(const cv::Mat& m) {
    return cv::typeToString(m.type()) + " " + std::to_string(m.cols) + "x" + std::to_string(m.rows);
}

// Forward difference at the edges, central difference inside, zero for a single sample; the
// samples are src[i * stride].
void differences(const float* src, float* dst, int count, std::ptrdiff_t srcStride,
                 std::ptrdiff_t dstStride) {
    if (count == 1) {
        dst[0] = 0.0f;
        return;
    }
    dst[0] = src[srcStride] - src[0];
    for (int i = 1; i + 1 < count; ++i)
        dst[i * dstStride] = (src[(i + 1) * srcStride] - src[(i - 1) * srcStride]) * 0.5f;
    dst[(count - 1) * dstStride] = src[(count - 1) * srcStride] - src[(count - 2) * srcStride];
}

// A range [a, b) of positions along an extent of `size` samples, clamped: `before` positions
// take sample 0, [lo, hi) are inside, `after` positions take sample size - 1.
struct Span {
    int before, lo, hi, after;
};

Span clampSpan(std::int64_t a, std::int64_t b, int size) {
    Span s;
    s.before = static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(b, 0) - a));
    s.lo = static_cast<int>(std::clamp<std::int64_t>(a, 0, size));
    s.hi = static_cast<int>(std::clamp<std::int64_t>(b, s.lo, size));
    s.after = static_cast<int>(std::max<std::int64_t>(0, b - std::max<std::int64_t>(a, size)));
    return s;
}

inline int slot(std::uint8_t bin) { return std::min<int>(bin, kSlots - 1); }

// Adds the votes of one row over a clamped column span to acc (kSlots entries). Two partial
// sums for even and odd columns halve the dependency chain when neighbours share a bin.
void addWeighted(const std::uint8_t* bins, const float* weights, int width, const Span& s,
                 double* acc) {
    double even[kSlots] = {};
    double odd[kSlots] = {};
    int c = s.lo;
    for (; c + 1 < s.hi; c += 2) {
        even[slot(bins[c])] += weights[c];
        odd[slot(bins[c + 1])] += weights[c + 1];
    }
    if (c < s.hi) even[slot(bins[c])] += weights[c];
    for (int k = 0; k < kSlots; ++k) acc[k] += even[k] + odd[k];
    if (s.before > 0) acc[slot(bins[0])] += s.before * static_cast<double>(weights[0]);
    if (s.after > 0)
        acc[slot(bins[width - 1])] += s.after * static_cast<double>(weights[width - 1]);
}

void addCounts(const std::uint8_t* bins, int width, const Span& s, double* acc) {
    int even[kSlots] = {};
    int odd[kSlots] = {};
    int c = s.lo;
    for (; c + 1 < s.hi; c += 2) {
        ++even[slot(bins[c])];
        ++odd[slot(bins[c + 1])];
    }
    if (c < s.hi) ++even[slot(bins[c])];
    for (int k = 0; k < kSlots; ++k) acc[k] += even[k] + odd[k];
    acc[slot(bins[0])] += s.before;
    acc[slot(bins[width - 1])] += s.after;
}

void checkVotes(const FrameVotes& v, bool flow, int t, const cv::Size& size) {
    const bool binsOk = v.bins.type() == CV_8UC1 && v.bins.size() == size && !v.bins.empty();
    const bool weightsOk =
        flow ? v.weights.empty() : v.weights.type() == CV_32FC1 && v.weights.size() == size;
    if (!binsOk || !weightsOk)
        throw std::invalid_argument(
            std::string("appendHistograms: votes of frame ") + std::to_string(t) + " (bins " +
            typeText(v.bins) + ", weights " + typeText(v.weights) + ") are not " +
            (flow ? "HOF votes (CV_8UC1 bins, no weights)"
                  : "HOG votes (CV_8UC1 bins, CV_32FC1 weights)") +
            " of size " + std::to_string(size.width) + "x" + std::to_string(size.height));
}

}  // namespace

void gradientField(const cv::Mat& grey, cv::Mat& gradient) {
    if (grey.empty() || grey.type() != CV_32FC1)
        throw std::invalid_argument("gradientField: needs a non-empty CV_32FC1 image, got " +
                                    typeText(grey));
    const int rows = grey.rows;
    const int cols = grey.cols;
    cv::Mat dy(rows, cols, CV_32FC1);
    for (int c = 0; c < cols; ++c)
        differences(grey.ptr<float>(0) + c, dy.ptr<float>(0) + c, rows,
                    static_cast<std::ptrdiff_t>(grey.step1()),
                    static_cast<std::ptrdiff_t>(dy.step1()));
    gradient.create(rows, cols, CV_32FC2);
    std::vector<float> dx(static_cast<size_t>(cols));
    for (int r = 0; r < rows; ++r) {
        differences(grey.ptr<float>(r), dx.data(), cols, 1, 1);
        const float* dyRow = dy.ptr<float>(r);
        float* out = gradient.ptr<float>(r);
        for (int c = 0; c < cols; ++c) {
            out[2 * c] = dx[c];
            out[2 * c + 1] = dyRow[c];
        }
    }
}

void flowField(const cv::Mat& a, const cv::Mat& b, cv::Mat& flow) {
    if (a.empty() || a.type() != CV_8UC1 || b.type() != CV_8UC1 || a.size() != b.size())
        throw std::invalid_argument("flowField: needs two CV_8UC1 frames of one size, got " +
                                    typeText(a) + " and " + typeText(b));
    cv::calcOpticalFlowFarneback(a, b, flow, 0.5, 3, 15, 3, 5, 1.2, 0);
}

void fieldVotes(const cv::Mat& field, bool flow, FrameVotes& votes) {
    if (field.empty() || field.type() != CV_32FC2)
        throw std::invalid_argument("fieldVotes: needs a non-empty CV_32FC2 field, got " +
                                    typeText(field));
    votes.bins.create(field.size(), CV_8UC1);
    if (flow)
        votes.weights.release();
    else
        votes.weights.create(field.size(), CV_32FC1);
    for (int r = 0; r < field.rows; ++r) {
        const float* in = field.ptr<float>(r);
        std::uint8_t* bins = votes.bins.ptr<std::uint8_t>(r);
        if (flow) {
            for (int c = 0; c < field.cols; ++c) {
                const double dx = in[2 * c];
                const double dy = in[2 * c + 1];
                // length >= 0.5 exactly when the squared length >= 0.25 (sqrt is monotonic
                // and exact at 0.25)
                bins[c] = dx * dx + dy * dy >= 0.25
                              ? static_cast<std::uint8_t>(directionBin(in[2 * c], in[2 * c + 1]))
                              : kNoMotionBin;
            }
        } else {
            float* weights = votes.weights.ptr<float>(r);
            for (int c = 0; c < field.cols; ++c) {
                const float dx = in[2 * c];
                const float dy = in[2 * c + 1];
                bins[c] = static_cast<std::uint8_t>(directionBin(dx, dy));
                weights[c] = static_cast<float>(std::sqrt(double(dx) * dx + double(dy) * dy));
            }
        }
    }
}

namespace {

std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

DescriptorBox descriptorBox(int column, int row, int frame, double sigma2, double tau2) {
    // Extents beyond this are far larger than any frame and would overflow the coordinates.
    constexpr double kMaxExtent = 1 << 24;
    auto extent = [&](double variance, double factor, const char* name) {
        if (!(variance >= 0) || !std::isfinite(variance) ||
            factor * std::sqrt(variance) > kMaxExtent)
            throw std::invalid_argument(std::string("descriptorBox: ") + name + " = " +
                                        shortNumber(variance) +
                                        " is not a non-negative variance of a usable size");
        return std::max(3, static_cast<int>(std::lround(factor * std::sqrt(variance))));
    };
    const int n = extent(sigma2, 18.0, "sigma^2");
    const int m = extent(tau2, 8.0, "tau^2");
    // An int centre minus a half extent below 2^23 fits an int64 and is checked here.
    const std::int64_t x0 = std::int64_t{column} - n / 2;
    const std::int64_t y0 = std::int64_t{row} - n / 2;
    const std::int64_t t0 = std::int64_t{frame} - m / 2;
    for (std::int64_t v : {x0, y0, t0})
        if (v < std::numeric_limits<int>::min())
            throw std::invalid_argument("descriptorBox: box around (" + std::to_string(column) +
                                        ", " + std::to_string(row) + ", " + std::to_string(frame) +
                                        ") starts below the int range");
    return {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(t0), n, m};
}

void appendHistograms(const DescriptorBox& box, int first, int last,
                      const std::function<const FrameVotes&(int)>& votes, bool flow,
                      std::vector<double>& out) {
    if (first > last)
        throw std::invalid_argument("appendHistograms: first frame " + std::to_string(first) +
                                    " is after last frame " + std::to_string(last));
    if (box.n < 1 || box.m < 1)
        throw std::invalid_argument("appendHistograms: box extents n = " + std::to_string(box.n) +
                                    ", m = " + std::to_string(box.m) + " must be at least 1");
    const int bins = flow ? kHofBins : kHogBins;
    std::array<std::array<double, kSlots>, kCells> hist{};
    cv::Size size;
    // Cell i of an extent n in k cells covers [floor(i n / k), floor((i + 1) n / k)).
    auto bound = [](int i, int n, int k) { return static_cast<int>(std::int64_t{i} * n / k); };
    for (int tc = 0; tc < kTimeCells; ++tc) {
        for (int j = bound(tc, box.m, kTimeCells); j < bound(tc + 1, box.m, kTimeCells); ++j) {
            const std::int64_t t = std::clamp<std::int64_t>(std::int64_t{box.t0} + j, first, last);
            const FrameVotes& v = votes(static_cast<int>(t));
            if (size.empty()) size = v.bins.size();
            checkVotes(v, flow, static_cast<int>(t), size);
            std::array<Span, kColumnCells> spans;
            for (int i = 0; i < kColumnCells; ++i)
                spans[i] =
                    clampSpan(std::int64_t{box.x0} + bound(i, box.n, kColumnCells),
                              std::int64_t{box.x0} + bound(i + 1, box.n, kColumnCells), size.width);
            for (int rc = 0; rc < kRowCells; ++rc) {
                for (int y = bound(rc, box.n, kRowCells); y < bound(rc + 1, box.n, kRowCells);
                     ++y) {
                    const int r = static_cast<int>(
                        std::clamp<std::int64_t>(std::int64_t{box.y0} + y, 0, size.height - 1));
                    const std::uint8_t* binRow = v.bins.ptr<std::uint8_t>(r);
                    for (int i = 0; i < kColumnCells; ++i) {
                        double* acc = hist[(tc * kRowCells + rc) * kColumnCells + i].data();
                        if (flow)
                            addCounts(binRow, size.width, spans[i], acc);
                        else
                            addWeighted(binRow, v.weights.ptr<float>(r), size.width, spans[i], acc);
                    }
                }
            }
        }
    }
    double sum = 0.0;
    for (const auto& cell : hist) {
        for (int k = bins; k < kSlots; ++k)
            if (cell[k] != 0.0)
                throw std::invalid_argument("appendHistograms: votes hold a bin above " +
                                            std::to_string(bins - 1));
        for (int k = 0; k < bins; ++k) sum += cell[k] * cell[k];
    }
    const double scale = sum > 0.0 ? 1.0 / std::sqrt(sum) : 0.0;
    for (const auto& cell : hist)
        for (int k = 0; k < bins; ++k) out.push_back(cell[k] * scale);
}

}  // namespace stview
