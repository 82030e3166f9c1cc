// Each detector beside harris on the same 640x480 frames of drifting texture, the ten default
// pairs, frames per second once the pipeline is full (threads: OpenCV's pool, all cores unless
// STVIEW_BENCH_THREADS says otherwise). Their whole-volume references are the numpy ones of
// the Python tests, timed by bench/detector_kinds_reference.py.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "drifting_scene.hpp"

#include "detector/space_time_detector.hpp"

namespace {

const std::vector<cv::Mat>& frames() { return bench::driftingScene(); }

// One iteration adds one frame to a detector whose pipeline is already full. Arguments: the
// detector, descriptors (hog,hof) or not.
void Detector_Kind(benchmark::State& state) {
    if (const char* n = std::getenv("STVIEW_BENCH_THREADS")) cv::setNumThreads(std::atoi(n));
    const std::vector<cv::Mat>& video = frames();
    const auto kind = static_cast<stview::DetectorKind>(state.range(0));
    stview::DetectorOptions options = stview::detectorDefaults(kind);
    options.hog = options.hof = state.range(1) != 0;
    state.SetLabel(std::string(stview::detectorName(kind)) + (options.hog ? " hog,hof" : ""));
    stview::SpaceTimeDetector detector(video[0].size(), options);
    bench::streamScene(state, detector);
}
BENCHMARK(Detector_Kind)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
