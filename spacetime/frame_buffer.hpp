#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "features/feature_point.hpp"
#include "spacetime/frame_ring.hpp"
#include "spacetime/neighbour_tables.hpp"

namespace stview {

/**
 * @brief The newest n frames of an image sequence, single-channel 32-bit float, kept as the
 * rows of one n x (width*height) CV_32FC1 matrix (one slot per row) and overwritten
 * cyclically. A FrameRing labels each slot with a frame number.
 *
 * The first add fixes width and height, sizes the ring with the initial frame number, zeroes
 * the storage and copies its image into slot 0. Images must be CV_32FC1 with width*height
 * elements (any 2-D shape, continuous or not); others are refused with std::invalid_argument
 * and the buffer is left unchanged. Operations that read the storage throw std::logic_error
 * while no frame has been added. Not copyable.
 */
class FrameBuffer {
  public:
    FrameBuffer();
    explicit FrameBuffer(int n);
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    /// Sets the slot count before the first add; throws std::logic_error afterwards.
    void SetLength(int n);

    /// Stores the image under the head's frame number + 1 (0 for the first add). The first
    /// add throws std::length_error when the slot count is below 1; a head at INT_MAX has no
    /// next number: std::out_of_range, the buffer unchanged.
    void AddFrame(const cv::Mat& image);
    /// As AddFrame, under the given frame number.
    void AddFrameNumbered(const cv::Mat& image, int frameNumber);

    /// Copies slot's frame into image (height x width CV_32FC1, created when it does not
    /// fit). Returns 0, or -1 with image untouched for a slot outside 0 .. n-1 or before the
    /// first add.
    int GetFrameAtSlot(int slot, cv::Mat& image) const;
    /// As GetFrameAtSlot for the lowest slot labelled frameNumber; -1 when none is.
    int GetFrame(int frameNumber, cv::Mat& image) const;

    /**
     * @brief Copies the inclusive box of columns x0..x1, rows y0..y1 and frame numbers t0..t1,
     * each clamped to the image and to the stored frame range, widened to double, as a flat
     * sequence with columns fastest, then rows, then frames.
     *
     * out: a continuous CV_64FC1 matrix with at least that many elements is written from its
     * first element on, elements past the box untouched; otherwise it is created as 1 x N.
     * An extent of 0 writes nothing. Throws std::length_error for a negative extent and
     * std::out_of_range when a frame number within the stored range has no slot; nothing is
     * written then.
     */
    void GetRegion(int x0, int y0, int t0, int x1, int y1, int t1, cv::Mat& out);

    /**
     * @brief Copies the box of rows x columns x frames around (row, column, frame): an even
     * extent reaches one further before the centre than after it. Output as for GetRegion,
     * but within a frame the rows run fastest, column after column.
     *
     * Prints the ring (Print), "GetLocalRegion > t_orig=<frame>" and one
     * "GetLocalRegion > t=<f>; buffind=<slot>" line per frame to standard output. A non-empty
     * box that leaves the image or names a frame number with no slot (buffind=-1) is then
     * refused with std::out_of_range, nothing written.
     */
    void GetLocalRegion(int row, int column, int frame, int rows, int columns, int frames,
                        cv::Mat& out);

    /**
     * @brief Weighted sum of the buffered frames per pixel: kernel[k] (rounded to float)
     * weights the frame of age k (0 = newest); missing entries count as 0, entries from
     * index n on are ignored. NaN and infinity propagate.
     *
     * out: a continuous CV_32FC1 matrix of any shape with width*height elements is written in
     * place; otherwise it is created as height x width CV_32FC1.
     * @return the frame number ceil(kernel.size() / 2) - 1 positions behind the newest slot,
     * taken cyclically (an empty kernel gives the oldest slot).
     */
    int ConvolveTime(cv::Mat& out, std::vector<double> kernel);

    /// ConvolveTime with two kernels at once, reading the stored frames once: @p first and
    /// @p second get exactly what two ConvolveTime calls would give them. Both kernels must
    /// have the same length. @return as ConvolveTime.
    int ConvolveTimeTwice(cv::Mat& first, std::vector<double> firstKernel, cv::Mat& second,
                          std::vector<double> secondKernel);

    /**
     * @brief Appends a record (x = column, y = row, t = frame number, value) for every strict
     * local maximum among the 26 (fullNeighbourhood) or the 10 neighbours of
     * Neighbours26/Neighbours10, comparing 32-bit floats; NaN on either side never counts as
     * smaller. The newest and oldest frames and the border rows and columns are never
     * centres. Order: by age from the second-newest frame, then row, then column. Throws
     * std::logic_error when the public tables no longer hold their constructed entries.
     */
    void FindLocalMaxima(FeatureList& points, bool fullNeighbourhood);

    const FrameRing& Ring() const { return ring_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    /// The slot count n.
    int Length() const { return length_; }

    /// Writes the four tables below; called by both constructors.
    void FillNeighbourTables();

    std::array<SpaceTimeOffset, 26> Neighbours26;
    std::array<SpaceTimeOffset, 10> Neighbours10;
    std::array<SpaceTimeOffset, 124> Neighbours124;
    std::array<SpaceTimeOffset, 28> Neighbours28;

  private:
    void add(const cv::Mat& image, bool numbered, int frameNumber);
    void checkImage(const cv::Mat& image, int expectedElements) const;
    void copyRow(int slot, cv::Mat& image) const;
    void requireStorage(const char* operation) const;
    // ConvolveTime over `count` (1 or 2) kernels of one length, the frames read once.
    int convolveTime(cv::Mat* const* outs, std::vector<double>* const* kernels, int count);

    cv::Mat storage_;
    int length_ = 0;
    int width_ = 0;
    int height_ = 0;
    FrameRing ring_;
    // FindLocalMaxima's working rows, row masks and maxima per age (each row * width + column
    // in the low 32 bits, the value's bits in the high ones), kept between calls so that
    // repeated searches do not allocate.
    std::vector<float> maximaRows_;
    std::vector<std::uint8_t> maximaMask_;
    std::vector<std::vector<std::uint64_t>> maximaHits_;
};

}  // namespace stview
