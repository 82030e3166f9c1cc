#include "features/feature_columns.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>

namespace stview {
namespace {

constexpr std::string_view kColumnsLine = "# columns:";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Splits off the next line of @p text (without its '\n').
std::string_view nextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

std::size_t countWords(std::string_view line) {
    std::size_t words = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!isSpace(line[i]) && (i == 0 || isSpace(line[i - 1]))) ++words;
    }
    return words;
}

// Reads @p count floats separated by white space from the front of @p rest.
bool readFloats(std::string_view& rest, float* out, int count) {
    const char* p = rest.data();
    const char* end = p + rest.size();
    for (int i = 0; i < count; ++i) {
        const char* start = p;
        while (p != end && isSpace(*p)) ++p;
        if (p == start && i > 0) return false;  // numbers need a separator
        const auto result = std::from_chars(p, end, out[i]);
        if (result.ec != std::errc() || (result.ptr != end && !isSpace(*result.ptr))) {
            return false;
        }
        p = result.ptr;
    }
    rest.remove_prefix(static_cast<std::size_t>(p - rest.data()));
    return true;
}

int wholeField(double value, std::size_t row, const char* name) {
    if (!(value == std::floor(value)) || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max()) {
        throw std::invalid_argument("points[" + std::to_string(row) + "] " + name + " = " +
                                    std::to_string(value) +
                                    " is not a whole number in int's range");
    }
    return static_cast<int>(value);
}

}  // namespace

void descriptorsOfText(std::string_view text, bool& hog, bool& hof) {
    hog = hof = false;
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        if (line.substr(0, kColumnsLine.size()) == kColumnsLine) {
            hog = line.find(" hog[72]") != std::string_view::npos;
            hof = line.find(" hof[90]") != std::string_view::npos;
            return;
        }
        if (line.empty() || line.front() == '#' || isBlankLine(line)) continue;
        FeaturePoint point;
        if (!parseFeatureLine(line, point)) continue;
        const std::size_t columns = countWords(line);
        hog = columns == kFeatureFields + kHogLength ||
              columns == kFeatureFields + kHogLength + kHofLength;
        hof = columns == kFeatureFields + kHofLength ||
              columns == kFeatureFields + kHogLength + kHofLength;
        return;
    }
}

FeatureColumns parseFeatureColumns(std::string_view text, FeatureParseReport& report) {
    report = FeatureParseReport{};
    FeatureColumns columns;
    text = withoutByteOrderMark(text);
    descriptorsOfText(text, columns.hasHog, columns.hasHof);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    columns.points.reserve(lines * kFeatureFields);
    if (columns.hasHog) columns.hog.reserve(lines * kHogLength);
    if (columns.hasHof) columns.hof.reserve(lines * kHofLength);
    for (std::vector<float>* v : {&columns.hog, &columns.hof}) {
        adviseHugePages(v->data(), v->capacity() * sizeof(float));
    }
    adviseHugePages(columns.points.data(), columns.points.capacity() * sizeof(double));
    std::size_t lineNumber = 0;
    FeaturePoint point;
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        ++lineNumber;
        if (!line.empty() && line.front() == '#') continue;
        std::string_view rest;
        if (!parseFeatureLine(line, point, &rest)) {
            if (!isBlankLine(line) && report.skippedLines++ == 0) {
                report.firstSkippedLine = lineNumber;
            }
            continue;
        }
        for (double field : {double(point.id), double(point.x), double(point.y), double(point.t),
                             point.spatialVariance, point.temporalVariance, point.value}) {
            columns.points.push_back(field);
        }
        for (auto [wanted, length, out] : {std::tuple(columns.hasHog, kHogLength, &columns.hog),
                                           std::tuple(columns.hasHof, kHofLength, &columns.hof)}) {
            if (!wanted) continue;
            out->resize(out->size() + length);
            if (!readFloats(rest, out->data() + out->size() - length, length)) {
                throw std::invalid_argument(
                    "line " + std::to_string(lineNumber) + " lacks its " +
                    (length == kHogLength ? "HOG" : "HOF") + " descriptor (" +
                    std::to_string(length) + " numbers after the seven columns" +
                    (columns.hasHog && length == kHofLength ? " and the HOG's 72)" : ")"));
            }
        }
    }
    return columns;
}

void writeFeatureHeader(std::ostream& out, const std::string& command, bool hog, bool hof) {
    out << "# space-time interest points (stdetect)\n# command: " << command << '\n'
        << kColumnsLine << " id x y t sigma2 tau2 H";
    if (hog) out << " hog[72]";
    if (hof) out << " hof[90]";
    out << "\n# y counts upward from the bottom edge, t is the zero-based frame number";
    if (hog || hof) {
        out << "; descriptors by cell (t, row, column) of 3x3x2, then bin: hog right down left "
               "up, hof right down left up still";
    }
    out << '\n';
}

FeatureList featuresFromColumns(const double* points, std::size_t count, const float* hog,
                                const float* hof) {
    FeatureList list(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = points + i * kFeatureFields;
        FeaturePoint& p = list[i];
        p.id = wholeField(row[0], i, "id");
        p.x = wholeField(row[1], i, "x");
        p.y = wholeField(row[2], i, "y");
        p.t = wholeField(row[3], i, "t");
        p.spatialVariance = row[4];
        p.temporalVariance = row[5];
        p.value = row[6];
        if (hog || hof) {
            auto array = std::make_shared<std::vector<double>>();
            if (hog) array->assign(hog + i * kHogLength, hog + (i + 1) * kHogLength);
            if (hof) array->insert(array->end(), hof + i * kHofLength, hof + (i + 1) * kHofLength);
            p.array = std::move(array);
        }
    }
    return list;
}

void appendColumns(const FeatureList& points, FeatureColumns& columns) {
    const bool hog = columns.hasHog, hof = columns.hasHof;
    const std::size_t length = (hog ? kHogLength : 0) + (hof ? kHofLength : 0);
    for (const FeaturePoint& p : points) {
        if (length > 0 && (!p.array || p.array->size() < length)) {
            throw std::invalid_argument("record " + std::to_string(p.id) + " holds " +
                                        std::to_string(p.array ? p.array->size() : 0) +
                                        " descriptor numbers, not " + std::to_string(length));
        }
        for (double field : {double(p.id), double(p.x), double(p.y), double(p.t), p.spatialVariance,
                             p.temporalVariance, p.value}) {
            columns.points.push_back(field);
        }
        if (length == 0) continue;
        const double* values = p.array->data();
        if (hog) columns.hog.insert(columns.hog.end(), values, values + kHogLength);
        if (hof)
            columns.hof.insert(columns.hof.end(), values + length - kHofLength, values + length);
    }
}

}  // namespace stview
