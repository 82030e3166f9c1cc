#include "viewer/viewed_features.hpp"

#include <iostream>
#include <memory>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <vector>

namespace stview {

void attachTracks(FeatureList& points, const double* tracks, std::size_t length) {
    const std::size_t numbers = 2 * length;
    for (std::size_t i = 0; i < points.size(); ++i) {
        auto track = std::make_shared<cv::Mat>(static_cast<int>(length), 2, CV_64FC1);
        std::copy(tracks + i * numbers, tracks + (i + 1) * numbers, track->ptr<double>());
        points[i].matrix = std::move(track);
    }
}

void attachTracks(FeatureList& points, const FeatureColumns& columns) {
    const ColumnBlock* block = columns.find("track");
    if (block == nullptr) return;
    const auto width = static_cast<std::size_t>(block->shape.width);
    if (width % 2 != 0) {
        throw std::invalid_argument("the track block is " + std::to_string(width) +
                                    " numbers wide, not x, y pairs");
    }
    const std::vector<double> tracks(block->values.begin(), block->values.end());
    attachTracks(points, tracks.data(), width / 2);
}

FeaturesLoad loadViewedFeatures(const std::string& path, FeatureList& points) {
    points.clear();
    std::string text;
    if (!readFeaturesText(path, text)) {
        std::cout << "Unable to open file " << path << std::endl;
        return FeaturesLoad::Unreadable;
    }
    bool tracked = false;
    try {
        for (const BlockShape& block : layoutOfText(withoutByteOrderMark(text)))
            tracked = tracked || block.name == "track";
    } catch (const std::invalid_argument&) {
        // A header the blocks cannot be read from: the seven fields are drawn as always.
    }
    FeatureParseReport report;
    if (tracked) {
        try {
            const FeatureColumns columns = parseFeatureColumns(text, report);
            points = featuresFromColumns(columns.points.data(), columns.size());
            attachTracks(points, columns);
        } catch (const std::invalid_argument& problem) {
            points.clear();
            throw std::invalid_argument("the features file " + path + ": " + problem.what() +
                                        "; nothing is played");
        }
    } else {
        points = parseFeatures(text, report);
    }
    reportSkippedLines(path, report);
    return points.empty() && report.skippedLines > 0 ? FeaturesLoad::NoRecord
                                                     : FeaturesLoad::Loaded;
}

}  // namespace stview
