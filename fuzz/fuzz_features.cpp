// Fuzz target for the features parser: the bytes are a features file. A data line is accepted
// exactly when stream extraction reads it, with the same numbers; other non-blank ones count.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "features/features_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    stview::FeatureParseReport report{12345, 7};  // must be reset by the parse
    const stview::FeatureList points = stview::parseFeatures(text, report);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    stview::FeatureList read;
    std::size_t skipped = 0, firstSkipped = 0, number = 0;
    for (std::size_t start = 0; start < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line[0] == '#') continue;
        stview::FeaturePoint p, scratch;
        std::istringstream fields{std::string(line)};
        fields >> p.id >> p.x >> p.y >> p.t >> p.spatialVariance >> p.temporalVariance >> p.value;
        if (stview::parseFeatureLine(line, scratch) != !fields.fail()) std::abort();
        if (!fields.fail())
            read.push_back(p);
        else if (line.find_first_not_of(" \t\r\v\f") != line.npos && skipped++ == 0)
            firstSkipped = number + 1;
    }
    std::ostringstream got, want;  // the shortest forms that read back to the same doubles
    stview::writeFeatures(got, points);
    stview::writeFeatures(want, read);
    if (got.str() != want.str() || report.skippedLines != skipped ||
        report.firstSkippedLine != firstSkipped)
        std::abort();
    return 0;
}
