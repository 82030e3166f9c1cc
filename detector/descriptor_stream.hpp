#pragma once

#include <deque>
#include <future>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "detector/descriptors.hpp"
#include "features/feature_point.hpp"

namespace stview {

/// How many frames' votes DescriptorStream computes at once: cv::getNumThreads(), at least 1
/// and at most 4. One only, with a single thread allowed: then each frame's votes are computed
/// on the caller's thread when they are waited for.
int descriptorJobs();

/**
 * @brief Attaches HOG and HOF descriptors to the detector's points as the video streams by.
 *
 * Each frame's gradient votes and the optical-flow votes of the pair ending at it are computed
 * once, as a job of their own beside the detection; up to descriptorJobs() frames' jobs run at
 * once, so that the flows of successive pairs overlap. Each job holds its own copy of the 8-bit
 * frame, f, its gradient field, the flow's working set and its votes until they are stored:
 * descriptorJobs() times what one job at a time would hold. The votes are stored in frame
 * order and kept only as long as a point still to come may need them: memory does not grow
 * with the video's length. Points wait, in order, until every frame their box covers has its
 * votes stored: at most descriptorJobs() - 1 frames later than if each frame's votes were
 * waited for at once.
 */
class DescriptorStream {
  public:
    /// @p largestTau2: the largest temporal variance of the detector, which bounds how far back
    /// a box reaches.
    DescriptorStream(cv::Size size, bool hog, bool hof, int firstFrame, double largestTau2);
    ~DescriptorStream();
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    /// Starts the votes of the next frame (8-bit grey, copied), and the flow from the frame
    /// before.
    void startFrame(const cv::Mat& grey8);
    /// Stores the votes of the frames whose jobs are done, in order, first waiting for the
    /// oldest while descriptorJobs() are running. Rethrows what a job threw.
    void endFrame();
    /// No frame comes after @p last: waits for every job, and the last frame takes the flow of
    /// the pair before it. Rethrows what a job threw.
    void finish(int last);

    /**
     * @brief Takes the points @p ready (final, in output order; every later point has a frame
     * after @p through) and appends to @p out, in the same order, those whose boxes have all
     * their votes, each with its array holding HOG then HOF. After finish() every point is
     * appended.
     */
    void describe(FeatureList& ready, long through, FeatureList& out);

  private:
    // One frame's votes in the making: its grey frames, the buffers the job works in and
    // what it makes. Reused once its votes are stored.
    struct Job {
        cv::Mat previous8, current8, grey, field, motion;
        FrameVotes hog, hof;
    };
    struct Running {
        std::unique_ptr<Job> job;
        bool flow;  // it makes the flow votes of the frame before
        std::future<void> done;
    };

    void store();  // the oldest running job's votes, once it is done
    void dropUnneeded(long through);
    bool describable(const FeaturePoint& point) const;
    const FrameVotes& votes(const std::deque<FrameVotes>& ring, int base, int frame) const;

    cv::Size size_;
    bool hog_, hof_;
    int first_;
    int reachBack_;                // frames before a point that its box may cover
    int jobs_;                     // frames whose votes are computed at once
    long last_ = -1;               // known after finish
    int started_ = 0;              // frames given to startFrame
    int stored_ = 0;               // frames whose votes are stored (HOF: all but the newest)
    cv::Mat previous8_;            // the newest frame given
    std::deque<Running> running_;  // by frame, oldest first
    std::vector<std::unique_ptr<Job>> spare_;
    std::deque<FrameVotes> hogVotes_, hofVotes_;  // by frame, from *Base_ on
    int hogBase_, hofBase_;
    std::deque<FeaturePoint> waiting_;
};

}  // namespace stview
