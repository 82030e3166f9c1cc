#include "detector/descriptor_stream.hpp"

#include "detector/parallel.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace stview {

DescriptorStream::DescriptorStream(cv::Size size, bool hog, bool hof, int firstFrame,
                                   double largestTau2)
    : size_(size),
      hog_(hog),
      hof_(hof),
      first_(firstFrame),
      reachBack_(descriptorBox(0, 0, 0, 1.0, largestTau2).m / 2),
      hogBase_(firstFrame),
      hofBase_(firstFrame) {}

DescriptorStream::~DescriptorStream() {
    if (job_.valid()) job_.wait();
}

void DescriptorStream::startFrame(const cv::Mat& grey8) {
    grey8.copyTo(current8_);
    const bool flow = hof_ && added_ > 0;
    auto work = [this, flow] {
        if (hog_) {
            current8_.convertTo(grey_, CV_32F, 1.0 / 255);
            gradientField(grey_, field_);
            fieldVotes(field_, false, newHog_);
        }
        if (flow) {
            cv::Mat motion;
            flowField(previous8_, current8_, motion);
            fieldVotes(motion, true, newHof_);
        }
    };
    // With a single thread allowed, the work runs here instead of beside the detection.
    job_ = cv::getNumThreads() > 1 ? std::async(std::launch::async, work)
                                   : std::async(std::launch::deferred, work);
}

void DescriptorStream::endFrame() {
    job_.get();
    if (hog_) hogVotes_.push_back(std::move(newHog_));
    if (hof_ && added_ > 0) hofVotes_.push_back(std::move(newHof_));
    newHog_ = FrameVotes{};
    newHof_ = FrameVotes{};
    std::swap(previous8_, current8_);
    ++added_;
}

void DescriptorStream::finish(int last) {
    last_ = last;
    if (!hof_ || added_ == 0) return;
    FrameVotes lastVotes;
    if (added_ == 1) {
        fieldVotes(cv::Mat::zeros(size_, CV_32FC2), true, lastVotes);  // nothing moves
    } else {
        lastVotes.bins = hofVotes_.back().bins.clone();
    }
    hofVotes_.push_back(std::move(lastVotes));
}

const FrameVotes& DescriptorStream::votes(const std::deque<FrameVotes>& ring, int base,
                                          int frame) const {
    return ring.at(static_cast<std::size_t>(frame - base));
}

// Every frame of the point's box, within the processed range, has its votes.
bool DescriptorStream::describable(const FeaturePoint& point) const {
    if (last_ >= 0) return true;
    const DescriptorBox box = descriptorBox(point.x, size_.height - point.y, point.t,
                                            point.spatialVariance, point.temporalVariance);
    const long newest = static_cast<long>(box.t0) + box.m - 1;
    const long hogThrough = static_cast<long>(first_) + added_ - 1;
    const long hofThrough = hogThrough - 1;  // the newest frame's flow needs the next frame
    return (!hog_ || newest <= hogThrough) && (!hof_ || newest <= hofThrough);
}

void DescriptorStream::describe(FeatureList& ready, long through, FeatureList& out) {
    for (FeaturePoint& point : ready) waiting_.push_back(std::move(point));
    ready.clear();
    std::size_t count = 0;
    while (count < waiting_.size() && describable(waiting_[count])) ++count;
    const int last = last_ >= 0 ? static_cast<int>(last_) : first_ + added_ - 1;
    std::vector<int> points(count);
    for (std::size_t i = 0; i < count; ++i) points[i] = static_cast<int>(i);
    forEachParallel(points, [&](int i) {
        FeaturePoint& point = waiting_[static_cast<std::size_t>(i)];
        const DescriptorBox box = descriptorBox(point.x, size_.height - point.y, point.t,
                                                point.spatialVariance, point.temporalVariance);
        auto numbers = std::make_shared<std::vector<double>>();
        numbers->reserve((hog_ ? kHogLength : 0) + (hof_ ? kHofLength : 0));
        for (const bool flow : {false, true}) {
            if (!(flow ? hof_ : hog_)) continue;
            const std::deque<FrameVotes>& ring = flow ? hofVotes_ : hogVotes_;
            const int base = flow ? hofBase_ : hogBase_;
            appendHistograms(
                box, first_, last, [&](int t) -> const FrameVotes& { return votes(ring, base, t); },
                flow, *numbers);
        }
        point.array = std::move(numbers);
    });
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
    }
    dropUnneeded(through);
}

// Votes of frames that no waiting or later point can reach are let go.
void DescriptorStream::dropUnneeded(long through) {
    long oldest = through + 1;
    if (!waiting_.empty()) oldest = std::min<long>(oldest, waiting_.front().t);
    const long keepFrom = oldest - reachBack_;
    auto drop = [keepFrom](std::deque<FrameVotes>& ring, int& base) {
        for (; !ring.empty() && base < keepFrom; ++base) ring.pop_front();
    };
    drop(hogVotes_, hogBase_);
    drop(hofVotes_, hofBase_);
}

}  // namespace stview
