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

/// A block of numbers that follows the seven fields on every line of a features file: a
/// trajectory's track or a descriptor. Its name and width are what the "# columns:" header
/// line says, as name[width]: track[32], trajectory[30], hog[72] or hog[96], hof[90] or
/// hof[108], mbh[192].
struct BlockShape {
    std::string name;
    int width = 0;
    bool operator==(const BlockShape& other) const {
        return name == other.name && width == other.width;
    }
};

/// The blocks of a file's records, in the order they follow the seven fields.
using ColumnLayout = std::vector<BlockShape>;

/// The point detectors' layout: hog[72] and hof[90] when asked for, in that order.
ColumnLayout pointDescriptorLayout(bool hog, bool hof);

/// True for a block whose numbers are written in their shortest exact float form (a track's
/// positions); the others are descriptors, written with "%.4g".
bool isExactBlock(std::string_view name);

/// Numbers per record after the seven fields: the sum of the widths.
std::size_t layoutWidth(const ColumnLayout& layout);

/// "hog[72] hof[90]": the layout as the header names it (empty for none).
std::string layoutText(const ColumnLayout& layout);

/// One block's numbers for every record.
struct ColumnBlock {
    BlockShape shape;
    std::vector<float> values;  ///< N x shape.width, row by row
};

/// Records as columns: what a features file holds, laid out for arrays.
struct FeatureColumns {
    std::vector<double> points;       ///< N x 7, row by row: id, x, y, t, sigma^2, tau^2, value
    std::vector<ColumnBlock> blocks;  ///< in the layout's order
    std::size_t size() const { return points.size() / kFeatureFields; }
    ColumnLayout layout() const;
    /// The block called @p name, or null when the records have none.
    const ColumnBlock* find(std::string_view name) const;
};

/// Columns with no record and the blocks of @p layout.
FeatureColumns emptyColumns(const ColumnLayout& layout);

/**
 * @brief The layout of a features text: the blocks its "# columns:" header line names (each
 * word name[width] after the seven fields); without that line, as many as the first record's
 * columns say (79: hog[72], 97: hof[90], 169: both; any other count: none).
 * @throws std::invalid_argument for a header block whose width is not a positive number, or
 *         a name given twice.
 */
ColumnLayout layoutOfText(std::string_view text);

/**
 * @brief Parses a features text as parseFeatures does (the same records, the same lines
 * skipped and counted in @p report) into columns, with the blocks layoutOfText finds read as
 * floats after the seventh number (further numbers are ignored).
 * @throws std::invalid_argument naming the line when a record lacks a block's number.
 */
FeatureColumns parseFeatureColumns(std::string_view text, FeatureParseReport& report);

/**
 * @brief The header lines stdetect writes before its records: what made the file
 * (@p command), the columns (the seventh is "value" for tracks, the response "H" otherwise;
 * the layout's blocks after it) and how to read them.
 */
void writeFeatureHeader(std::ostream& out, const std::string& command, const ColumnLayout& layout);

/// One block's numbers for rows 0 … N − 1, @p shape.width per row, from a caller's array.
struct BlockView {
    BlockShape shape;
    const float* values = nullptr;
};

/**
 * @brief Records from columns (@p points N x 7 as in FeatureColumns), the blocks' numbers
 * attached as each record's array in the order given.
 * @throws std::invalid_argument naming the row and column when id, x, y or t is not a whole
 *         number within int's range.
 */
FeatureList featuresFromColumns(const double* points, std::size_t count,
                                const std::vector<BlockView>& blocks = {});

/// As above, from columns of our own.
FeatureList featuresFromColumns(const FeatureColumns& columns);

/**
 * @brief Appends records to columns: the seven fields, and the numbers the records' arrays
 * hold, split into the columns' blocks in order, as featuresFromColumns attaches them.
 * @throws std::invalid_argument naming the record when its array is shorter than the
 *         layout's width.
 */
void appendColumns(const FeatureList& points, FeatureColumns& columns);

/**
 * @brief writeFeatures with the blocks of @p layout: a block isExactBlock names is written in
 * its shortest exact float form (it reads back to the same float), the others with "%.4g" of
 * the float. Numbers beyond the layout's width are written with "%.4g" too.
 */
void writeFeatures(std::ostream& out, const FeatureList& points, const ColumnLayout& layout);

}  // namespace stview
