#pragma once

#include <cstddef>
#include <memory>
#include <opencv2/core.hpp>

namespace stview {

/// Which descriptor histograms a frame's fields are built for.
struct TrajectoryBlocks {
    bool hog = false;
    bool hof = false;
    bool mbh = false;
};

/**
 * @brief Cell sums of one frame at one scale, ready for O(1) reads (integral histograms or
 * equal).
 *
 * Each field (hog: the grey image's gradient; hof: the flow; MBHx and MBHy: the gradients of
 * the flow's two components) votes per pixel into one direction bin. The vote maps are padded
 * by replication (a position outside the frame votes as the nearest pixel inside) and summed
 * over every 16 x 16 cell that can occur, so a patch costs four reads of each block's bins.
 */
class FrameHistograms {
  public:
    static constexpr int patchSize = 32;    // N
    static constexpr int cellSize = 16;     // a spatial cell is 16 x 16
    static constexpr int gradientBins = 8;  // hog, MBHx, MBHy
    static constexpr int flowBins = 9;      // hof: 8 directions + no motion

    /// grey: f_s(t), CV_32F in [0, 1]. flow: omega_s(t), CV_32FC2, same size (the unfiltered
    /// Farneback flow from t to t+1); may be empty when neither hof nor mbh is built.
    /// Throws std::invalid_argument for an empty grey image, a flow of another size or type,
    /// or a missing flow when hof or mbh is asked for.
    FrameHistograms(const cv::Mat& grey, const cv::Mat& flow, TrajectoryBlocks blocks);

    /// Adds into hog[32] (2x2 cells x 8 bins), hof[36] (2x2 x 9), mbhx[32], mbhy[32] the vote
    /// sums of the 2x2 spatial cells of the patch whose columns are [cx - 16, cx + 16) and rows
    /// [cy - 16, cy + 16), pixels outside the frame taking the nearest inside. Order: cell row,
    /// cell column, bin. A null pointer skips that block (it must be null when not built).
    void addPatch(int cx, int cy, float* hog, float* hof, float* mbhx, float* mbhy) const;

    /// Bytes these fields hold for a frame of @p size (for the memory check).
    static std::size_t bytesFor(cv::Size size, TrajectoryBlocks blocks);

    TrajectoryBlocks blocks() const { return blocks_; }
    cv::Size size() const { return size_; }

  private:
    // Cell sums of one block: for every cell origin (x0, y0), x0 in [-16, width - 1] and y0 in
    // [-16, height - 1], the bins of the cell [x0, x0 + 16) x [y0, y0 + 16), bins innermost.
    // Origins further out cover the same clamped pixels as the nearest of these.
    // Rows: origins y0 + 16; columns: (x0 + 16) * bins + bin.
    void addCells(const cv::Mat& sums, int bins, int cx, int cy, float* out) const;

    TrajectoryBlocks blocks_;
    cv::Size size_;
    int originsX_ = 0;                 // width + 16
    int originsY_ = 0;                 // height + 16
    cv::Mat hog_, hof_, mbhx_, mbhy_;  // CV_32FC1, empty when not built
    // Their storage: buffers go back to a pool when the last copy goes, so that building
    // frame after frame reuses memory instead of faulting fresh pages in.
    std::shared_ptr<float> storage_[4];
};

// descriptors.hpp declares the point descriptors' four-bin stview::directionBin with the same
// parameters: these two live in their own inline namespace, so that stview::directionBin names
// this one where only this header is included, and stview::trajectory::directionBin names it
// without ambiguity where both are (two functions, never one name with two definitions).
inline namespace trajectory {

/// floor(((theta + 22.5 deg) mod 360 deg) / 45 deg), theta = atan2(dy, dx), rows down; 0..7.
/// Decided by comparing |dy| with tan(22.5 deg) |dx| and tan(67.5 deg) |dx| in double, which
/// is the exact angle's bin for every pair of floats; signed zeros as atan2 treats them
/// ((+-0, -0) and (+-0, x < 0) are 180 deg, bin 4).
int directionBin(float dx, float dy);

/// Scales v[0..n) to unit L2 length; all zeros stay zeros.
void normaliseL2(float* v, std::size_t n);

}  // namespace trajectory

}  // namespace stview
