#include "viewer/settings.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "viewer/video_writer.hpp"

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

namespace {

// A plain decimal: digits, optionally a point and more digits; no sign, no
// exponent, no blanks. -1 when the text is anything else.
double parseDecimal(const std::string& text) {
    std::size_t digits = 0, points = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && points == 0) {
            ++points;
        } else {
            return -1;
        }
    }
    return digits == 0 || digits > 15 ? -1 : std::strtod(text.c_str(), nullptr);
}

// The value of an option that must have one; false with a message when it has none.
bool valueOf(const OptionTable& table, const char* name, std::string& value, std::string& problem) {
    if (table.count(name) < 1) {
        problem = std::string(name) + " needs a value";
        return false;
    }
    value = table.get(name, 0);
    return true;
}

}  // namespace

long long parseBitRate(const std::string& text) {
    if (text.empty()) return -1;
    double scale = 1;
    std::string number = text;
    switch (text.back()) {
        case 'k':
        case 'K':
            scale = 1e3;
            break;
        case 'm':
        case 'M':
            scale = 1e6;
            break;
        default:
            break;
    }
    if (scale != 1) number.pop_back();
    const double value = parseDecimal(number);
    return value < 0 ? -1 : std::llround(value * scale);
}

std::optional<SettingProblem> checkOutputSettings(const ViewerSettings& settings) {
    constexpr long long kMinRate = 1000, kMaxRate = 1000000000;
    constexpr double kMaxFps = 1000;
    // Without an output there is no codec yet: the widest scale is checked.
    OutputFormat format{OutputCodec::H264, "any codec", 0, 51, -1};
    if (!settings.outputFile.empty()) {
        std::string why;
        const std::optional<OutputFormat> chosen = outputFormatFor(settings.outputFile, why);
        if (!chosen) return SettingProblem{"output", why};
        format = *chosen;
    }
    if (settings.quality && settings.bitRate) {
        return SettingProblem{"bitrate", "give at most one of a quality and a bit rate"};
    }
    if (settings.quality &&
        (*settings.quality < format.qualityMin || *settings.quality > format.qualityMax)) {
        return SettingProblem{"quality", std::string(format.codecName) +
                                             " takes a whole number from " +
                                             std::to_string(format.qualityMin) + " (best) to " +
                                             std::to_string(format.qualityMax) + " (smallest)"};
    }
    if (settings.bitRate && (*settings.bitRate < kMinRate || *settings.bitRate > kMaxRate)) {
        return SettingProblem{"bitrate",
                              "give bits per second from 1k to 1000M, such as 2M or 800k"};
    }
    if (!settings.fpsFromSource && !(settings.fps > 0 && settings.fps <= kMaxFps)) {
        return SettingProblem{"fps", "give frames per second above 0 and up to 1000, or source"};
    }
    return std::nullopt;
}

bool readOutputSettings(const OptionTable& table, ViewerSettings& settings, std::string& problem) {
    // The text of each setting given, for the message that names it.
    std::map<std::string, std::string> texts;
    for (const char* field : {"quality", "bitrate", "fps", "color-by"}) {
        const std::string option = std::string("--") + field;
        if (!table.has(option.c_str())) continue;
        if (!valueOf(table, option.c_str(), texts[field], problem)) return false;
    }
    if (texts.count("quality")) {
        const double quality = parseDecimal(texts["quality"]);
        const bool whole = quality == std::floor(quality) && quality <= 1e9;
        settings.quality = whole ? static_cast<int>(quality) : -1;  // -1: off every scale
    }
    if (texts.count("bitrate")) settings.bitRate = parseBitRate(texts["bitrate"]);
    if (texts.count("fps")) {
        settings.fpsFromSource = texts["fps"] == "source";
        if (!settings.fpsFromSource) settings.fps = parseDecimal(texts["fps"]);
    }
    if (const std::optional<SettingProblem> refused = checkOutputSettings(settings)) {
        if (refused->field == "output") {
            problem = "Could not open the output video " + settings.outputFile +
                      ": -o: " + refused->reason;
        } else {
            problem = "--" + refused->field + " " + texts[refused->field] + ": " + refused->reason;
        }
        return false;
    }
    if (texts.count("color-by")) {
        const std::string& value = texts["color-by"];
        if (value != "scale" && value != "none") {
            problem = "--color-by " + value + ": give scale (or none for yellow circles)";
            return false;
        }
        settings.colours = value == "scale" ? CircleColours::ByScale : CircleColours::Yellow;
    }
    return true;
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
        if (table.has("--realtime")) settings.realtime = true;
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
        "   --no-window  : draw and write frames without a window or display (-p is ignored)\n"
        "   --quality N  : output quality: .avi MPEG-4 1-31 (default 4), .mp4/.mkv H.264 CRF\n"
        "                  0-51 (default 20); lower is better and larger\n"
        "   --bitrate R  : output bit rate instead of a quality, e.g. 2M or 800k\n"
        "   --fps N      : output frames per second (default 25), or \"source\" for the input's\n"
        "                  own rate\n"
        "   --realtime   : show frames at the input's own rate (25 per second if it names none)\n"
        "                  instead of as fast as they decode\n"
        "   --color-by scale : a colour per spatial variance instead of yellow circles\n"
        "   In the window: Esc or q quits; space pauses and resumes; o hides and shows the\n"
        "   circles; s saves the frame as shown to <video>-<frame>.png here. While paused\n"
        "   (or with -p): right or . shows the next frame, left or , the previous one,\n"
        "   Page Down/Up 25 frames on/back, Home/End the first/last frame (with -p any other\n"
        "   key shows the next frame). The bar under the frame shows and sets the position\n",
        out);
}

}  // namespace stview
