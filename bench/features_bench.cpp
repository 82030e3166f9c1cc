// loadFeatures on a generated 1,000,000-line file against the getline + istringstream reader.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "features/features_file.hpp"
#include "reference_features.hpp"

namespace {

constexpr int kLines = 1000000;

std::filesystem::path gDirectory;
std::string gPath;

// Lines like "3 120 45 33 8.25 2.0 1.5e-3": a 640x480 frame, 10,000 frames, variances with two
// decimals, values in exponent form. The seed is fixed so every run reads the same bytes.
void writeFile(const std::string& path) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> column(0, 639), row(0, 479), frame(0, 9999);
    std::uniform_int_distribution<int> hundredths(100, 2500);
    std::uniform_real_distribution<double> value(1e-4, 9e-2);
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::cerr << "features_bench: cannot write " << path << "\n";
        std::exit(1);
    }
    std::fprintf(out, "# id x y t spatial-variance temporal-variance value\n");
    for (int i = 0; i < kLines; ++i) {
        std::fprintf(out, "%d %d %d %d %.2f %.1f %.1e\n", i, column(random), row(random),
                     frame(random), hundredths(random) / 100.0, hundredths(random) / 400.0,
                     value(random));
    }
    std::fclose(out);
}

bool sameRecords(const stview::FeatureList& a, const stview::FeatureList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const stview::FeaturePoint &p = a[i], &q = b[i];
        if (p.id != q.id || p.x != q.x || p.y != q.y || p.t != q.t ||
            p.spatialVariance != q.spatialVariance || p.temporalVariance != q.temporalVariance ||
            p.value != q.value)
            return false;
    }
    return true;
}

void LoadFeatures_Baseline(benchmark::State& state) {
    std::size_t records = 0;
    for (auto _ : state) {
        std::ifstream in(gPath);
        stview::FeatureList points = stview::reference::readFeatures(in);
        records = points.size();
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["records"] = static_cast<double>(records);
    state.SetItemsProcessed(state.iterations() * kLines);
}

void LoadFeatures_Fast(benchmark::State& state) {
    std::size_t records = 0;
    for (auto _ : state) {
        stview::FeatureList points = stview::loadFeatures(gPath);
        records = points.size();
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["records"] = static_cast<double>(records);
    state.SetItemsProcessed(state.iterations() * kLines);
}

// Not a loader: makes and frees 1,000,000 default records, the part of the work that no parser
// avoids (a record holds two shared pointers and a string).
void LoadFeatures_RecordsOnly(benchmark::State& state) {
    for (auto _ : state) {
        stview::FeatureList points(kLines);
        benchmark::DoNotOptimize(points.data());
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}

BENCHMARK(LoadFeatures_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFeatures_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFeatures_RecordsOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Fresh-process figures for scripts/bench.sh (a new process each time, so that every page
    // of the list is a fresh one): "--write FILE" writes the benchmark's file; "--load-once
    // FILE" loads it once; "--records-once 4k|2m" only makes 1,000,000 default records in a
    // fresh list, its pages 4 KiB ones or advised to be 2 MiB ones (the floor under any loader
    // that returns a FeatureList). Both print the milliseconds (wall, then CPU) and the count.
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "--write") {
        writeFile(argv[2]);
        return 0;
    }
    if (mode == "--load-once" || mode == "--records-once") {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        stview::FeatureList points;
        if (mode == "--load-once") {
            points = stview::loadFeatures(argv[2]);
        } else {
            points.reserve(kLines);
            if (std::string(argv[2]) == "2m") {
                stview::adviseHugePages(points.data(), kLines * sizeof(stview::FeaturePoint));
            }
            points.resize(kLines);
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        std::printf("%.1f %.1f %zu\n", took.count(),
                    1e3 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, points.size());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    gDirectory = std::filesystem::temp_directory_path() /
                 ("stview-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(gDirectory);
    gPath = (gDirectory / "features.txt").string();
    writeFile(gPath);

    // A fast loader that reads different records is broken: refuse to time it.
    std::ifstream in(gPath);
    const bool same = sameRecords(stview::reference::readFeatures(in), stview::loadFeatures(gPath));
    int status = 0;
    if (same) {
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::cerr << "features_bench: loadFeatures and the baseline read different records\n";
        status = 1;
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(gDirectory);
    return status;
}
