#include "features/feature_columns.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

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

ColumnLayout pointDescriptorLayout(bool hog, bool hof) {
    ColumnLayout layout;
    if (hog) layout.push_back({"hog", kHogLength});
    if (hof) layout.push_back({"hof", kHofLength});
    return layout;
}

bool isExactBlock(std::string_view name) { return name == "track"; }

std::size_t layoutWidth(const ColumnLayout& layout) {
    std::size_t width = 0;
    for (const BlockShape& block : layout) width += static_cast<std::size_t>(block.width);
    return width;
}

std::string layoutText(const ColumnLayout& layout) {
    std::string text;
    for (const BlockShape& block : layout) {
        if (!text.empty()) text += ' ';
        text += block.name + '[' + std::to_string(block.width) + ']';
    }
    return text;
}

ColumnLayout FeatureColumns::layout() const {
    ColumnLayout shapes;
    for (const ColumnBlock& block : blocks) shapes.push_back(block.shape);
    return shapes;
}

const ColumnBlock* FeatureColumns::find(std::string_view name) const {
    for (const ColumnBlock& block : blocks) {
        if (block.shape.name == name) return &block;
    }
    return nullptr;
}

FeatureColumns emptyColumns(const ColumnLayout& layout) {
    FeatureColumns columns;
    for (const BlockShape& shape : layout) columns.blocks.push_back({shape, {}});
    return columns;
}

namespace {

// The blocks a "# columns:" line names: its words name[width] (the seven fields have none).
ColumnLayout layoutOfHeader(std::string_view line) {
    ColumnLayout layout;
    std::string_view rest = line.substr(kColumnsLine.size());
    while (!rest.empty()) {
        while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
        std::size_t end = 0;
        while (end < rest.size() && !isSpace(rest[end])) ++end;
        const std::string_view word = rest.substr(0, end);
        rest.remove_prefix(end);
        const std::size_t open = word.find('[');
        if (open == std::string_view::npos) continue;
        int width = 0;
        const char* first = word.data() + open + 1;
        const char* last = word.data() + word.size();
        const auto parsed = std::from_chars(first, last, width);
        if (open == 0 || parsed.ec != std::errc() || parsed.ptr + 1 != last || *parsed.ptr != ']' ||
            width <= 0) {
            throw std::invalid_argument("the header's column " + std::string(word) +
                                        " is not name[width] with a positive width");
        }
        const std::string name(word.substr(0, open));
        for (const BlockShape& seen : layout) {
            if (seen.name == name) {
                throw std::invalid_argument("the header names the column " + name + " twice");
            }
        }
        layout.push_back({name, width});
    }
    return layout;
}

}  // namespace

ColumnLayout layoutOfText(std::string_view text) {
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        if (line.substr(0, kColumnsLine.size()) == kColumnsLine) return layoutOfHeader(line);
        if (line.empty() || line.front() == '#' || isBlankLine(line)) continue;
        FeaturePoint point;
        if (!parseFeatureLine(line, point)) continue;
        const std::size_t columns = countWords(line);
        const bool both = columns == kFeatureFields + kHogLength + kHofLength;
        return pointDescriptorLayout(both || columns == kFeatureFields + kHogLength,
                                     both || columns == kFeatureFields + kHofLength);
    }
    return {};
}

FeatureColumns parseFeatureColumns(std::string_view text, FeatureParseReport& report) {
    report = FeatureParseReport{};
    text = withoutByteOrderMark(text);
    FeatureColumns columns = emptyColumns(layoutOfText(text));
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    columns.points.reserve(lines * kFeatureFields);
    adviseHugePages(columns.points.data(), columns.points.capacity() * sizeof(double));
    for (ColumnBlock& block : columns.blocks) {
        block.values.reserve(lines * static_cast<std::size_t>(block.shape.width));
        adviseHugePages(block.values.data(), block.values.capacity() * sizeof(float));
    }
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
        std::size_t before = 0;  // numbers of the blocks read so far on this line
        for (ColumnBlock& block : columns.blocks) {
            const int width = block.shape.width;
            block.values.resize(block.values.size() + static_cast<std::size_t>(width));
            if (!readFloats(rest, block.values.data() + block.values.size() - width, width)) {
                throw std::invalid_argument(
                    "line " + std::to_string(lineNumber) + " lacks its " + block.shape.name + '[' +
                    std::to_string(width) + "] numbers (" + std::to_string(width) +
                    " after the seven columns" +
                    (before > 0 ? " and the " + std::to_string(before) + " before them)" : ")"));
            }
            before += static_cast<std::size_t>(width);
        }
    }
    return columns;
}

void writeFeatureHeader(std::ostream& out, const std::string& command, const ColumnLayout& layout) {
    bool track = false, pointCells = false, trackCells = false;
    for (const BlockShape& block : layout) {
        track = track || block.name == "track";
        const bool cells = block.name == "hog" || block.name == "hof" || block.name == "mbh";
        (block.width == kHogLength || block.width == kHofLength ? pointCells : trackCells) |= cells;
    }
    out << "# space-time interest points (stdetect)\n# command: " << command << '\n'
        << kColumnsLine << " id x y t sigma2 tau2 " << (track ? "value" : "H");
    if (!layout.empty()) out << ' ' << layoutText(layout);
    out << "\n# y counts upward from the bottom edge, t is the zero-based frame number";
    if (track) out << "; track: x y of each frame's point, alternating, y from the bottom";
    if (pointCells) {
        out << "; descriptors by cell (t, row, column) of 3x3x2, then bin: hog right down left "
               "up, hof right down left up still";
    }
    if (trackCells) {
        out << "; descriptors by cell (t, row, column) of 2x2x3, then bin: 8 directions from "
               "right, turning down (hof: then still); mbh: x then y";
    }
    out << '\n';
}

FeatureList featuresFromColumns(const double* points, std::size_t count,
                                const std::vector<BlockView>& blocks) {
    FeatureList list(count);
    std::size_t width = 0;
    for (const BlockView& block : blocks) width += static_cast<std::size_t>(block.shape.width);
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
        if (width > 0) {
            auto array = std::make_shared<std::vector<double>>();
            array->reserve(width);
            for (const BlockView& block : blocks) {
                const auto w = static_cast<std::size_t>(block.shape.width);
                array->insert(array->end(), block.values + i * w, block.values + (i + 1) * w);
            }
            p.array = std::move(array);
        }
    }
    return list;
}

FeatureList featuresFromColumns(const FeatureColumns& columns) {
    std::vector<BlockView> views;
    for (const ColumnBlock& block : columns.blocks) {
        views.push_back({block.shape, block.values.data()});
    }
    return featuresFromColumns(columns.points.data(), columns.size(), views);
}

void appendColumns(const FeatureList& points, FeatureColumns& columns) {
    const std::size_t length = layoutWidth(columns.layout());
    for (const FeaturePoint& p : points) {
        if (length > 0 && (!p.array || p.array->size() < length)) {
            throw std::invalid_argument("record " + std::to_string(p.id) + " holds " +
                                        std::to_string(p.array ? p.array->size() : 0) +
                                        " numbers after its seven fields, not " +
                                        std::to_string(length));
        }
        for (double field : {double(p.id), double(p.x), double(p.y), double(p.t), p.spatialVariance,
                             p.temporalVariance, p.value}) {
            columns.points.push_back(field);
        }
        const double* values = length > 0 ? p.array->data() : nullptr;
        for (ColumnBlock& block : columns.blocks) {
            block.values.insert(block.values.end(), values, values + block.shape.width);
            values += block.shape.width;
        }
    }
}

}  // namespace stview
