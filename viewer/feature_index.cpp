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
// Patterns of circles clipped by the border are kept up to this number.
constexpr std::size_t kMostClippedStamps = 1 << 16;

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

FeatureIndex::Stamp FeatureIndex::makeStamp(int radius, int left, int top, int right, int bottom) {
    // The canvas edges stand where the image's edges stand around this centre,
    // so cv::circle clips the pattern exactly as it would clip it in the image.
    Stamp stamp;
    stamp.reach = radius + kMargin;
    cv::Mat canvas = cv::Mat::zeros(top + bottom + 1, left + right + 1, CV_8UC1);
    cv::circle(canvas, {left, top}, radius, cv::Scalar(255), 3, cv::LINE_8, 0);
    for (int row = 0; row < canvas.rows; ++row) {
        const uchar* pixels = canvas.ptr<uchar>(row);
        for (int col = 0; col < canvas.cols; ++col) {
            if (pixels[col] == 0) continue;
            const int start = col;
            while (col + 1 < canvas.cols && pixels[col + 1] != 0) ++col;
            stamp.runs.push_back({row - top, start - left, col - left});
        }
    }
    return stamp;
}

FeatureIndex::FeatureIndex(const FeatureList& points, CircleColours colours) {
    std::vector<Entry> entries;
    entries.reserve(points.size());
    int largestRadius = -1;
    std::vector<cv::Point> pixels;
    for (const FeaturePoint& point : points) {
        if (const cv::Mat* track = trackOf(point)) {
            if (!trackPixels(*track, pixels)) continue;
            const cv::Vec3b colour =
                colours == CircleColours::ByScale ? scaleColour(point.spatialVariance) : kYellow;
            tracks_.push_back(
                {trackFirstFrame(point, *track), trackPixels_.size(), track->rows, colour});
            trackPixels_.insert(trackPixels_.end(), pixels.begin(), pixels.end());
            trackSpan_ = std::max(trackSpan_, track->rows - 1);
            largestRadius = std::max(largestRadius, kTrackHeadRadius);
            continue;
        }
        const std::int64_t distance = largestDistance(point.temporalVariance);
        const int size = markerSize(point.spatialVariance);
        if (distance < 0 || size < 0) continue;
        const int radius = markerRadius(size);
        const cv::Vec3b colour =
            colours == CircleColours::ByScale ? scaleColour(point.spatialVariance) : kYellow;
        entries.push_back(
            {point.t - distance, point.t + distance, point.x, point.y, radius, colour});
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
    std::stable_sort(tracks_.begin(), tracks_.end(),
                     [](const Track& a, const Track& b) { return a.first < b.first; });
    for (int radius = 0; radius <= largestRadius; ++radius) {
        const int reach = radius + kMargin;
        stamps_.push_back(makeStamp(radius, reach, reach, reach, reach));
    }
}

void FeatureIndex::stampAt(cv::Mat& frame, const Stamp& stamp, int x, int y,
                           const cv::Vec3b& colour) {
    for (const Run& run : stamp.runs) {
        cv::Vec3b* pixels = frame.ptr<cv::Vec3b>(y + run.dy) + x;
        std::fill(pixels + run.dx0, pixels + run.dx1 + 1, colour);
    }
}

void FeatureIndex::drawEntry(cv::Mat& frame, const Entry& entry) const {
    const std::int64_t row = static_cast<std::int64_t>(frame.rows) - entry.y;
    if (entry.radius >= static_cast<int>(stamps_.size())) {
        // Too large to keep a pattern for: OpenCV draws and clips it.
        if (row >= std::numeric_limits<int>::min() && row <= std::numeric_limits<int>::max()) {
            drawCircleOfRadius(frame, entry.x, static_cast<int>(row), entry.radius, entry.colour);
        }
        return;
    }
    const Stamp& whole = stamps_[entry.radius];
    const std::int64_t reach = whole.reach;
    // Distances from the centre to the image's edges; beyond the reach an edge
    // does not matter, and a circle further outside draws nothing.
    const std::int64_t left = entry.x, top = row;
    const std::int64_t right = frame.cols - 1 - left, bottom = frame.rows - 1 - top;
    if (left < -reach || top < -reach || right < -reach || bottom < -reach) return;
    if (left >= reach && top >= reach && right >= reach && bottom >= reach) {
        stampAt(frame, whole, entry.x, static_cast<int>(row), entry.colour);
        return;
    }
    const auto near = [reach](std::int64_t d) { return static_cast<int>(std::min(d, reach + 1)); };
    const int l = near(left), t = near(top), r = near(right), b = near(bottom);
    // Pack the radius and the four distances (each within -reach .. reach + 1).
    const std::uint64_t span = 2 * static_cast<std::uint64_t>(kLargestStamp + kMargin) + 2;
    std::uint64_t key = static_cast<std::uint64_t>(entry.radius);
    for (int d : {l, t, r, b}) key = key * span + static_cast<std::uint64_t>(d + reach);
    auto found = clipped_.find(key);
    if (found == clipped_.end()) {
        if (clipped_.size() >= kMostClippedStamps) {
            drawCircleOfRadius(frame, entry.x, static_cast<int>(row), entry.radius, entry.colour);
            return;
        }
        found = clipped_.emplace(key, makeStamp(entry.radius, l, t, r, b)).first;
    }
    stampAt(frame, found->second, entry.x, static_cast<int>(row), entry.colour);
}

void FeatureIndex::drawTrackAt(cv::Mat& frame, const Track& track, int step) const {
    // The points so far, at their rows in this frame.
    const cv::Point* from = trackPixels_.data() + track.offset;
    scratch_.resize(static_cast<std::size_t>(step) + 1);
    for (int i = 0; i <= step; ++i) {
        const std::int64_t row = static_cast<std::int64_t>(frame.rows) - from[i].y;
        if (row > std::numeric_limits<int>::max()) return;
        scratch_[static_cast<std::size_t>(i)] = {from[i].x, static_cast<int>(row)};
    }
    if (step > 0) {
        const cv::Point* first = scratch_.data();
        const int count = step + 1;
        cv::polylines(frame, &first, &count, 1, false,
                      cv::Scalar(track.colour[0], track.colour[1], track.colour[2]), 1, cv::LINE_8,
                      0);
    }
    // The head, drawn as any circle of that radius is (y back from the bottom).
    drawEntry(frame, {0, 0, from[step].x, from[step].y, kTrackHeadRadius, track.colour});
}

int FeatureIndex::draw(cv::Mat& frame, int frameNumber) const {
    int drawn = 0;
    const std::int64_t n = frameNumber;
    // Brief entries drawn in frame n start no earlier than n - span_.
    auto begin = std::lower_bound(brief_.begin(), brief_.end(), n - span_,
                                  [](const Entry& e, std::int64_t f) { return e.first < f; });
    for (auto it = begin; it != brief_.end() && it->first <= n; ++it) {
        if (it->last >= n) {
            drawEntry(frame, *it);
            ++drawn;
        }
    }
    for (const Entry& e : lasting_) {
        if (e.first <= n && n <= e.last) {
            drawEntry(frame, e);
            ++drawn;
        }
    }
    // Tracks drawn in frame n start no earlier than n - trackSpan_.
    auto track = std::lower_bound(tracks_.begin(), tracks_.end(), n - trackSpan_,
                                  [](const Track& k, std::int64_t f) { return k.first < f; });
    for (; track != tracks_.end() && track->first <= n; ++track) {
        const std::int64_t step = n - track->first;
        if (step < track->count) {
            drawTrackAt(frame, *track, static_cast<int>(step));
            ++drawn;
        }
    }
    return drawn;
}

}  // namespace stview
