#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "detector/detector_options.hpp"
#include "features/feature_columns.hpp"
#include "features/feature_point.hpp"

namespace stview {

/// The frame sizes of the trajectories' scales for frames of @p frame: scale s is
/// lround(w 2^(-s/2)) x lround(h 2^(-s/2)), while both sides are at least 32 (the descriptor
/// patch) and s < @p most. Empty for a frame smaller than the patch.
std::vector<cv::Size> trajectoryScaleSizes(cv::Size frame, int most);

/// The blocks of a trajectory record: track[2(L+1)], then trajectory[2L], hog[96], hof[108] and
/// mbh[192] as chosen, in that order.
ColumnLayout trajectoryLayout(const DetectorOptions& options);

/// The blocks any detector's records carry with @p options (the point detectors' hog[72] and
/// hof[90], or the trajectories' layout).
ColumnLayout detectorLayout(const DetectorOptions& options);

/// One trajectory that completed and was kept, with what orders it among those completed at
/// the same frame.
struct TrajectoryRecord {
    FeaturePoint point;  ///< the record, its array the track then the descriptors
    int scale = 0;
    float firstRow = 0, firstColumn = 0;  ///< the first track point, original pixels
};

/**
 * @brief The trajectories of one scale: sampling in empty cells, tracking through the median
 * filtered flow, the keeping rules and each live trajectory's descriptor sums. Pure: it is fed
 * one scale's frames and flows and knows nothing of videos.
 *
 * step() takes frame u of the scale (8-bit grey) and the unfiltered flow from u to u + 1: the
 * trajectories that arrive at u with L moves were reported by the step before; those of this
 * frame's cells that are empty and textured enough start; every live trajectory adds its
 * patch at u into its temporal cell and moves to u + 1. Trajectories complete at u + 1 are
 * appended to @p done when kept. Positions are those of the scale's pixels, converted to the
 * original frame's (X = (x + 0.5) w / w_s - 0.5) only in the record.
 */
class ScaleTracker {
  public:
    ScaleTracker(cv::Size frameSize, int scale, cv::Size scaleSize, const DetectorOptions& options);
    ~ScaleTracker();
    ScaleTracker(const ScaleTracker&) = delete;
    ScaleTracker& operator=(const ScaleTracker&) = delete;

    /// @p grey: g_s(u), CV_8UC1 of the scale's size; @p flow: omega_s(u) to u + 1, CV_32FC2.
    void step(int frame, const cv::Mat& grey, const cv::Mat& flow,
              std::vector<TrajectoryRecord>& done);

    /// Live trajectories (those still being tracked).
    std::size_t live() const;

    /// Descriptors left unnormalised (for tests of the raw sums); default false.
    void keepUnnormalised(bool keep);

    cv::Size size() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/**
 * @brief Dense trajectories of a video, frame by frame, in memory bounded by the frame size,
 * the scales and the live trajectories (never the video's length).
 *
 * Each scale (trajectoryScaleSizes) is resized from the grey frame with INTER_LINEAR and
 * tracked on its own (ScaleTracker) through calcOpticalFlowFarneback(0.5, 3, 15, 3, 5, 1.2, 0)
 * between successive frames; the scales run on OpenCV's thread pool, largest first. A
 * trajectory completing at frame T is appended when frame T is added, all of T's together,
 * sorted by scale (sigma^2), row, column, then their first point's row and column, with ids
 * counting from 0 in output order; its record's t is T - L + floor(L/2).
 */
class TrajectoryDetector {
  public:
    /// @throws OptionError for options validateDetectorOptions refuses; NotEnoughMemory
    ///         (detector/memory.hpp) when the worst case exceeds what is available.
    TrajectoryDetector(cv::Size frameSize, const DetectorOptions& options, int firstFrame = 0);
    ~TrajectoryDetector();
    TrajectoryDetector(const TrajectoryDetector&) = delete;
    TrajectoryDetector& operator=(const TrajectoryDetector&) = delete;

    /// The next frame, 8-bit grey of the constructor's size.
    void addFrame(const cv::Mat& grey, FeatureList& points);
    /// End of the video: unfinished trajectories are dropped; appends nothing.
    void finish(FeatureList& points);

    int scales() const;
    std::size_t live() const;
    void keepUnnormalised(bool keep);
    /// Why there is no scale (frames smaller than the patch), or empty.
    std::string notice() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// The trajectories' worst-case bytes apart from decoding and the program itself: every
/// cell of every scale holding L live trajectories, the per-scale images and histogram
/// fields, Farneback's working images on each thread, and a frame's completed records.
std::uint64_t trajectoryMemoryNeed(cv::Size frameSize, const DetectorOptions& options);

}  // namespace stview
