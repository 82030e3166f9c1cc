// Features files with HOG and HOF, text against HDF5: one file of 1,000,000 records, each
// read in a fresh process (scripts/bench-hdf5.sh runs the modes in turn).
//   --write-text FILE               the records, as stdetect writes them
//   --convert TEXT H5 ROWS DEFLATE  the text's records into HDF5 (ROWS per chunk, DEFLATE 0-9)
//   --read FILE                     reads it (the form told by content): "wall-ms cpu-ms rows"

#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "features/feature_columns.hpp"
#include "features/features_file.hpp"
#include "features/hdf5/features_hdf5.hpp"

namespace {

constexpr std::size_t kRecords = 1000000;

// Random records of a 160x120 video and descriptors of unit length whose bins are mostly
// small, as real histograms are (a uniform number to the fourth power).
stview::FeatureColumns randomColumns() {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> pixel(1, 119);
    stview::FeatureColumns columns =
        stview::emptyColumns(stview::pointDescriptorLayout(true, true));
    for (std::size_t i = 0; i < kRecords; ++i) {
        for (double field : {double(i), double(pixel(random)), double(pixel(random)),
                             double(pixel(random)), 4.0, 2.0, 1e-6 * (1 + unit(random))}) {
            columns.points.push_back(field);
        }
        for (stview::ColumnBlock& block : columns.blocks) {
            double sum = 0;
            const std::size_t first = block.values.size();
            for (int k = 0; k < block.shape.width; ++k) {
                const float u = unit(random);
                block.values.push_back(u * u * u * u);
                sum += double(block.values.back()) * block.values.back();
            }
            for (std::size_t k = first; k < block.values.size(); ++k) {
                block.values[k] = static_cast<float>(block.values[k] / std::sqrt(sum));
            }
        }
    }
    return columns;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 3 ? argv[1] : "";
    try {
        if (mode == "--write-text" && argc == 3) {
            const stview::FeatureColumns columns = randomColumns();
            std::ofstream out(argv[2], std::ios::binary);
            stview::writeFeatureHeader(out, "features_hdf5_bench", columns.layout());
            stview::writeFeatures(out, stview::featuresFromColumns(columns), columns.layout());
            return out ? 0 : 1;
        }
        if (mode == "--convert" && argc == 6) {
            std::string text;
            if (!stview::readFeaturesText(argv[2], text)) return 1;
            stview::FeatureParseReport report;
            const stview::FeatureColumns columns = stview::parseFeatureColumns(text, report);
            const auto start = std::chrono::steady_clock::now();
            stview::FeaturesFileInfo info;
            info.command = "features_hdf5_bench";
            stview::Hdf5FeaturesWriter writer(argv[3], columns.layout(), info,
                                              {std::stoul(argv[4]), std::stoi(argv[5])});
            std::vector<stview::BlockView> views;
            for (const stview::ColumnBlock& block : columns.blocks) {
                views.push_back({block.shape, block.values.data()});
            }
            writer.append(columns.points.data(), columns.size(), views);
            writer.commit();
            std::printf("%.1f\n", std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - start)
                                      .count());
            return 0;
        }
        if (mode == "--read" && argc == 3) {
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t cpu = std::clock();
            stview::FeatureColumns columns;
            if (stview::isHdf5File(argv[2])) {
                columns = stview::readHdf5Features(argv[2]);
            } else {
                std::string text;
                if (!stview::readFeaturesText(argv[2], text)) return 1;
                stview::FeatureParseReport report;
                columns = stview::parseFeatureColumns(text, report);
            }
            std::printf(
                "%.1f %.1f %zu\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count(),
                1e3 * double(std::clock() - cpu) / CLOCKS_PER_SEC, columns.size());
            return 0;
        }
    } catch (const std::exception& problem) {
        std::cerr << "features_hdf5_bench: " << problem.what() << "\n";
        return 1;
    }
    std::cerr << "usage: features_hdf5_bench --write-text FILE | --convert TEXT H5 ROWS DEFLATE"
                 " | --read FILE\n";
    return 2;
}
