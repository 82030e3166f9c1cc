#pragma once

#include <cstddef>
#include <string>

#include "features/feature_columns.hpp"
#include "features/features_file.hpp"

namespace stview {

/**
 * @brief Attaches to each record its track, as trackOf reads it: @p points[i] gets an
 * @p length x 2 CV_64FC1 matrix copied from @p tracks + 2 * length * i (x, y from the bottom,
 * row by row). @p tracks holds points.size() * length * 2 numbers.
 */
void attachTracks(FeatureList& points, const double* tracks, std::size_t length);

/**
 * @brief As above, from the "track" block of @p columns (the file's floats), if it has one.
 * @throws std::invalid_argument when that block's width is odd (not x, y pairs).
 */
void attachTracks(FeatureList& points, const FeatureColumns& columns);

/**
 * @brief loadFeatures for drawing: the same records, messages and outcome, and for a file
 * whose "# columns:" header names a track block, each record's track attached.
 * @throws std::invalid_argument naming the line whose track numbers are missing or broken,
 *         or a track block that does not hold x, y pairs.
 */
FeaturesLoad loadViewedFeatures(const std::string& path, FeatureList& points);

}  // namespace stview
