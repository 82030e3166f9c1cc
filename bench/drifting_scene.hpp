#pragma once

// The detector benchmarks' scene (grey 640x480 frames of a textured scene moving a pixel per
// frame, with a little noise, made once) and their timing loop.

#include <vector>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "detector/space_time_detector.hpp"

namespace bench {

constexpr int kWidth = 640, kHeight = 480;

inline const std::vector<cv::Mat>& driftingScene() {
    static const std::vector<cv::Mat> video = [] {
        cv::Mat texture(kHeight + 64, kWidth + 64, CV_8UC1);
        cv::theRNG().state = 11;
        cv::randu(texture, 0, 256);
        cv::GaussianBlur(texture, texture, cv::Size(0, 0), 2.0);
        cv::normalize(texture, texture, 0, 255, cv::NORM_MINMAX);
        std::vector<cv::Mat> out;
        for (int t = 0; t < 32; ++t) {
            cv::Mat frame = texture(cv::Rect(t, t / 2, kWidth, kHeight)).clone(),
                    noise(frame.size(), CV_8UC1);
            cv::randu(noise, 0, 8);
            out.push_back(frame + noise);
        }
        return out;
    }();
    return video;
}

/// One iteration adds one frame of the scene to @p detector once its pipeline is full; items
/// are frames, and points_per_frame counts what the detector appended.
inline void streamScene(benchmark::State& state, stview::SpaceTimeDetector& detector) {
    const std::vector<cv::Mat>& video = driftingScene();
    stview::FeatureList points;
    for (int t = 0; t < 40; ++t) detector.addFrame(video[t % video.size()], points);
    std::size_t t = 0, found = 0;
    for (auto _ : state) {
        points.clear();
        detector.addFrame(video[t++ % video.size()], points);
        found += points.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["points_per_frame"] = static_cast<double>(found) / state.iterations();
}

}  // namespace bench
