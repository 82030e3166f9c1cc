#include "video/read_ahead.hpp"

#include <utility>

namespace stview {

ReadAhead::ReadAhead(cv::VideoCapture& capture, std::size_t depth)
    : capture_(capture), depth_(depth < 1 ? 1 : depth), thread_(&ReadAhead::decode, this) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::decode() {
    for (;;) {
        cv::Mat frame;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || ready_.size() < depth_; });
            if (stopping_) return;
            if (!spare_.empty()) {
                frame = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        bool got = false;
        std::exception_ptr failure;
        try {
            got = capture_.read(frame) && !frame.empty();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (got) {
                ready_.push_back(std::move(frame));
            } else {
                finished_ = true;
                failure_ = failure;
            }
        }
        changed_.notify_all();
        if (!got) return;
    }
}

bool ReadAhead::read(cv::Mat& frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (!frame.empty()) spare_.push_back(std::move(frame));
    frame.release();
    if (ready_.empty()) {
        if (failure_) std::rethrow_exception(failure_);
        return false;
    }
    frame = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return true;
}

}  // namespace stview
