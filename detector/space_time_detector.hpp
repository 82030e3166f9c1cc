#pragma once

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "detector/detector_options.hpp"
#include "features/feature_point.hpp"

namespace stview {

/**
 * @brief Space-time interest points of a video, frame by frame, in bounded memory.
 *
 * options.kind chooses the detector: harris (below), gabor, hessian or dense (see
 * DetectorKind and the README). They share the scales, the edge rule, the point rule and the
 * output; the value is the detector's response (0 for dense).
 *
 * For every pair (sigma^2, tau^2) of the options, on its own: the grey frames f (in [0, 1])
 * are smoothed by Gaussians of variance sigma^2 in x and y and tau^2 in t into L; the
 * scale-normalised central differences Lx = sigma (L(x+1) - L(x-1)) / 2, Ly, and
 * Lt = tau (L(t+1) - L(t-1)) / 2 form the six products of the second-moment matrix mu, each
 * smoothed at twice the variances; H = det(mu) - k trace(mu)^3. A point is a strict maximum
 * of H among its 26 space-time neighbours, above the threshold, away from the frame's border
 * and from the first and last frames. Each stage pads only its own input by repeating its
 * outermost sample (frame edges in x and y, first and last frame in t), so the points do not
 * depend on how the video is fed.
 *
 * Records carry x = column, y = height - row (counted from the bottom, as in a features
 * file), t = absolute frame number, the pair's variances and H as value, and ids counting
 * from 0 in output order. Output order: by t, then sigma^2, tau^2, row, column. With hog or
 * hof set, each record's array holds the descriptor (HOG then HOF).
 *
 * Memory depends on the frame size and the kernels, never on the number of frames. Uses
 * OpenCV's thread pool (cv::setNumThreads bounds it).
 */
class SpaceTimeDetector {
  public:
    /// @throws std::invalid_argument for an empty size, an empty, repeated or non-positive
    ///         variance list, or a k or threshold that is not a finite number;
    ///         NotEnoughMemory (detector/memory.hpp) before allocating more than is available.
    SpaceTimeDetector(cv::Size frameSize, const DetectorOptions& options, int firstFrame = 0);
    ~SpaceTimeDetector();
    SpaceTimeDetector(const SpaceTimeDetector&) = delete;
    SpaceTimeDetector& operator=(const SpaceTimeDetector&) = delete;

    /// Takes the next frame (8-bit BGR, BGRA or grey, of the constructor's size) and appends
    /// the points whose frame is final. @throws std::invalid_argument for another size or
    /// type (nothing changes then), std::logic_error after finish().
    void addFrame(const cv::Mat& frame, FeatureList& points);

    /// End of the video: the last frame added is the last processed one. Appends the
    /// remaining points. Later calls append nothing.
    void finish(FeatureList& points);

    /// Frames added so far.
    int framesAdded() const;

    /// A line on why the detector will find nothing whatever the frames (trajectories: frames
    /// smaller than the descriptor patch), or empty.
    std::string notice() const;

    /// The frame size given to the constructor.
    cv::Size frameSize() const;

    /// Frame-sized float images the detector keeps (its memory is about this many times
    /// width * height * 4 bytes).
    long framesHeld() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace stview
