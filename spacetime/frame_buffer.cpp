#include "spacetime/frame_buffer.hpp"

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

namespace stview {

FrameBuffer::FrameBuffer() : FrameBuffer(0) {}

FrameBuffer::FrameBuffer(int n) : length_(n) { FillNeighbourTables(); }

void FrameBuffer::FillNeighbourTables() {
    Neighbours26 = makeNeighbours26();
    Neighbours10 = makeNeighbours10();
    Neighbours124 = makeNeighbours124();
    Neighbours28 = makeNeighbours28();
}

void FrameBuffer::SetLength(int n) {
    if (!storage_.empty())
        throw std::logic_error("FrameBuffer::SetLength(" + std::to_string(n) +
                               "): the slot count is fixed once a frame was added");
    length_ = n;
}

void FrameBuffer::requireStorage(const char* operation) const {
    if (storage_.empty())
        throw std::logic_error(std::string("FrameBuffer::") + operation +
                               ": no frame has been added");
}

void FrameBuffer::checkImage(const cv::Mat& image, int expectedElements) const {
    if (image.type() != CV_32FC1)
        throw std::invalid_argument("FrameBuffer: image type " + std::to_string(image.type()) +
                                    " is not CV_32FC1");
    if (image.dims > 2)
        throw std::invalid_argument("FrameBuffer: image has " + std::to_string(image.dims) +
                                    " dimensions, not 2");
    if (image.empty()) throw std::invalid_argument("FrameBuffer: image is empty");
    if (expectedElements >= 0 && image.total() != static_cast<std::size_t>(expectedElements))
        throw std::invalid_argument("FrameBuffer: image has " + std::to_string(image.total()) +
                                    " elements, the buffer's frames " +
                                    std::to_string(expectedElements));
}

namespace {

void copyIn(const cv::Mat& image, float* dst) {
    if (image.isContinuous()) {
        std::memcpy(dst, image.ptr<float>(), image.total() * sizeof(float));
        return;
    }
    const auto cols = static_cast<std::size_t>(image.cols);
    for (int r = 0; r < image.rows; ++r)
        std::memcpy(dst + static_cast<std::size_t>(r) * cols, image.ptr<float>(r),
                    cols * sizeof(float));
}

}  // namespace

void FrameBuffer::add(const cv::Mat& image, bool numbered, int frameNumber) {
    if (storage_.empty()) {
        checkImage(image, -1);
        if (length_ < 1)
            throw std::length_error("FrameBuffer: slot count " + std::to_string(length_) +
                                    " is below 1");
        const long long elements = static_cast<long long>(image.rows) * image.cols;
        if (image.rows <= 0 || elements > INT_MAX)
            throw std::invalid_argument("FrameBuffer: image of " + std::to_string(elements) +
                                        " elements does not fit a frame row");
        cv::Mat storage = cv::Mat::zeros(length_, static_cast<int>(elements), CV_32FC1);
        copyIn(image, storage.ptr<float>(0));
        ring_.Init(length_, numbered ? frameNumber : 0);
        storage_ = std::move(storage);
        width_ = image.cols;
        height_ = image.rows;
        return;
    }
    checkImage(image, width_ * height_);
    const int head = ring_.FrameAt(ring_.Head());
    if (!numbered && head == INT_MAX)
        throw std::out_of_range("FrameBuffer::AddFrame: the newest frame number is " +
                                std::to_string(head) + ", the next one does not fit an int");
    const int number = numbered ? frameNumber : head + 1;
    const int slot = ring_.Push(number);
    copyIn(image, storage_.ptr<float>(slot));
}

void FrameBuffer::AddFrame(const cv::Mat& image) { add(image, false, 0); }

void FrameBuffer::AddFrameNumbered(const cv::Mat& image, int frameNumber) {
    add(image, true, frameNumber);
}

void FrameBuffer::copyRow(int slot, cv::Mat& image) const {
    image.create(height_, width_, CV_32FC1);
    const float* src = storage_.ptr<float>(slot);
    if (image.isContinuous()) {
        std::memcpy(image.ptr<float>(), src, storage_.step[0]);
        return;
    }
    const auto cols = static_cast<std::size_t>(width_);
    for (int r = 0; r < height_; ++r)
        std::memcpy(image.ptr<float>(r), src + static_cast<std::size_t>(r) * cols,
                    cols * sizeof(float));
}

int FrameBuffer::GetFrameAtSlot(int slot, cv::Mat& image) const {
    if (storage_.empty() || slot < 0 || slot >= length_) return -1;
    copyRow(slot, image);
    return 0;
}

int FrameBuffer::GetFrame(int frameNumber, cv::Mat& image) const {
    const int slot = ring_.FindSlot(frameNumber);
    if (slot < 0) return -1;
    copyRow(slot, image);
    return 0;
}

}  // namespace stview
