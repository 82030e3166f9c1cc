// The space-time buffer's scans on 9 slots of 640x480 smoothed noise:
// FindLocalMaxima against the tests' brute-force search (tests/support/brute_force_maxima.hpp),
// and ConvolveTime against cv::gemm on the same storage.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "spacetime/frame_buffer.hpp"
#include "spacetime/frame_ring.hpp"
#include "tests/support/brute_force_maxima.hpp"

namespace {

constexpr int kSlots = 9;
constexpr int kWidth = 640, kHeight = 480;
constexpr std::int64_t kStorageBytes =
    std::int64_t{kSlots} * kWidth * kHeight * static_cast<std::int64_t>(sizeof(float));

struct Scene {
    stview::FrameBuffer buffer{kSlots};
    std::vector<cv::Mat> slots;  // a copy of each slot, height x width CV_32FC1
    std::vector<int> order;      // order[age] = slot, age 0 the newest
    std::vector<cv::Mat> byAge;  // the slots' copies by age
    std::vector<int> numbers;    // their frame numbers by age
    cv::Mat storage;             // kSlots x (width*height) CV_32FC1, one slot per row
    std::vector<double> kernel;  // by age
    cv::Mat weights;             // 1 x kSlots CV_32FC1, by slot
};

Scene& scene() {
    static Scene* s = [] {
        auto* scene = new Scene;
        cv::RNG random(7);
        for (int f = 0; f < kSlots; ++f) {
            cv::Mat noise(kHeight, kWidth, CV_32FC1), smooth;
            random.fill(noise, cv::RNG::UNIFORM, 0.0f, 1.0f);
            cv::GaussianBlur(noise, smooth, cv::Size(0, 0), 1.5, 0, cv::BORDER_REPLICATE);
            scene->buffer.AddFrame(smooth);
        }
        stview::FrameRing ring = scene->buffer.Ring();
        scene->order = ring.UpdateAges();
        scene->storage.create(kSlots, kWidth * kHeight, CV_32FC1);
        for (int slot = 0; slot < kSlots; ++slot) {
            cv::Mat image;
            scene->buffer.GetFrameAtSlot(slot, image);
            scene->slots.push_back(image);
            image.reshape(1, 1).copyTo(scene->storage.row(slot));
        }
        for (const int slot : scene->order) {
            scene->byAge.push_back(scene->slots[static_cast<std::size_t>(slot)]);
            scene->numbers.push_back(ring.FrameAt(slot));
        }
        scene->weights.create(1, kSlots, CV_32FC1);
        double sum = 0.0;
        for (int k = 0; k < kSlots; ++k) {
            const double d = k - (kSlots - 1) / 2.0;
            scene->kernel.push_back(std::exp(-d * d / (2.0 * 2.0 * 2.0)));
            sum += scene->kernel.back();
        }
        for (int k = 0; k < kSlots; ++k) {
            scene->kernel[static_cast<std::size_t>(k)] /= sum;
            scene->weights.at<float>(0, scene->order[static_cast<std::size_t>(k)]) =
                static_cast<float>(scene->kernel[static_cast<std::size_t>(k)]);
        }
        return scene;
    }();
    return *s;
}

void literalScan(bool full, stview::FeatureList& out) {
    stview::test::bruteForceMaxima(scene().byAge, scene().numbers, full, out);
}

bool sameRecords(const stview::FeatureList& a, const stview::FeatureList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].t != b[i].t || a[i].value != b[i].value)
            return false;
    return true;
}

// Checked once before timing: the fast scan and the literal one find the same records, and
// ConvolveTime agrees with gemm to float rounding.
bool fastPathsAgree() {
    bool ok = true;
    for (const bool full : {true, false}) {
        stview::FeatureList literal, fast;
        literalScan(full, literal);
        scene().buffer.FindLocalMaxima(fast, full);
        std::cerr << "FindLocalMaxima(" << (full ? 26 : 10) << "): " << fast.size()
                  << " records, literal scan: " << literal.size() << "\n";
        if (!sameRecords(literal, fast)) {
            std::cerr << "spacetime_bench: FindLocalMaxima differs from the literal scan\n";
            ok = false;
        }
    }
    cv::Mat convolved, product;
    scene().buffer.ConvolveTime(convolved, scene().kernel);
    cv::gemm(scene().weights, scene().storage, 1.0, cv::noArray(), 0.0, product);
    const double difference = cv::norm(convolved.reshape(1, 1), product, cv::NORM_INF);
    if (!(difference <= 1e-5)) {
        std::cerr << "spacetime_bench: ConvolveTime differs from gemm by " << difference << "\n";
        ok = false;
    }
    return ok;
}

void maximaLiteral(benchmark::State& state, bool full) {
    std::size_t records = 0;
    for (auto _ : state) {
        stview::FeatureList points;
        literalScan(full, points);
        records = points.size();
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["records"] = static_cast<double>(records);
}

void maximaFast(benchmark::State& state, bool full) {
    std::size_t records = 0;
    for (auto _ : state) {
        stview::FeatureList points;
        scene().buffer.FindLocalMaxima(points, full);
        records = points.size();
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["records"] = static_cast<double>(records);
}

void FindLocalMaxima26_Literal(benchmark::State& state) { maximaLiteral(state, true); }
void FindLocalMaxima26_Fast(benchmark::State& state) { maximaFast(state, true); }
void FindLocalMaxima10_Literal(benchmark::State& state) { maximaLiteral(state, false); }
void FindLocalMaxima10_Fast(benchmark::State& state) { maximaFast(state, false); }

void ConvolveTime_Gemm(benchmark::State& state) {
    cv::Mat out;
    for (auto _ : state) {
        cv::gemm(scene().weights, scene().storage, 1.0, cv::noArray(), 0.0, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(state.iterations() * kStorageBytes);
}

void ConvolveTime_Fast(benchmark::State& state) {
    cv::Mat out;
    for (auto _ : state) {
        scene().buffer.ConvolveTime(out, scene().kernel);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(state.iterations() * kStorageBytes);
}

BENCHMARK(FindLocalMaxima26_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(FindLocalMaxima26_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(FindLocalMaxima10_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(FindLocalMaxima10_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvolveTime_Gemm)->Unit(benchmark::kMicrosecond);
BENCHMARK(ConvolveTime_Fast)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!fastPathsAgree()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
