#include "features/features_file.hpp"
#include "features/feature_columns.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <vector>

namespace stview {
namespace {

// The white space that stream extraction skips in the classic locale; '\n'
// never occurs inside a line.
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

inline void skipBlanks(const char*& p, const char* end) {
    while (p != end && isBlank(*p)) ++p;
}

// Reads a decimal int as `stream >> int` does: optional sign, digits, stop at
// the first non-digit; no digits or a value outside int's range fails.
bool readInt(const char*& p, const char* end, int& out) {
    skipBlanks(p, end);
    const char* q = p;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    if (q == end || !isDigit(*q)) return false;
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                     : std::numeric_limits<int>::max();
    for (; q != end && isDigit(*q); ++q) {
        value = value * 10 + (*q - '0');
        if (value > limit) return false;
    }
    out = static_cast<int>(negative ? -value : value);
    p = q;
    return true;
}

// Exact fallback for the rare reals that std::from_chars refuses as out of
// range: stream extraction accepts underflow (giving a subnormal or zero) and
// refuses overflow.
bool readRealByStream(const char* begin, const char* end, double& out) {
    std::istringstream in(std::string(begin, end));
    in.imbue(std::locale::classic());
    double value = 0.0;
    if (!(in >> value)) return false;
    out = value;
    return true;
}

// Reads a real as `stream >> double` does. The stream first gathers the
// longest run of the form [sign] digits [. digits] [(e|E) [sign] digits] (the
// exponent only after a mantissa digit) and then converts all of it, so "1e"
// or "." fail, while "5." and ".5" succeed.
bool readReal(const char*& p, const char* end, double& out) {
    skipBlanks(p, end);
    const char* q = p;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    const char* mantissa = q;
    bool digits = false;
    while (q != end && isDigit(*q)) ++q, digits = true;
    if (q != end && *q == '.') {
        ++q;
        while (q != end && isDigit(*q)) ++q, digits = true;
    }
    if (!digits) return false;
    if (q != end && (*q == 'e' || *q == 'E')) {
        ++q;
        if (q != end && (*q == '+' || *q == '-')) ++q;
        if (q == end || !isDigit(*q)) return false;
        while (q != end && isDigit(*q)) ++q;
    }
    double value = 0.0;
    const auto result = std::from_chars(mantissa, q, value);
    if (result.ec == std::errc::result_out_of_range) {
        if (!readRealByStream(p, q, value)) return false;
        negative = false;  // the stream read the sign itself
    } else if (result.ec != std::errc() || result.ptr != q) {
        return false;
    }
    out = negative ? -value : value;
    p = q;
    return true;
}

}  // namespace

void adviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

bool parseFeatureLine(std::string_view line, FeaturePoint& out, std::string_view* rest) {
    const char* p = line.data();
    const char* end = p + line.size();
    const bool read = readInt(p, end, out.id) && readInt(p, end, out.x) && readInt(p, end, out.y) &&
                      readInt(p, end, out.t) && readReal(p, end, out.spatialVariance) &&
                      readReal(p, end, out.temporalVariance) && readReal(p, end, out.value);
    if (read && rest) *rest = std::string_view(p, static_cast<std::size_t>(end - p));
    return read;
}

bool isBlankLine(std::string_view line) { return std::all_of(line.begin(), line.end(), isBlank); }

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    return text;
}

FeatureList parseFeatures(std::string_view text, FeatureParseReport& report) {
    report = FeatureParseReport{};
    FeatureList points;
    text = withoutByteOrderMark(text);
    // One record at most per line: counting the line breaks first (a fast
    // memchr-like scan) keeps the list from regrowing and copying its records.
    points.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    adviseHugePages(points.data(), points.capacity() * sizeof(FeaturePoint));
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t lineEnd = text.find('\n');
        const std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        ++lineNumber;
        if (!line.empty() && line.front() == '#') continue;
        FeaturePoint point;
        if (parseFeatureLine(line, point)) {
            points.push_back(std::move(point));
            continue;
        }
        if (isBlankLine(line)) continue;
        if (report.skippedLines++ == 0) report.firstSkippedLine = lineNumber;
    }
    return points;
}

