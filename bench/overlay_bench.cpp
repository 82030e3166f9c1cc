// Drawing one frame of a 1,000,000-point list spread over 10,000 frames (640x480): the plain
// scan of drawFeatures, FeatureIndex::draw, and drawFeatures on a list that holds only the
// points visible in that frame (the cost the index aims at). And one frame of 100,000
// trajectories (L = 15) over 1,000 frames, drawn as tracks and as the same records' circles.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <vector>

#include <opencv2/core.hpp>

#include "features/feature_point.hpp"
#include "viewer/feature_index.hpp"
#include "viewer/overlay.hpp"

namespace {

constexpr int kPoints = 1000000;
constexpr int kFrames = 10000;
constexpr int kWidth = 640, kHeight = 480;
// Every iteration draws the next of these frames, spread over the whole video.
constexpr int kSampledFrames = 200;

struct Scene {
    stview::FeatureList points;
    std::vector<int> frames;
    std::vector<stview::FeatureList> visible;  // by sampled frame
};

// Points uniform over the frame and the video; each lasts 3 to 5 frames
// (temporal variance 2 to 6.25) and has a radius of 3 to 15 pixels.
Scene makeScene() {
    Scene scene;
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> column(0, kWidth - 1), row(0, kHeight - 1),
        frame(0, kFrames - 1);
    std::uniform_real_distribution<double> spatial(1.0, 25.0), temporal(2.0, 6.25);
    scene.points.resize(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        stview::FeaturePoint& p = scene.points[static_cast<std::size_t>(i)];
        p.id = i;
        p.x = column(random);
        p.y = row(random);
        p.t = frame(random);
        p.spatialVariance = spatial(random);
        p.temporalVariance = temporal(random);
    }
    for (int k = 0; k < kSampledFrames; ++k) {
        const int f = k * (kFrames / kSampledFrames) + 25;
        scene.frames.push_back(f);
        stview::FeatureList visible;
        for (const stview::FeaturePoint& p : scene.points)
            if (stview::isVisibleInFrame(p, f)) visible.push_back(p);
        scene.visible.push_back(std::move(visible));
    }
    return scene;
}

const Scene& scene() {
    static const Scene s = makeScene();
    return s;
}

const stview::FeatureIndex& index() {
    static const stview::FeatureIndex i(scene().points);
    return i;
}

// Checked once: all three ways draw the same pixels in the sampled frames, or nothing is timed.
bool samePixels() {
    for (std::size_t k = 0; k < scene().frames.size(); k += 20) {
        const int f = scene().frames[k];
        cv::Mat plain = cv::Mat::zeros(kHeight, kWidth, CV_8UC3);
        cv::Mat indexed = plain.clone(), visible = plain.clone();
        stview::drawFeatures(scene().points, plain, f);
        index().draw(indexed, f);
        stview::drawFeatures(scene().visible[k], visible, f);
        if (cv::norm(plain, indexed, cv::NORM_INF) != 0.0 ||
            cv::norm(plain, visible, cv::NORM_INF) != 0.0)
            return false;
    }
    return true;
}

// The frame is not cleared between iterations: drawing costs the same on any content.
template <typename Draw>
void drawFrames(benchmark::State& state, Draw draw) {
    cv::Mat frame = cv::Mat::zeros(kHeight, kWidth, CV_8UC3);
    std::size_t k = 0;
    for (auto _ : state) {
        draw(frame, k);
        benchmark::ClobberMemory();
        k = (k + 1) % scene().frames.size();
    }
    std::size_t visible = 0;
    for (const auto& list : scene().visible) visible += list.size();
    state.counters["visible_per_frame"] =
        static_cast<double>(visible) / static_cast<double>(scene().visible.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));  // frames
}

void DrawFeatures_PlainScan(benchmark::State& state) {
    drawFrames(state, [](cv::Mat& frame, std::size_t k) {
        stview::drawFeatures(scene().points, frame, scene().frames[k]);
    });
}

void DrawFeatures_Index(benchmark::State& state) {
    drawFrames(state,
               [](cv::Mat& frame, std::size_t k) { index().draw(frame, scene().frames[k]); });
}

