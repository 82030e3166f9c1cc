#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "features/feature_point.hpp"
#include "features/features_file.hpp"

namespace stview {

constexpr int kFeatureFields = 7;  ///< id, x, y, t, sigma^2, tau^2, value
constexpr int kHogLength = 72;     ///< 3 x 3 x 2 cells of 4 bins
constexpr int kHofLength = 90;     ///< 3 x 3 x 2 cells of 5 bins

/// Records as columns: what a features file holds, laid out for arrays.
struct FeatureColumns {
    std::vector<double> points;  ///< N x 7, row by row: id, x, y, t, sigma^2, tau^2, value
    std::vector<float> hog;      ///< N x 72 when hasHog, else empty
    std::vector<float> hof;      ///< N x 90 when hasHof, else empty
    bool hasHog = false;
    bool hasHof = false;
    std::size_t size() const { return points.size() / kFeatureFields; }
};

/**
 * @brief Which descriptors a features text holds: those its "# columns:" header line names
 * (hog[72], hof[90]); without that line, as many as the first record's columns say (79: HOG,
 * 97: HOF, 169: both; any other count: none).
 */
void descriptorsOfText(std::string_view text, bool& hog, bool& hof);

/**
 * @brief Parses a features text as parseFeatures does (the same records, the same lines
 * skipped and counted in @p report) into columns, with the descriptors descriptorsOfText
 * finds read as floats after the seventh number (further numbers are ignored).
 * @throws std::invalid_argument naming the line when a record lacks a descriptor number.
 */
FeatureColumns parseFeatureColumns(std::string_view text, FeatureParseReport& report);

/**
 * @brief The header lines stdetect writes before its records: what made the file
 * (@p command), the columns (hog[72] and hof[90] when present) and how to read them.
 */
void writeFeatureHeader(std::ostream& out, const std::string& command, bool hog, bool hof);

/**
 * @brief Records from columns (@p points N x 7 as in FeatureColumns; @p hog N x 72 and
 * @p hof N x 90, either may be null), the descriptors attached as each record's array, HOG
 * first, as the detector attaches them.
 * @throws std::invalid_argument naming the row and column when id, x, y or t is not a whole
 *         number within int's range.
 */
FeatureList featuresFromColumns(const double* points, std::size_t count, const float* hog,
                                const float* hof);

/**
 * @brief Appends records to columns: the seven fields, and the descriptors the records'
 * arrays hold (HOG first when columns.hasHog, then HOF when columns.hasHof), as
 * featuresFromColumns takes them.
 * @throws std::invalid_argument naming the record when its array is shorter than that.
 */
void appendColumns(const FeatureList& points, FeatureColumns& columns);

}  // namespace stview
