#include "video/frame_cache.hpp"

#include <algorithm>
#include <cmath>

namespace stview {
namespace {

// A frame at most this far after the capture's position is decoded in turn
// rather than sought: a seek decodes from a keyframe anyway.
constexpr long long kDecodeOn = 100;
// Landings tried before the video is decoded from its start instead.
constexpr int kSeekAttempts = 4;
// A timestamp fits the frame rate when it lies within this share of a frame.
constexpr double kTolerance = 0.25;

}  // namespace

std::size_t FrameCache::capacityFor(std::size_t frameBytes) {
    const std::size_t fit = kBudgetBytes / std::max<std::size_t>(frameBytes, 1);
    return std::clamp<std::size_t>(fit, 2, kMostFrames);
}

FrameCache::FrameCache(cv::VideoCapture& capture, std::string path, long long nextFrame,
                       std::size_t capacity)
    : capture_(capture),
      path_(std::move(path)),
      backend_(static_cast<int>(capture.get(cv::CAP_PROP_BACKEND))),
      capacity_(std::max<std::size_t>(capacity, 1)),
      next_(nextFrame) {
    const double rate = capture.get(cv::CAP_PROP_FPS);
    if (rate > 0 && rate <= 1000) framesPerMs_ = rate / 1000;
    regular_ = framesPerMs_ > 0;
}

const cv::Mat* FrameCache::find(long long number) const {
    for (const auto& [n, frame] : frames_) {
        if (n == number) return &frame;
    }
    return nullptr;
}

bool FrameCache::get(long long number, cv::Mat& frame) {
    if (number < 0 || (end_ >= 0 && number >= end_)) return false;
    if (const cv::Mat* kept = find(number)) {
        frame = *kept;
        return true;
    }
    if (next_ < 0 || number < next_ || number - next_ > kDecodeOn) {
        if (!seekTo(number)) return false;
    }
    while (next_ <= number) {
        if (!readNext()) return false;
    }
    frame = *find(number);
    return true;
}

bool FrameCache::readNext() {
    cv::Mat frame;
    if (!capture_.read(frame) || frame.empty()) {
        if (next_ >= 0 && (end_ < 0 || next_ < end_)) end_ = next_;
        return false;
    }
    ++decoded_;
    keep(std::move(frame));
    return true;
}

void FrameCache::keep(cv::Mat frame) {
    remember(next_, capture_.get(cv::CAP_PROP_POS_MSEC));
    if (find(next_) == nullptr) {
        if (frames_.size() >= capacity_) frames_.pop_front();
        frames_.emplace_back(next_, std::move(frame));
    }
    ++next_;
}

bool FrameCache::seekTo(long long number) {
    // Aiming half the cache before the frame fills the cache with the frames
    // before it too, so that stepping back from there is instant.
    long long back = static_cast<long long>(capacity_ / 2);
    for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
        const long long aim = std::max(0LL, number - back);
        // Frame 0 is where a freshly opened video starts: no seek can do better.
        if (aim == 0) break;
        back = 4 * back + 16;
        cv::Mat frame;
        if (!capture_.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(aim))) break;
        if (!capture_.read(frame) || frame.empty()) continue;
        ++decoded_;
        const long long landed = identify(capture_.get(cv::CAP_PROP_POS_MSEC));
        if (landed < 0 || landed > number) continue;
        // The landing is certain: it starts a run of known frames.
        next_ = landed;
        keep(std::move(frame));
        return true;
    }
    return restart();
}

bool FrameCache::restart() {
    next_ = -1;
    if (!capture_.open(path_, backend_)) return false;
    next_ = 0;
    return true;
}

long long FrameCache::identify(double milliseconds) const {
    if (!(milliseconds > 0)) return -1;
    const auto seen = byTime_.find(milliseconds);
    if (seen != byTime_.end()) return seen->second;
    if (!regular_ || !anchored_) return -1;
    const double frame = anchorFrame_ + (milliseconds - anchorMs_) * framesPerMs_;
    const double nearest = std::round(frame);
    return std::fabs(frame - nearest) < kTolerance && nearest >= 0 ? static_cast<long long>(nearest)
                                                                   : -1;
}

void FrameCache::remember(long long number, double milliseconds) {
    // OpenCV reports 0 for a frame without a timestamp (such as those the decoder
    // still holds at the end), so 0 tells nothing; frame 0 needs no seek anyway.
    if (!(milliseconds > 0)) return;
    const auto [entry, added] = byTime_.emplace(milliseconds, number);
    if (!added && entry->second != number) entry->second = -1;  // no longer tells frames apart
    if (!anchored_) {
        anchored_ = true;
        anchorFrame_ = number;
        anchorMs_ = milliseconds;
    } else if (regular_) {
        const double frame = anchorFrame_ + (milliseconds - anchorMs_) * framesPerMs_;
        if (!(std::fabs(frame - static_cast<double>(number)) < kTolerance)) regular_ = false;
    }
}

}  // namespace stview
