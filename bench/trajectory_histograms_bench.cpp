// The dense trajectories' per-frame cell sums: construction at one size with all three blocks,
// the whole scale pyramid of a 384x288 video, one addPatch, and beside the construction the
// alternative it was chosen over: a double integral image per bin of the replicate-padded
// vote maps (cv::integral), the votes made alike.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "detector/trajectory_histograms.hpp"

namespace {

// A textured frame (values k / 255) and a smooth flow with still and slow parts.
struct Frame {
    cv::Mat grey, flow;
    explicit Frame(cv::Size size) {
        cv::Mat g8(size, CV_8UC1);
        cv::randu(g8, 0, 256);
        cv::GaussianBlur(g8, g8, cv::Size(5, 5), 1.0);
        g8.convertTo(grey, CV_32F, 1.0 / 255);
        flow.create(size, CV_32FC2);
        for (int r = 0; r < size.height; ++r)
            for (int c = 0; c < size.width; ++c)
                flow.at<cv::Vec2f>(r, c) =
                    cv::Vec2f(2.0f * std::sin(c * 0.05f), 1.5f * std::cos(r * 0.07f + c * 0.01f));
    }
};

constexpr stview::TrajectoryBlocks kAll{true, true, true};

void Histograms_Construct(benchmark::State& state) {
    const Frame f(cv::Size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    for (auto _ : state) {
        stview::FrameHistograms h(f.grey, f.flow, kAll);
        benchmark::DoNotOptimize(&h);
    }
}
BENCHMARK(Histograms_Construct)->Args({384, 288})->Args({640, 480})->Unit(benchmark::kMillisecond);

// The scales of a 384x288 video: sides lround(side 2^(-s/2)) while both are at least 32.
void Histograms_ConstructPyramid384(benchmark::State& state) {
    std::vector<Frame> scales;
    for (int s = 0; s < 8; ++s) {
        const double q = std::pow(2.0, -s / 2.0);
        const cv::Size size(static_cast<int>(std::lround(384 * q)),
                            static_cast<int>(std::lround(288 * q)));
        if (size.width < 32 || size.height < 32) break;
        scales.emplace_back(size);
    }
    for (auto _ : state)
        for (const Frame& f : scales) {
            stview::FrameHistograms h(f.grey, f.flow, kAll);
            benchmark::DoNotOptimize(&h);
        }
    state.SetLabel(std::to_string(scales.size()) + " scales");
}
BENCHMARK(Histograms_ConstructPyramid384)->Unit(benchmark::kMillisecond);

void Histograms_AddPatch(benchmark::State& state) {
    const Frame f(cv::Size(384, 288));
    const stview::FrameHistograms h(f.grey, f.flow, kAll);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> x(0, 383), y(0, 287);
    std::vector<cv::Point> points(4096);
    for (cv::Point& p : points) p = cv::Point(x(rng), y(rng));
    float hog[32] = {}, hof[36] = {}, mbhx[32] = {}, mbhy[32] = {};
    std::size_t i = 0;
    for (auto _ : state) {
        const cv::Point p = points[i++ & 4095];
        h.addPatch(p.x, p.y, hog, hof, mbhx, mbhy);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Histograms_AddPatch);

// The alternative: per bin, the padded vote plane's double integral image.
void gradientPlanes(const cv::Mat& f, std::vector<cv::Mat>& planes) {
    cv::Mat dx, dy;
    cv::Sobel(f, dx, CV_32F, 1, 0, 1, 0.5, 0, cv::BORDER_REPLICATE);
    cv::Sobel(f, dy, CV_32F, 0, 1, 1, 0.5, 0, cv::BORDER_REPLICATE);
    for (int b = 0; b < 8; ++b) planes.push_back(cv::Mat::zeros(f.size(), CV_32F));
    for (int r = 0; r < f.rows; ++r)
        for (int c = 0; c < f.cols; ++c) {
            const float gx = dx.at<float>(r, c), gy = dy.at<float>(r, c);
            planes[planes.size() - 8 + stview::directionBin(gx, gy)].at<float>(r, c) =
                std::sqrt(gx * gx + gy * gy);
        }
}

void Histograms_ConstructIntegralBaseline(benchmark::State& state) {
    const Frame f(cv::Size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    for (auto _ : state) {
        std::vector<cv::Mat> planes;
        gradientPlanes(f.grey, planes);
        cv::Mat parts[2];
        cv::split(f.flow, parts);
        for (int b = 0; b < 9; ++b) planes.push_back(cv::Mat::zeros(f.flow.size(), CV_32F));
        for (int r = 0; r < f.flow.rows; ++r)
            for (int c = 0; c < f.flow.cols; ++c) {
                const float u = parts[0].at<float>(r, c), v = parts[1].at<float>(r, c);
                planes[8 + (u * u + v * v >= 0.25f ? stview::directionBin(u, v) : 8)].at<float>(
                    r, c) = 1.0f;
            }
        gradientPlanes(parts[0], planes);
        gradientPlanes(parts[1], planes);
        std::vector<cv::Mat> sums(planes.size());
        for (std::size_t b = 0; b < planes.size(); ++b) {
            cv::Mat padded;
            cv::copyMakeBorder(planes[b], padded, 16, 16, 16, 16, cv::BORDER_REPLICATE);
            cv::integral(padded, sums[b], CV_64F);
        }
        benchmark::DoNotOptimize(sums.data());
    }
}
BENCHMARK(Histograms_ConstructIntegralBaseline)
    ->Args({384, 288})
    ->Args({640, 480})
    ->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
