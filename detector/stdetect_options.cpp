#include "detector/stdetect_options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace stview {
namespace {

struct BadOption {
    std::string message;
};

[[noreturn]] void refuse(const std::string& option, const std::string& why) {
    throw BadOption{option + ": " + why};
}

long wholeNumber(const std::string& option, const std::string& text, long low, long high) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || text[0] == ' ') {
        refuse(option, "'" + text + "' is not a whole number");
    }
    if (value < low || value > high) {
        refuse(option, text + " is out of range (" + std::to_string(low) + " to " +
                           std::to_string(high) + ")");
    }
    return value;
}

double realNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || text[0] == ' ') {
        refuse(option, "'" + text + "' is not a finite number");
    }
    return value;
}

std::vector<double> varianceList(const std::string& text) {
    std::vector<double> values;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const double value = realNumber("--scales", item);
        if (!(value > 0)) refuse("--scales", "variance " + item + " is not positive");
        for (double seen : values) {
            if (seen == value) refuse("--scales", "variance " + item + " is given twice");
        }
        values.push_back(value);
    }
    if (values.empty() || text.back() == ',') {
        refuse("--scales", "'" + text + "' is not a list of variances");
    }
    return values;
}

void readDescriptors(const std::string& text, DetectorOptions& options) {
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item == "hog") {
            options.hog = true;
        } else if (item == "hof") {
            options.hof = true;
        } else {
            refuse("--descriptors", "unknown descriptor '" + item + "' (hog, hof)");
        }
    }
    if (!options.hog && !options.hof)
        refuse("--descriptors", "'" + text + "' names none of hog, hof");
    if (text.back() == ',') refuse("--descriptors", "'" + text + "' ends with a comma");
}

void readScales(const std::string& text, DetectorOptions& options) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        refuse("--scales", "'" + text + "' is not spatial:temporal (e.g. 4,8:2,4)");
    }
    options.spatialVariances = varianceList(text.substr(0, colon));
    options.temporalVariances = varianceList(text.substr(colon + 1));
}

cv::Size frameSize(const std::string& option, const std::string& text) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size()) {
        refuse(option, "'" + text + "' is not WIDTHxHEIGHT (e.g. 640x480)");
    }
    constexpr long kLargest = 1L << 20;
    return {static_cast<int>(wholeNumber(option, text.substr(0, x), 1, kLargest)),
            static_cast<int>(wholeNumber(option, text.substr(x + 1), 1, kLargest))};
}

}  // namespace

DetectCommand readDetectSettings(const std::vector<std::string>& args, DetectSettings& settings) {
    std::vector<std::string> seen;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& name = args[i];
            if (name == "-h" || name == "--help") return {DetectCommand::Usage, ""};
            const bool flag = name == "--quiet";
            const bool known = flag || name == "-v" || name == "-o" || name == "-ff" ||
                               name == "-lf" || name == "--scales" || name == "--k" ||
                               name == "--threshold" || name == "--threads" ||
                               name == "--descriptors" || name == "--memory-need";
            if (!known) {
                refuse(name, name.rfind("-", 0) == 0
                                 ? "unknown option"
                                 : "unexpected argument (options come as -v video)");
            }
            for (const std::string& earlier : seen) {
                if (earlier == name) refuse(name, "given twice");
            }
            seen.push_back(name);
            if (flag) {
                settings.quiet = true;
                continue;
            }
            if (i + 1 >= args.size()) refuse(name, "needs a value");
            const std::string& value = args[++i];
            if (name == "-v") {
                if (value.empty()) refuse(name, "needs a file name");
                settings.videoFile = value;
            } else if (name == "-o") {
                if (value.empty()) refuse(name, "needs a file name");
                settings.outputFile = value;
            } else if (name == "-ff") {
                settings.firstFrame = static_cast<int>(wholeNumber(name, value, 0, INT_MAX - 1));
            } else if (name == "-lf") {
                settings.lastFrame = wholeNumber(name, value, 1, INT_MAX);
            } else if (name == "--scales") {
                readScales(value, settings.detector);
            } else if (name == "--k") {
                settings.detector.k = realNumber(name, value);
            } else if (name == "--threshold") {
                settings.detector.threshold = realNumber(name, value);
            } else if (name == "--descriptors") {
                readDescriptors(value, settings.detector);
            } else if (name == "--memory-need") {
                settings.memoryNeedSize = frameSize(name, value);
            } else if (name == "--threads") {
                settings.threads = static_cast<int>(wholeNumber(name, value, 1, 1024));
            }
        }
        if (!settings.memoryNeedSize.empty()) return {DetectCommand::MemoryNeed, ""};
        if (settings.videoFile.empty()) refuse("-v", "no input video given");
        if (settings.lastFrame >= 0 && settings.lastFrame <= settings.firstFrame) {
            refuse("-lf", std::to_string(settings.lastFrame) + " is not after the first frame " +
                              std::to_string(settings.firstFrame));
        }
    } catch (const BadOption& bad) {
        return {DetectCommand::Bad, bad.message};
    }
    return {DetectCommand::Run, ""};
}

void printDetectUsage(std::FILE* out) {
    std::fputs(
        "Usage: stdetect -v video [-o features.txt] [options]\n"
        "Finds space-time interest points in a video and writes them as a features file.\n"
        "\n"
        "  -v video          input video (any format FFmpeg reads)\n"
        "  -o file           features file to write; '-' or none: standard output\n"
        "  -ff N             first frame, zero-based (default 0)\n"
        "  -lf N             last frame: process up to, not including, frame N (default: all)\n"
        "  --scales S:T      spatial variances, colon, temporal variances\n"
        "                    (default 4,8,16,32,64:2,4: ten scale pairs, each on its own)\n"
        "  --k K             corner response H = det(mu) - K trace(mu)^3 (default 0.0005)\n"
        "  --threshold T     keep maxima with H above T (default 1e-8)\n"
        "  --descriptors D   append descriptors: hog, hof or hog,hof (72 and 90 columns)\n"
        "  --threads N       use at most N threads (default: one per core)\n"
        "  --memory-need WxH print the bytes of memory WxH frames need with these options and\n"
        "                    exit, reading no video\n"
        "  --quiet           no progress on standard error\n"
        "  -h, --help        this text\n"
        "\n"
        "Before reading a frame, stdetect refuses (status 1) a frame size and scales that need\n"
        "more memory than is available; STVIEW_MEMORY_LIMIT (bytes, or e.g. 512M, 8G) lowers\n"
        "what counts as available.\n",
        out);
}

}  // namespace stview
