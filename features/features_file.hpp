#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "features/feature_point.hpp"

namespace stview {

/// What a parse of a features text met besides the records it stored.
struct FeatureParseReport {
    std::size_t skippedLines = 0;      ///< non-blank, non-comment lines without seven numbers
    std::size_t firstSkippedLine = 0;  ///< 1-based number of the first of them, 0 when none
};

/**
 * @brief Reads one data line: id, x, y, t (integers) then spatial variance,
 * temporal variance and value (reals), separated by white space, as standard
 * stream extraction reads them. Anything after the seventh number is ignored
 * (and left in @p rest when given).
 * @return true and fills @p out when the line holds the seven numbers; false
 * otherwise, leaving @p out unspecified.
 */
bool parseFeatureLine(std::string_view line, FeaturePoint& out, std::string_view* rest = nullptr);

/**
 * @brief Asks the kernel to back the 2 MiB-aligned part of [data, data + bytes) with 2 MiB
 * pages before it is first written: a large fresh buffer (a million 120-byte records) then
 * costs one page fault per 2 MiB instead of one per 4 KiB, most of a fresh process's loading
 * time otherwise. Only advice (Linux's transparent huge pages in "madvise" or "always" mode);
 * elsewhere nothing changes.
 */
void adviseHugePages(void* data, std::size_t bytes);

/// True when the line holds only white space (or nothing): such lines are skipped silently.
bool isBlankLine(std::string_view line);

/// @p text without a leading UTF-8 byte-order mark, if it has one.
std::string_view withoutByteOrderMark(std::string_view text);

/// Reads the whole of a file (or pipe) into @p text; false when it cannot be read.
bool readFeaturesText(const std::string& path, std::string& text);

/// Reports skipped lines on standard error with their count and the first one's number;
/// nothing when none was skipped.
void reportSkippedLines(const std::string& path, const FeatureParseReport& report);

/**
 * @brief Parses the whole text of a features file. Lines starting with '#' are
 * comments; blank lines are skipped silently; any other line that does not hold
 * the seven numbers is skipped and counted in @p report. A UTF-8 byte-order mark
 * at the start is ignored. Lines end at '\n'; a '\r' before it is white space.
 */
FeatureList parseFeatures(std::string_view text, FeatureParseReport& report);

/// What loading a features file came to.
enum class FeaturesLoad {
    Loaded,      ///< records read, or a file with none and nothing else (empty, header only)
    Unreadable,  ///< the file could not be read
    NoRecord,    ///< no record, but lines that are neither blank nor comments (not such a file)
};

/**
 * @brief Loads a features file into @p points. When it cannot be read, writes
 * "Unable to open file <path>" to standard output. Skipped lines are reported on
 * standard error with their count and the number of the first one. Never throws
 * for bad content.
 */
FeaturesLoad loadFeatures(const std::string& path, FeatureList& points);

/// As above, the list alone: empty when the file cannot be read.
FeatureList loadFeatures(const std::string& path);

/**
 * @brief Writes one line per record: id, x, y, t, spatial variance, temporal variance and
 * value, then the attached array's numbers (if any) as further columns, separated by
 * spaces. Reals are written in their shortest form that reads back to the same double, so
 * parseFeatures gives back exactly the first seven fields; array numbers (descriptors, whose
 * precision is a float's) are rounded to float and written with "%.4g". Writes no header: callers
 * add their own '#' lines.
 */
void writeFeatures(std::ostream& out, const FeatureList& points);

}  // namespace stview
