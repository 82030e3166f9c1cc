#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <unordered_map>
#include <vector>

#include "features/feature_point.hpp"
#include "viewer/overlay.hpp"

namespace stview {

/**
 * @brief The features of a list arranged by the frames they are drawn in, so
 * that drawing one frame costs what its visible points cost, not the length of
 * the whole list. Built once; draws exactly the pixels drawFeatures draws.
 */
class FeatureIndex {
  public:
    explicit FeatureIndex(const FeatureList& points, CircleColours colours = CircleColours::Yellow);

    /// Same result as drawFeatures(points, frame, frameNumber) on an 8-bit,
    /// 3-channel frame (in each point's colour under CircleColours::ByScale; a track in
    /// its record's colour). Circles are drawn first, then the tracks, by first frame.
    /// Not for concurrent calls on one index.
    /// @return how many points frame @p frameNumber carries
    int draw(cv::Mat& frame, int frameNumber) const;

  private:
    struct Entry {
        std::int64_t first, last;  // frames in which the point is drawn
        int x, y;                  // y counted from the bottom, as in the file
        int radius;
        cv::Vec3b colour;
    };
    // One row of a circle's pixels, relative to its centre.
    struct Run {
        int dy, dx0, dx1;
    };
    struct Stamp {
        int reach = 0;  // no pixel lies further than this from the centre
        std::vector<Run> runs;
    };

    // A record's track: its pixels are trackPixels_[offset, offset + count).
    struct Track {
        std::int64_t first;  // frame of its first point
        std::size_t offset;
        int count;
        cv::Vec3b colour;
    };

    void drawEntry(cv::Mat& frame, const Entry& entry) const;
    void drawTrackAt(cv::Mat& frame, const Track& track, int step) const;
    // The circle's pixels with the canvas edges at these distances from the centre.
    static Stamp makeStamp(int radius, int left, int top, int right, int bottom);
    static void stampAt(cv::Mat& frame, const Stamp& stamp, int x, int y, const cv::Vec3b& colour);

    std::vector<Entry> brief_;    // lasting at most span_ frames, sorted by first frame
    std::vector<Entry> lasting_;  // the rest, scanned in every frame
    std::int64_t span_ = 0;
    std::vector<Track> tracks_;               // sorted by first frame, file order among equals
    std::vector<cv::Point> trackPixels_;      // every track's points, y counted from the bottom
    int trackSpan_ = 0;                       // the most points a track has, less one
    mutable std::vector<cv::Point> scratch_;  // one track's points as drawn, reused
    std::vector<Stamp> stamps_;  // whole circles by radius, for radii small enough to keep
    // Circles clipped by the border, by radius and distances to the edges; filled
    // while drawing, which makes draw() unsafe to call from several threads at once.
    mutable std::unordered_map<std::uint64_t, Stamp> clipped_;
};

}  // namespace stview
