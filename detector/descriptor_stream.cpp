#include "detector/descriptor_stream.hpp"

#include "detector/parallel.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace stview {

int descriptorJobs() { return std::clamp(cv::getNumThreads(), 1, 4); }

DescriptorStream::DescriptorStream(cv::Size size, bool hog, bool hof, int firstFrame,
                                   double largestTau2)
    : size_(size),
      hog_(hog),
      hof_(hof),
      first_(firstFrame),
      reachBack_(descriptorBox(0, 0, 0, 1.0, largestTau2).m / 2),
      jobs_(descriptorJobs()),
      hogBase_(firstFrame),
      hofBase_(firstFrame) {}

DescriptorStream::~DescriptorStream() {
    // A running job works in its own buffers: they go only once it has ended (a deferred one
    // never started and is not run).
    for (Running& running : running_) {
        if (running.done.valid() &&
            running.done.wait_for(std::chrono::seconds(0)) != std::future_status::deferred)
            running.done.wait();
    }
}

void DescriptorStream::startFrame(const cv::Mat& grey8) {
    std::unique_ptr<Job> job;
    if (spare_.empty()) {
        job = std::make_unique<Job>();
    } else {
        job = std::move(spare_.back());
        spare_.pop_back();
    }
    // A buffer of its own: the caller's is overwritten by the next frame while this one's
    // flow may still be running.
    job->current8 = grey8.clone();
    job->previous8 = previous8_;
    previous8_ = job->current8;
    const bool flow = hof_ && started_ > 0;
    ++started_;
    auto work = [hog = hog_, flow, job = job.get()] {
        if (hog) {
            job->current8.convertTo(job->grey, CV_32F, 1.0 / 255);
            gradientField(job->grey, job->field);
            fieldVotes(job->field, false, job->hog);
        }
        if (flow) {
            flowField(job->previous8, job->current8, job->motion);
            fieldVotes(job->motion, true, job->hof);
        }
    };
    // With a single thread allowed, the work runs on this thread when it is waited for.
    std::future<void> done =
        jobs_ > 1 ? std::async(std::launch::async, work) : std::async(std::launch::deferred, work);
    running_.push_back(Running{std::move(job), flow, std::move(done)});
}

void DescriptorStream::store() {
    Running running = std::move(running_.front());
    running_.pop_front();
    running.done.get();
    Job& job = *running.job;
    if (hog_) hogVotes_.push_back(std::exchange(job.hog, FrameVotes{}));
    if (running.flow) hofVotes_.push_back(std::exchange(job.hof, FrameVotes{}));
    job.previous8.release();
    job.current8.release();
    spare_.push_back(std::move(running.job));
    ++stored_;
}

void DescriptorStream::endFrame() {
    while (!running_.empty() &&
           (static_cast<int>(running_.size()) >= jobs_ ||
            running_.front().done.wait_for(std::chrono::seconds(0)) == std::future_status::ready))
        store();
}

void DescriptorStream::finish(int last) {
    last_ = last;
    while (!running_.empty()) store();
    spare_.clear();
    previous8_.release();
    if (!hof_ || stored_ == 0) return;
    FrameVotes lastVotes;
    if (stored_ == 1) {
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
    const long hogThrough = static_cast<long>(first_) + stored_ - 1;
    const long hofThrough = hogThrough - 1;  // the newest frame's flow needs the next frame
    return (!hog_ || newest <= hogThrough) && (!hof_ || newest <= hofThrough);
}

void DescriptorStream::describe(FeatureList& ready, long through, FeatureList& out) {
    for (FeaturePoint& point : ready) waiting_.push_back(std::move(point));
    ready.clear();
    std::size_t count = 0;
    while (count < waiting_.size() && describable(waiting_[count])) ++count;
    const int last = last_ >= 0 ? static_cast<int>(last_) : first_ + started_ - 1;
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
