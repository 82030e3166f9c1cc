#include "viewer/overlay.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <opencv2/imgproc.hpp>

namespace stview {
namespace {

constexpr int kThickness = 3;
// No pixel of a circle of thickness 3 lies further than radius + 2 from the
// centre along an axis; a little more keeps the test safe.
constexpr std::int64_t kReach = 4;

}  // namespace

int markerRadius(int size) {
    return static_cast<int>(std::floor(std::sqrt(static_cast<double>(size)) * 3.0));
}

void drawCircleMarker(cv::Mat& image, int x, int y, int size) {
    if (size >= 0) drawCircleOfRadius(image, x, y, markerRadius(size));
}

void drawCircleOfRadius(cv::Mat& image, int x, int y, int radius, const cv::Vec3b& colour) {
    // A circle that cannot touch the image draws nothing; skipping it also keeps
    // far-away centres from overflowing the drawing arithmetic.
    const std::int64_t reach = radius + kReach;
    if (x < -reach || y < -reach || x > image.cols - 1 + reach || y > image.rows - 1 + reach) {
        return;
    }
    cv::circle(image, cv::Point(x, y), radius, cv::Scalar(colour[0], colour[1], colour[2], 0),
               kThickness, cv::LINE_8, 0);
}

cv::Vec3b scaleColour(double spatialVariance) {
    static const cv::Vec3b palette[] = {
        {0, 159, 230}, {233, 180, 86}, {115, 158, 0},  {167, 121, 204},
        {0, 94, 213},  {178, 114, 0},  {66, 228, 240},
    };
    constexpr int kLast = static_cast<int>(sizeof palette / sizeof palette[0]) - 1;
    // A NaN or non-positive variance draws nothing anyway; it takes the first colour.
    const double power = spatialVariance > 0 ? std::round(std::log2(spatialVariance)) : 0;
    return palette[static_cast<int>(std::clamp(power - 2, 0.0, static_cast<double>(kLast)))];
}

int markerSize(double spatialVariance) {
    if (!(spatialVariance >= 0.0)) return -1;
    if (spatialVariance >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(spatialVariance);
}

const cv::Mat* trackOf(const FeaturePoint& point) {
    const cv::Mat* track = point.matrix.get();
    return track != nullptr && track->type() == CV_64FC1 && track->cols == 2 && track->rows > 0
               ? track
               : nullptr;
}

std::int64_t trackFirstFrame(const FeaturePoint& point, const cv::Mat& track) {
    return static_cast<std::int64_t>(point.t) - (track.rows - 1) / 2;
}

bool trackPixels(const cv::Mat& track, std::vector<cv::Point>& pixels) {
    pixels.resize(static_cast<std::size_t>(track.rows));
    for (int i = 0; i < track.rows; ++i) {
        const double* xy = track.ptr<double>(i);
        for (int c = 0; c < 2; ++c) {
            if (!(std::fabs(xy[c]) <= kFarthestTrackPoint)) return false;  // NaN too
        }
        pixels[static_cast<std::size_t>(i)] = {static_cast<int>(std::lround(xy[0])),
                                               static_cast<int>(std::lround(xy[1]))};
    }
    return true;
}

void drawTrack(cv::Mat& frame, const FeaturePoint& point, int frameNumber,
               const cv::Vec3b& colour) {
    const cv::Mat* track = trackOf(point);
    if (track == nullptr) return;
    const std::int64_t step = frameNumber - trackFirstFrame(point, *track);
    if (step < 0 || step >= track->rows) return;
    std::vector<cv::Point> pixels;
    if (!trackPixels(*track, pixels)) return;
    pixels.resize(static_cast<std::size_t>(step) + 1);
    for (cv::Point& p : pixels) {
        const std::int64_t row = static_cast<std::int64_t>(frame.rows) - p.y;
        if (row > std::numeric_limits<int>::max()) return;
        p.y = static_cast<int>(row);
    }
    const cv::Point* first = pixels.data();
    const int count = static_cast<int>(pixels.size());
    cv::polylines(frame, &first, &count, 1, false, cv::Scalar(colour[0], colour[1], colour[2]), 1,
                  cv::LINE_8, 0);
    drawCircleOfRadius(frame, pixels.back().x, pixels.back().y, kTrackHeadRadius, colour);
}

bool isVisibleInFrame(const FeaturePoint& point, int frameNumber) {
    const std::int64_t distance = std::llabs(static_cast<std::int64_t>(frameNumber) - point.t);
    return static_cast<double>(distance) < std::sqrt(point.temporalVariance);
}

void drawFeatures(const FeatureList& points, cv::Mat& frame, int frameNumber) {
    for (const FeaturePoint& point : points) {
        if (trackOf(point) != nullptr) {
            drawTrack(frame, point, frameNumber);
            continue;
        }
        if (!isVisibleInFrame(point, frameNumber)) continue;
        const int size = markerSize(point.spatialVariance);
        if (size < 0) continue;
        const std::int64_t row = static_cast<std::int64_t>(frame.rows) - point.y;
        if (row < std::numeric_limits<int>::min() || row > std::numeric_limits<int>::max()) {
            continue;  // far outside the image: nothing to draw
        }
        drawCircleMarker(frame, point.x, static_cast<int>(row), size);
    }
}

}  // namespace stview
