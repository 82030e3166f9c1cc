#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "features/feature_point.hpp"

namespace stview {

/**
 * @brief Draws a yellow circle (BGR 0,255,255; thickness 3; 8-connected) of
 * radius floor(3 * sqrt(size)) centred at column @p x, row @p y (row 0 first in
 * memory) into an 8-bit, 3-channel @p image. A negative size draws nothing;
 * centres outside the image are allowed and clip.
 */
void drawCircleMarker(cv::Mat& image, int x, int y, int size);

/// The marker's radius for a size: floor(3 * sqrt(size)); size must be >= 0.
int markerRadius(int size);

/// The default circle colour (BGR).
inline const cv::Vec3b kYellow(0, 255, 255);

/// The marker's circle with a given radius (>= 0) and colour (BGR); centres far
/// outside the image draw nothing.
void drawCircleOfRadius(cv::Mat& image, int x, int y, int radius,
                        const cv::Vec3b& colour = kYellow);

/// How circles are coloured: all yellow, or by spatial variance (--color-by scale).
enum class CircleColours { Yellow, ByScale };

/**
 * @brief The colour (BGR) of a spatial variance under --color-by scale: the
 * Okabe-Ito palette, safe for colour-blind eyes, by the power of two nearest
 * the variance: 4 or less orange, 8 sky blue, 16 bluish green, 32 reddish
 * purple, 64 vermillion, 128 blue, 256 or more yellow.
 */
cv::Vec3b scaleColour(double spatialVariance);

/**
 * @brief Draws every point of @p points that lies temporally close to frame
 * @p frameNumber, i.e. |frameNumber - t| < sqrt(temporalVariance), as a circle
 * of size = spatialVariance truncated to an int, at column x and at row
 * (image height - y): features files count rows from the bottom. A negative or
 * NaN spatial variance draws nothing; one beyond int's range is clamped. A record
 * with a track (trackOf) is drawn as drawTrack draws it instead of as a circle.
 */
void drawFeatures(const FeatureList& points, cv::Mat& frame, int frameNumber);

/**
 * @brief A record's track, when it carries one: its attached matrix, (L + 1) x 2 CV_64FC1,
 * the x and y (counted from the bottom) of the trajectory's points in frames t0 ... t0 + L,
 * t0 = t - floor(L / 2). Null for a record without one (a circle).
 */
const cv::Mat* trackOf(const FeaturePoint& point);

/// The first frame t0 of a track record (see trackOf).
std::int64_t trackFirstFrame(const FeaturePoint& point, const cv::Mat& track);

/// Tracks' points are drawn only within this many pixels of the origin: further ones (or
/// ones that are not numbers) leave the whole track undrawn.
constexpr int kFarthestTrackPoint = 1 << 28;

/**
 * @brief The track's points as pixels: (lround(x), lround(y)), y still counted from the
 * bottom. False (and @p pixels unspecified) when a coordinate is not a finite number within
 * kFarthestTrackPoint.
 */
bool trackPixels(const cv::Mat& track, std::vector<cv::Point>& pixels);

/// The radius of the circle at a track's newest point.
constexpr int kTrackHeadRadius = 2;

/**
 * @brief Draws a track as it stands in frame @p frameNumber on an 8-bit, 3-channel @p frame:
 * on frames t0 ... t0 + L, the polyline (thickness 1, 8-connected, open) through its points
 * up to that frame's, at rows height - lround(y), and the marker's circle (thickness 3) of
 * radius kTrackHeadRadius at that frame's point. Other frames, and tracks trackPixels
 * refuses, draw nothing.
 */
void drawTrack(cv::Mat& frame, const FeaturePoint& point, int frameNumber,
               const cv::Vec3b& colour = kYellow);

/// True when the point is drawn in frame @p frameNumber.
bool isVisibleInFrame(const FeaturePoint& point, int frameNumber);

/// The spatial variance as the marker size: truncated toward zero, clamped to
/// int's range; -1 (no marker) for a negative or NaN variance.
int markerSize(double spatialVariance);

}  // namespace stview
