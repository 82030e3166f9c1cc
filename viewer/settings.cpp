#include "viewer/settings.hpp"

#include <limits>

namespace stview {

int parseFrameNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate toward the sign so that INT_MIN itself is representable.
    constexpr long long kMax = std::numeric_limits<int>::max();
    constexpr long long kMin = std::numeric_limits<int>::min();
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = negative ? value * 10 - digit : value * 10 + digit;
        if (value > kMax) return static_cast<int>(kMax);
        if (value < kMin) return static_cast<int>(kMin);
    }
    return static_cast<int>(value);
}

SettingsOutcome readSettings(const OptionTable& table, ViewerSettings& settings) {
    try {
        if (table.has("-h") || table.has("-help") || table.has("--help")) {
            return SettingsOutcome::Usage;
        }
        if (table.count("-v") > 0) settings.videoFile = table.get("-v", 0);
        if (table.count("-f") > 0) settings.featuresFile = table.get("-f", 0);
        if (table.count("-o") > 0) settings.outputFile = table.get("-o", 0);
        if (table.count("-ff") > 0) settings.firstFrame = parseFrameNumber(table.get("-ff", 0));
        if (table.count("-lf") > 0) settings.lastFrame = parseFrameNumber(table.get("-lf", 0));
        if (table.count("-p") != -1) settings.pause = true;
        if (table.has("--no-window")) settings.noWindow = true;
    } catch (...) {
        return SettingsOutcome::UsageFailed;
    }
    if (settings.videoFile.empty() || settings.featuresFile.empty()) return SettingsOutcome::Usage;
    return SettingsOutcome::Run;
}

void printUsage(std::FILE* out) {
    std::fputs(
        "\n"
        "This program displays pre-detected space-time interest points\n"
        "and optionally creates a video with s-t points overlayed on the\n"
        "original video.\n"
        "\n"
        "Usage:\n"
        "   -v  filename : input video file name\n"
        "   -f  filename : input DRAV features file name\n"
        "   -o  filename : output video file name (optional)\n"
        "   -ff integer  : first frame (optional)\n"
        "   -lf integer  : last frame (optional)\n"
        "   -p           : pause after each frame\n"
        "   --no-window  : draw and write frames without a window or display (-p is ignored)\n",
        out);
}

}  // namespace stview
