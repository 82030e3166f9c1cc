#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace stview {

/**
 * @brief Dense sampling for one scale pair: the centres of descriptor boxes (n columns and
 * rows, m frames, as descriptorBox sizes them) that overlap by half and lie inside the frame
 * and the processed range.
 *
 * Columns x = floor(n/2) + i max(1, floor(n/2)) while x - floor(n/2) + n <= width, rows
 * likewise; frames t = first + floor(m/2) + j max(1, floor(m/2)) while t - floor(m/2) + m <= end
 * (the range's exclusive end). A frame's points are final once frame t - floor(m/2) + m - 1
 * has been read. A pair whose box does not fit the frame has no point.
 */
class DenseGrid {
  public:
    DenseGrid(cv::Size frameSize, double sigma2, double tau2, int firstFrame);

    /// The columns (and rows, counted downward) of every frame's points, increasing.
    const std::vector<int>& columns() const { return columns_; }
    const std::vector<int>& rows() const { return rows_; }

    /// The first frame that holds points, and the step between such frames.
    long firstPointFrame() const;
    long frameStep() const;

    /// The frame that must have been read for the points of frame @p t to be final.
    long finalAfter(long t) const;

    /// Every frame up to this one is decided once frame @p newest has been read: a frame
    /// t <= decidedThrough(newest) either has its points final or has none.
    long decidedThrough(long newest) const;

  private:
    std::vector<int> columns_, rows_;
    int first_ = 0;
    int n_ = 0, m_ = 0;
};

}  // namespace stview
