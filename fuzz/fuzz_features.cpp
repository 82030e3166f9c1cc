// Fuzz target for the features parser: the bytes are the text of a features file. Checks
// that parseFeatures keeps exactly the lines parseFeatureLine accepts, counts the others, and
// that a line is accepted, with the same numbers, exactly when stream extraction (the
// getline + istringstream reference reader) accepts it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "features/features_file.hpp"
#include "tests/support/reference_features.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    (void)what;  // visible in the stack trace of the abort
    std::abort();
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameRecord(const stview::FeaturePoint& a, const stview::FeaturePoint& b) {
    return a.id == b.id && a.x == b.x && a.y == b.y && a.t == b.t &&
           sameBits(a.spatialVariance, b.spatialVariance) &&
           sameBits(a.temporalVariance, b.temporalVariance) && sameBits(a.value, b.value);
}

bool blankOnly(std::string_view line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    stview::FeatureParseReport report;
    report.skippedLines = 12345;  // must be reset by the parse
    const stview::FeatureList points = stview::parseFeatures(text, report);

    std::string_view rest = text;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    std::size_t next = 0;
    std::size_t lineNumber = 0;
    std::size_t skipped = 0;
    std::size_t firstSkipped = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.front() == '#') continue;

        stview::FeaturePoint fast;
        const bool accepted = stview::parseFeatureLine(line, fast);
        std::istringstream lineStream{std::string(line)};
        const stview::FeatureList reference = stview::reference::readFeatures(lineStream);
        if (reference.size() > 1) fail("the reference read more than one record from a line");
        if (accepted != (reference.size() == 1))
            fail("parseFeatureLine and stream extraction disagree on accepting a line");
        if (accepted && !sameRecord(fast, reference[0]))
            fail("parseFeatureLine and stream extraction read different numbers");

        if (accepted) {
            if (next >= points.size()) fail("an accepted line has no record");
            if (!sameRecord(points[next], fast)) fail("a record differs from its line");
            ++next;
        } else if (!blankOnly(line)) {
            if (skipped++ == 0) firstSkipped = lineNumber;
        }
    }
    if (next != points.size()) fail("more records than accepted lines");
    if (report.skippedLines != skipped || report.firstSkippedLine != firstSkipped)
        fail("the report miscounts the skipped lines");
    return 0;
}
