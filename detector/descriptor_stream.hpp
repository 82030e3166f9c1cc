#pragma once

#include <deque>
#include <future>

#include <opencv2/core.hpp>

#include "detector/descriptors.hpp"
#include "features/feature_point.hpp"

namespace stview {

/**
 * @brief Attaches HOG and HOF descriptors to the detector's points as the video streams by.
 *
 * Each frame's gradient votes and each frame pair's optical-flow votes are computed once, on
 * a thread of their own beside the detection (startFrame .. endFrame), and kept only as long
 * as a point still to come may need them: memory does not grow with the video's length.
 * Points wait, in order, until every frame their box covers has its votes.
 */
class DescriptorStream {
  public:
    /// @p largestTau2: the largest temporal variance of the detector, which bounds how far back
    /// a box reaches.
    DescriptorStream(cv::Size size, bool hog, bool hof, int firstFrame, double largestTau2);
    ~DescriptorStream();
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    /// Starts the votes of the next frame (8-bit grey), and the flow from the frame before.
    void startFrame(const cv::Mat& grey8);
    /// Waits for them and stores them. Rethrows what their computation threw.
    void endFrame();
    /// No frame comes after @p last: it takes the flow of the pair before it.
    void finish(int last);

    /**
     * @brief Takes the points @p ready (final, in output order; every later point has a frame
     * after @p through) and appends to @p out, in the same order, those whose boxes have all
     * their votes, each with its array holding HOG then HOF. After finish() every point is
     * appended.
     */
    void describe(FeatureList& ready, long through, FeatureList& out);

  private:
    void dropUnneeded(long through);
    bool describable(const FeaturePoint& point) const;
    const FrameVotes& votes(const std::deque<FrameVotes>& ring, int base, int frame) const;

    cv::Size size_;
    bool hog_, hof_;
    int first_;
    int reachBack_;   // frames before a point that its box may cover
    long last_ = -1;  // known after finish
    int added_ = 0;
    cv::Mat previous8_, current8_, grey_, field_;
    FrameVotes newHog_, newHof_;
    std::future<void> job_;
    std::deque<FrameVotes> hogVotes_, hofVotes_;  // by frame, from *Base_ on
    int hogBase_, hofBase_;
    std::deque<FeaturePoint> waiting_;
};

}  // namespace stview
