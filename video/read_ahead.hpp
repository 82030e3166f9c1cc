#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <opencv2/videoio.hpp>
#include <thread>
#include <vector>

namespace stview {

/**
 * @brief Decodes the frames of an opened capture on a second thread, a few
 * frames ahead of the caller, so that decoding overlaps drawing and encoding.
 * Frames arrive in the capture's order, exactly as capture.read would give
 * them; their buffers are recycled, so nothing is allocated per frame once the
 * pipeline is full. The capture must not be used otherwise while this object
 * lives.
 */
class ReadAhead {
  public:
    explicit ReadAhead(cv::VideoCapture& capture, std::size_t depth = 3);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// Replaces @p frame by the next frame; false (and @p frame left empty) at
    /// the end. Rethrows what the capture threw on the decoding thread. The
    /// buffer @p frame held before is reused for a later frame: keep no other
    /// reference to it.
    bool read(cv::Mat& frame);

  private:
    void decode();

    cv::VideoCapture& capture_;
    const std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<cv::Mat> ready_;
    std::vector<cv::Mat> spare_;
    bool finished_ = false;  // the capture has no more frames (or failed)
    bool stopping_ = false;  // the reader is being destroyed
    std::exception_ptr failure_;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace stview