void DrawFeatures_VisibleOnly(benchmark::State& state) {
    drawFrames(state, [](cv::Mat& frame, std::size_t k) {
        stview::drawFeatures(scene().visible[k], frame, scene().frames[k]);
    });
}

constexpr int kTracks = 100000;
constexpr int kTrackFrames = 1000;
constexpr int kTrackLength = 15;

// Trajectories as the detector writes them: t uniform over the video, sigma2 (32 / 6)^2 and
// tau2 (L / 2)^2 (circles of radius 15 shown on 15 frames), L + 1 points from a random start
// moving up to 2 pixels a frame; or the same records without their tracks.
stview::FeatureList makeTracks(bool withTracks) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> column(0, kWidth - 1), row(0, kHeight - 1),
        move(-2.0, 2.0);
    std::uniform_int_distribution<int> frame(0, kTrackFrames - 1);
    stview::FeatureList points(kTracks);
    for (int i = 0; i < kTracks; ++i) {
        stview::FeaturePoint& p = points[static_cast<std::size_t>(i)];
        auto track = std::make_shared<cv::Mat>(kTrackLength + 1, 2, CV_64FC1);
        double x = column(random), y = row(random);
        for (int k = 0; k <= kTrackLength; ++k) {
            track->at<double>(k, 0) = x += move(random);
            track->at<double>(k, 1) = y += move(random);
        }
        p.id = i;
        p.x = static_cast<int>(std::lround(x));
        p.y = static_cast<int>(std::lround(y));
        p.t = frame(random);
        p.spatialVariance = (32.0 / 6) * (32.0 / 6);
        p.temporalVariance = kTrackLength * kTrackLength / 4.0;
        p.value = 1;
        if (withTracks) p.matrix = std::move(track);
    }
    return points;
}

const stview::FeatureList& tracks() {
    static const stview::FeatureList t = makeTracks(true);
    return t;
}

int trackFrame(std::size_t k) {
    return static_cast<int>(k % kSampledFrames) * (kTrackFrames / kSampledFrames) + 3;
}

// Checked once, as the circles are: the index draws the tracks as the plain scan does.
bool sameTrackPixels() {
    const stview::FeatureIndex index(tracks());
    for (std::size_t k = 0; k < kSampledFrames; k += 20) {
        cv::Mat plain = cv::Mat::zeros(kHeight, kWidth, CV_8UC3), indexed = plain.clone();
        stview::drawFeatures(tracks(), plain, trackFrame(k));
        index.draw(indexed, trackFrame(k));
        if (cv::norm(plain, indexed, cv::NORM_INF) != 0.0) return false;
    }
    return true;
}

void drawTrackFrames(benchmark::State& state, const stview::FeatureIndex& index) {
    cv::Mat frame = cv::Mat::zeros(kHeight, kWidth, CV_8UC3);
    std::size_t k = 0, shown = 0;
    for (auto _ : state) {
        shown += static_cast<std::size_t>(index.draw(frame, trackFrame(k++)));
        benchmark::ClobberMemory();
    }
    state.counters["shown_per_frame"] =
        static_cast<double>(shown) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));  // frames
}

void DrawTracks_Index(benchmark::State& state) {
    static const stview::FeatureIndex index(tracks());
    drawTrackFrames(state, index);
}

void DrawTracks_SameRecordsAsCircles(benchmark::State& state) {
    static const stview::FeatureIndex index(makeTracks(false));
    drawTrackFrames(state, index);
}

BENCHMARK(DrawFeatures_PlainScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawFeatures_Index)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawFeatures_VisibleOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawTracks_Index)->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawTracks_SameRecordsAsCircles)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!sameTrackPixels()) {
        std::cerr << "overlay_bench: FeatureIndex::draw and drawFeatures draw different tracks\n";
        return 1;
    }
    if (!samePixels()) {
        std::cerr << "overlay_bench: FeatureIndex::draw, drawFeatures and the visible-only list "
                     "draw different pixels\n";
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
