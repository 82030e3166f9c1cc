#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "viewer/feature_point.hpp"

namespace stview {

/**
 * @brief The features of a list arranged by the frames they are drawn in, so
 * that drawing one frame costs what its visible points cost, not the length of
 * the whole list. Built once; draws exactly the pixels drawFeatures draws.
 */
class FeatureIndex {
  public:
    explicit FeatureIndex(const FeatureList& points);

    /// Same result as drawFeatures(points, frame, frameNumber) on an 8-bit,
    /// 3-channel frame.
    void draw(cv::Mat& frame, int frameNumber) const;

  private:
    struct Entry {
        std::int64_t first, last;  // frames in which the point is drawn
        int x, y;                  // y counted from the bottom, as in the file
        int radius;
    };
    // One row of a circle's pixels, relative to its centre.
    struct Run {
        int dy, dx0, dx1;
    };
    struct Stamp {
        int reach = 0;  // no pixel lies further than this from the centre
        std::vector<Run> runs;
    };

    void drawEntry(cv::Mat& frame, const Entry& entry) const;
    static Stamp makeStamp(int radius);

    std::vector<Entry> brief_;    // lasting at most span_ frames, sorted by first frame
    std::vector<Entry> lasting_;  // the rest, scanned in every frame
    std::int64_t span_ = 0;
    std::vector<Stamp> stamps_;  // by radius, for the radii small enough to keep
};

}  // namespace stview
