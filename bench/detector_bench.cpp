// The streaming space-time detector on 640x480 frames of drifting texture, frames per second
// once its pipeline is full, beside the plain whole-volume computation of the tests (one pair
// at a time, every stage a separate pass over the volume). Threads: OpenCV's pool, all cores
// unless STVIEW_BENCH_THREADS says otherwise.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "drifting_scene.hpp"

#include "detector/descriptors.hpp"
#include "detector/space_time_detector.hpp"
#include "tests/support/reference_detector.hpp"

namespace {

const std::vector<cv::Mat>& frames() { return bench::driftingScene(); }

stview::DetectorOptions optionsFor(int pairs, bool descriptors = false) {
    stview::DetectorOptions options;
    options.hog = options.hof = descriptors;
    options.threshold = 1e-10;  // points in every frame of this scene, so descriptors cost
    if (pairs == 1) {
        options.spatialVariances = {4};
        options.temporalVariances = {2};
    }
    return options;
}

void setThreads() {
    if (const char* n = std::getenv("STVIEW_BENCH_THREADS")) cv::setNumThreads(std::atoi(n));
}

// One iteration adds one frame to a detector whose pipeline is already full.
void Detector_Streaming(benchmark::State& state) {
    setThreads();
    const std::vector<cv::Mat>& video = frames();
    stview::SpaceTimeDetector detector(
        video[0].size(), optionsFor(static_cast<int>(state.range(0)), state.range(1) != 0));
    bench::streamScene(state, detector);
    state.counters["frames_held"] = static_cast<double>(detector.framesHeld());
}
// Arguments: scale pairs, descriptors (hog,hof) or not.
BENCHMARK(Detector_Streaming)
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The whole volume of 12 frames, one pair at a time; items are frames.
void Detector_Baseline(benchmark::State& state) {
    setThreads();
    const std::vector<cv::Mat> video(frames().begin(), frames().begin() + 12);
    const stview::DetectorOptions options = optionsFor(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(stview::reference::detect(video, options, 0));
    state.SetItemsProcessed(state.iterations() * static_cast<long>(video.size()));
}
BENCHMARK(Detector_Baseline)
    ->Arg(1)
    ->Arg(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The descriptors' parts on their own, one thread: the optical flow of one frame pair, the
// votes of one frame, and the histograms of one point's box at the largest default scale.
void Descriptors_Flow(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat flow;
    for (auto _ : state) stview::flowField(frames()[0], frames()[1], flow);
}
BENCHMARK(Descriptors_Flow)->Unit(benchmark::kMillisecond)->UseRealTime();

void Descriptors_Votes(benchmark::State& state) {
    cv::Mat grey, field, flow;
    frames()[0].convertTo(grey, CV_32F, 1.0 / 255);
    stview::flowField(frames()[0], frames()[1], flow);
    stview::FrameVotes hog, hof;
    for (auto _ : state) {
        stview::gradientField(grey, field);
        stview::fieldVotes(field, false, hog);
        stview::fieldVotes(flow, true, hof);
    }
}
BENCHMARK(Descriptors_Votes)->Unit(benchmark::kMillisecond)->UseRealTime();

void Descriptors_Histograms(benchmark::State& state) {
    cv::Mat grey, field, flow;
    frames()[0].convertTo(grey, CV_32F, 1.0 / 255);
    stview::gradientField(grey, field);
    stview::flowField(frames()[0], frames()[1], flow);
    stview::FrameVotes hog, hof;
    stview::fieldVotes(field, false, hog);
    stview::fieldVotes(flow, true, hof);
    const stview::DescriptorBox box = stview::descriptorBox(320, 240, 20, 64, 4);
    std::vector<double> numbers;
    for (auto _ : state) {
        numbers.clear();
        stview::appendHistograms(
            box, 0, 40, [&](int) -> const stview::FrameVotes& { return hog; }, false, numbers);
        stview::appendHistograms(
            box, 0, 40, [&](int) -> const stview::FrameVotes& { return hof; }, true, numbers);
    }
}
BENCHMARK(Descriptors_Histograms)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