bool readFeaturesText(const std::string& path, std::string& text) {
    std::error_code error;
    std::ifstream in;
    if (!std::filesystem::is_directory(path, error)) {
        in.open(path, std::ios::binary);
    }
    if (!in.is_open()) return false;
    // A regular file is read in one piece into a buffer of its size (one more byte, so that
    // the read meeting the end needs no growth); anything else (a pipe) in doubling pieces.
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    constexpr std::size_t kBlock = 1 << 20;
    text.clear();
    text.reserve(std::max<std::size_t>(error ? 0 : static_cast<std::size_t>(size) + 1, kBlock));
    adviseHugePages(text.data(), text.capacity());
    text.resize(text.capacity());
    std::size_t used = 0;
    while (in) {
        if (used == text.size()) text.resize(2 * text.size());
        in.read(text.data() + used, static_cast<std::streamsize>(text.size() - used));
        used += static_cast<std::size_t>(in.gcount());
    }
    text.resize(used);
    return !in.bad();
}

void reportSkippedLines(const std::string& path, const FeatureParseReport& report) {
    if (report.skippedLines > 0) {
        std::fprintf(stderr,
                     "Skipped %zu line(s) of %s that do not hold seven numbers (first: line %zu)\n",
                     report.skippedLines, path.c_str(), report.firstSkippedLine);
    }
}

FeaturesLoad loadFeatures(const std::string& path, FeatureList& points) {
    points.clear();
    std::string text;
    if (!readFeaturesText(path, text)) {
        std::cout << "Unable to open file " << path << std::endl;
        return FeaturesLoad::Unreadable;
    }
    FeatureParseReport report;
    points = parseFeatures(text, report);
    reportSkippedLines(path, report);
    return points.empty() && report.skippedLines > 0 ? FeaturesLoad::NoRecord
                                                     : FeaturesLoad::Loaded;
}

FeatureList loadFeatures(const std::string& path) {
    FeatureList points;
    loadFeatures(path, points);
    return points;
}

}  // namespace stview

namespace stview {
namespace {

// Appends the shortest decimal form of value that converts back to the same double.
void appendReal(std::string& line, double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    line.append(text, result.ptr);
}

// Writes the records, each array number i for which isExact(i) holds in its shortest exact float
// form, the others with "%.4g" of the float.
template <class IsExact>
void writeRecords(std::ostream& out, const FeatureList& points, IsExact isExact) {
    std::string line;
    char number[32];
    for (const FeaturePoint& p : points) {
        line.clear();
        for (int field : {p.id, p.x, p.y, p.t}) {
            line.append(number, std::to_chars(number, number + sizeof number, field).ptr);
            line += ' ';
        }
        appendReal(line, p.spatialVariance);
        line += ' ';
        appendReal(line, p.temporalVariance);
        line += ' ';
        appendReal(line, p.value);
        if (p.array) {
            std::size_t i = 0;
            for (double v : *p.array) {
                const auto single = static_cast<float>(v);
                if (isExact(i++)) {
                    line += ' ';
                    line.append(number, std::to_chars(number, number + sizeof number, single).ptr);
                } else {
                    std::snprintf(number, sizeof number, " %.4g", static_cast<double>(single));
                    line += number;
                }
            }
        }
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

}  // namespace

void writeFeatures(std::ostream& out, const FeatureList& points) {
    writeRecords(out, points, [](std::size_t) { return false; });
}

void writeFeatures(std::ostream& out, const FeatureList& points, const ColumnLayout& layout) {
    std::vector<bool> exact;
    for (const BlockShape& block : layout) {
        exact.insert(exact.end(), static_cast<std::size_t>(block.width), isExactBlock(block.name));
    }
    writeRecords(out, points, [&exact](std::size_t i) { return i < exact.size() && exact[i]; });
}

}  // namespace stview
