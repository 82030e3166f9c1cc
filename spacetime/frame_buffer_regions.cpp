#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

// A continuous CV_64FC1 matrix with room for count elements is kept; anything else becomes
// 1 x count.
double* regionOutput(cv::Mat& out, std::int64_t count) {
    if (out.type() != CV_64FC1 || !out.isContinuous() ||
        out.total() < static_cast<std::size_t>(count))
        out.create(1, static_cast<int>(count), CV_64FC1);
    return out.ptr<double>();
}

std::int64_t extent(int first, int last, const char* axis) {
    const std::int64_t n = static_cast<std::int64_t>(last) - first + 1;
    if (n < 0)
        throw std::length_error(std::string("FrameBuffer::GetRegion: negative ") + axis +
                                " extent " + std::to_string(n));
    return n;
}

std::vector<int> clampedRange(int first, std::int64_t count, int low, int high) {
    std::vector<int> values(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t v = first + i;
        values[static_cast<std::size_t>(i)] =
            static_cast<int>(v < low ? low : (v > high ? high : v));
    }
    return values;
}

}  // namespace

void FrameBuffer::GetRegion(int x0, int y0, int t0, int x1, int y1, int t1, cv::Mat& out) {
    requireStorage("GetRegion");
    const int minFrame = ring_.MinFrame();
    const int maxFrame = ring_.MaxFrame();
    const std::int64_t nx = extent(x0, x1, "column");
    const std::int64_t ny = extent(y0, y1, "row");
    const std::int64_t nt = extent(t0, t1, "frame");
    if (nx == 0 || ny == 0 || nt == 0) return;
    if (nx > INT32_MAX / ny || nx * ny > INT32_MAX / nt)
        throw std::length_error("FrameBuffer::GetRegion: region is too large");
    const std::vector<int> columns = clampedRange(x0, nx, 0, width_ - 1);
    const std::vector<int> rows = clampedRange(y0, ny, 0, height_ - 1);
    const std::vector<int> frames = clampedRange(t0, nt, minFrame, maxFrame);

    std::vector<int> slots;
    slots.reserve(frames.size());
    for (int f : frames) {
        const int slot = ring_.FindSlot(f);
        if (slot < 0)
            throw std::out_of_range("FrameBuffer::GetRegion: frame " + std::to_string(f) +
                                    " is not stored");
        slots.push_back(slot);
    }
    double* dst = regionOutput(out, nx * ny * nt);
    for (int slot : slots) {
        const float* frame = storage_.ptr<float>(slot);
        for (int y : rows) {
            const float* row = frame + static_cast<std::size_t>(y) * width_;
            for (int x : columns) *dst++ = row[x];
        }
    }
}

void FrameBuffer::GetLocalRegion(int row, int column, int frame, int rows, int columns, int frames,
                                 cv::Mat& out) {
    requireStorage("GetLocalRegion");
    ring_.Print(std::cout);
    std::cout << "GetLocalRegion > t_orig=" << frame << "\n";

    const std::int64_t firstFrame = static_cast<std::int64_t>(frame) - frames / 2;
    std::vector<int> slots;
    bool framesStored = true;
    for (int i = 0; i < frames; ++i) {
        const std::int64_t f = firstFrame + i;
        const int slot =
            (f < INT32_MIN || f > INT32_MAX) ? -1 : ring_.FindSlot(static_cast<int>(f));
        std::cout << "GetLocalRegion > t=" << f << "; buffind=" << slot << "\n";
        framesStored = framesStored && slot >= 0;
        slots.push_back(slot);
    }
    std::cout.flush();
    if (rows <= 0 || columns <= 0 || frames <= 0) return;

    const std::int64_t top = static_cast<std::int64_t>(row) - rows / 2;
    const std::int64_t left = static_cast<std::int64_t>(column) - columns / 2;
    if (top < 0 || left < 0 || top + rows > height_ || left + columns > width_)
        throw std::out_of_range("FrameBuffer::GetLocalRegion: box of " + std::to_string(rows) +
                                " x " + std::to_string(columns) + " around row " +
                                std::to_string(row) + ", column " + std::to_string(column) +
                                " leaves the " + std::to_string(height_) + " x " +
                                std::to_string(width_) + " image");
    if (!framesStored)
        throw std::out_of_range("FrameBuffer::GetLocalRegion: frames " +
                                std::to_string(firstFrame) + " to " +
                                std::to_string(firstFrame + frames - 1) + " are not all stored");

    const std::int64_t count = static_cast<std::int64_t>(rows) * columns;
    if (count > INT32_MAX / frames)
        throw std::length_error("FrameBuffer::GetLocalRegion: region is too large");
    double* dst = regionOutput(out, count * frames);
    for (int slot : slots) {
        const float* origin = storage_.ptr<float>(slot) + top * width_ + left;
        for (int k = 0; k < columns; ++k)
            for (int j = 0; j < rows; ++j)
                *dst++ = origin[static_cast<std::int64_t>(j) * width_ + k];
    }
}

}  // namespace stview
