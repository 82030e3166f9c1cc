#include "viewer/feature_index.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>

#include "viewer/overlay.hpp"

namespace stview {
namespace {

// Circles up to this radius are drawn from a precomputed pixel pattern.
constexpr int kLargestStamp = 512;
// Beyond the radius, a circle of thickness 3 reaches at most this far.
constexpr int kMargin = 4;

// Largest distance d >= 0 between frame numbers with d < sqrt(variance), as the
// overlay compares them; -1 when there is none.
std::int64_t largestDistance(double temporalVariance) {
    const double reach = std::sqrt(temporalVariance);
    if (!(reach > 0.0)) return -1;
    // Frame numbers are 32-bit, so no distance exceeds 2^32.
    constexpr std::int64_t kWidest = std::int64_t{1} << 32;
    if (reach > static_cast<double>(kWidest)) return kWidest;
    auto d = static_cast<std::int64_t>(std::ceil(reach)) - 1;
    while (static_cast<double>(d + 1) < reach) ++d;
    while (d >= 0 && !(static_cast<double>(d) < reach)) --d;
    return d;
}

}  // namespace

FeatureIndex::Stamp FeatureIndex::makeStamp(int radius) {
    Stamp stamp;
    stamp.reach = radius + kMargin;
    const int side = 2 * stamp.reach + 1;
    cv::Mat canvas = cv::Mat::zeros(side, side, CV_8UC1);
    cv::circle(canvas, {stamp.reach, stamp.reach}, radius, cv::Scalar(255), 3, cv::LINE_8, 0);
    for (int row = 0; row < side; ++row) {
        const uchar* pixels = canvas.ptr<uchar>(row);
        for (int col = 0; col < side; ++col) {
            if (pixels[col] == 0) continue;
            const int start = col;
            while (col + 1 < side && pixels[col + 1] != 0) ++col;
            stamp.runs.push_back({row - stamp.reach, start - stamp.reach, col - stamp.reach});
        }
    }
    return stamp;
}

FeatureIndex::FeatureIndex(const FeatureList& points) {
    std::vector<Entry> entries;
    entries.reserve(points.size());
    int largestRadius = -1;
    for (const FeaturePoint& point : points) {
        const std::int64_t distance = largestDistance(point.temporalVariance);
        const int size = markerSize(point.spatialVariance);
        if (distance < 0 || size < 0) continue;
        const int radius = markerRadius(size);
        entries.push_back({point.t - distance, point.t + distance, point.x, point.y, radius});
        if (radius <= kLargestStamp) largestRadius = std::max(largestRadius, radius);
    }
    // Points lasting longer than nearly all others are kept apart, so that one
    // long-lived point cannot widen the window every frame must look through.
    std::vector<std::int64_t> spans;
    spans.reserve(entries.size());
    for (const Entry& e : entries) spans.push_back(e.last - e.first);
    if (!spans.empty()) {
        const std::size_t quantile = spans.size() - 1 - spans.size() / 100;
        std::nth_element(spans.begin(), spans.begin() + quantile, spans.end());
        span_ = spans[quantile];
    }
    for (Entry& e : entries) {
        (e.last - e.first <= span_ ? brief_ : lasting_).push_back(e);
    }
    std::sort(brief_.begin(), brief_.end(),
              [](const Entry& a, const Entry& b) { return a.first < b.first; });
    for (int radius = 0; radius <= largestRadius; ++radius) stamps_.push_back(makeStamp(radius));
}

void FeatureIndex::drawEntry(cv::Mat& frame, const Entry& entry) const {
    const std::int64_t row = static_cast<std::int64_t>(frame.rows) - entry.y;
    if (entry.radius < static_cast<int>(stamps_.size())) {
        const Stamp& stamp = stamps_[entry.radius];
        if (entry.x >= stamp.reach && entry.x + stamp.reach < frame.cols && row >= stamp.reach &&
            row + stamp.reach < frame.rows) {
            const cv::Vec3b yellow(0, 255, 255);
            for (const Run& run : stamp.runs) {
                cv::Vec3b* pixels = frame.ptr<cv::Vec3b>(static_cast<int>(row) + run.dy) + entry.x;
                std::fill(pixels + run.dx0, pixels + run.dx1 + 1, yellow);
            }
            return;
        }
    }
    // Near the border, or too large to keep a pattern for: OpenCV clips it.
    if (row >= std::numeric_limits<int>::min() && row <= std::numeric_limits<int>::max()) {
        drawCircleOfRadius(frame, entry.x, static_cast<int>(row), entry.radius);
    }
}

void FeatureIndex::draw(cv::Mat& frame, int frameNumber) const {
    const std::int64_t n = frameNumber;
    // Brief entries drawn in frame n start no earlier than n - span_.
    auto begin = std::lower_bound(brief_.begin(), brief_.end(), n - span_,
                                  [](const Entry& e, std::int64_t f) { return e.first < f; });
    for (auto it = begin; it != brief_.end() && it->first <= n; ++it) {
        if (it->last >= n) drawEntry(frame, *it);
    }
    for (const Entry& e : lasting_) {
        if (e.first <= n && n <= e.last) drawEntry(frame, e);
    }
}

}  // namespace stview
