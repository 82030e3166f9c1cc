#include "detector/stdetect_options.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace stview {
namespace {

struct BadOption {
    std::string message;
};

[[noreturn]] void refuse(const std::string& option, const std::string& why) {
    throw BadOption{option + ": " + why};
}

// The command line's name for each field of the option structs.
std::string optionName(const std::string& field) {
    if (field == "first") return "-ff";
    if (field == "last") return "-lf";
    return "--" + field;
}

long wholeNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == ' ') {
        refuse(option, "'" + text + "' is not a whole number");
    }
    if (errno == ERANGE) refuse(option, text + " is out of range");
    return value;
}

// Any number strtod reads whole ("inf" and "nan" too: the validations refuse them by name).
double realNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || text[0] == ' ') {
        refuse(option, "'" + text + "' is not a number");
    }
    return value;
}

// The comma-separated items of @p text, empty ones included ("a," gives "a" and "").
std::vector<std::string> items(const std::string& text) {
    std::vector<std::string> list;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos;) {
        list.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    list.push_back(text.substr(start));
    return list;
}

std::vector<double> varianceList(const std::string& text) {
    std::vector<double> values;
    if (text.empty()) return values;  // the validation names the missing side
    for (const std::string& item : items(text)) {
        if (item.empty()) refuse("--scales", "'" + text + "' has an empty item");
        values.push_back(realNumber("--scales", item));
    }
    return values;
}

void readScales(const std::string& text, DetectorChoice& choice) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        refuse("--scales", "'" + text + "' is not spatial:temporal (e.g. 4,8:2,4)");
    }
    choice.spatialVariances = varianceList(text.substr(0, colon));
    choice.temporalVariances = varianceList(text.substr(colon + 1));
}

cv::Size frameSize(const std::string& option, const std::string& text) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size()) {
        refuse(option, "'" + text + "' is not WIDTHxHEIGHT (e.g. 640x480)");
    }
    constexpr long kLargest = 1L << 20;
    const long width = wholeNumber(option, text.substr(0, x));
    const long height = wholeNumber(option, text.substr(x + 1));
    if (width < 1 || height < 1 || width > kLargest || height > kLargest) {
        refuse(option, text + " is out of range (1 to " + std::to_string(kLargest) + " each)");
    }
    return {static_cast<int>(width), static_cast<int>(height)};
}

}  // namespace

void applyDetectOptions(const DetectorChoice& detector, const DescriptorChoice& descriptors,
                        const FrameRange& frames, std::optional<long> threads,
                        DetectSettings& settings) {
    const DetectorOptions options = detectorOptions(detector, descriptors);
    validateFrameRange(frames);
    if (threads) validateThreads(*threads);
    settings.detector = options;
    settings.firstFrame = static_cast<int>(frames.first);
    settings.lastFrame = frames.last ? *frames.last : -1;
    if (threads) settings.threads = static_cast<int>(*threads);
}

DetectCommand readDetectSettings(const std::vector<std::string>& args, DetectSettings& settings) {
    std::vector<std::string> seen;
    DetectorChoice detector;
    DescriptorChoice descriptors;
    FrameRange frames;
    std::optional<long> threads;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& name = args[i];
            if (name == "-h" || name == "--help") return {DetectCommand::Usage, ""};
            const bool flag = name == "--quiet";
            const bool known = flag || name == "-v" || name == "-o" || name == "-ff" ||
                               name == "-lf" || name == "--detector" || name == "--scales" ||
                               name == "--k" || name == "--threshold" || name == "--threads" ||
                               name == "--descriptors" || name == "--memory-need" ||
                               name == "--report" || name == "--trajectory-length" ||
                               name == "--trajectory-stride" || name == "--trajectory-scales";
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
            } else if (name == "--report") {
                if (value.empty()) refuse(name, "needs a file name");
                settings.reportFile = value;
            } else if (name == "-ff") {
                frames.first = wholeNumber(name, value);
            } else if (name == "-lf") {
                frames.last = wholeNumber(name, value);
            } else if (name == "--detector") {
                detector.detector = value;
            } else if (name == "--scales") {
                readScales(value, detector);
                detector.scalesGiven = true;
            } else if (name == "--trajectory-length") {
                detector.trajectoryLength = wholeNumber(name, value);
            } else if (name == "--trajectory-stride") {
                detector.trajectoryStride = wholeNumber(name, value);
            } else if (name == "--trajectory-scales") {
                detector.trajectoryScales = wholeNumber(name, value);
            } else if (name == "--k") {
                detector.k = realNumber(name, value);
            } else if (name == "--threshold") {
                detector.threshold = realNumber(name, value);
            } else if (name == "--descriptors") {
                descriptors.names = items(value);
            } else if (name == "--memory-need") {
                settings.memoryNeedSize = frameSize(name, value);
            } else if (name == "--threads") {
                threads = wholeNumber(name, value);
            }
        }
        try {
            applyDetectOptions(detector, descriptors, frames, threads, settings);
        } catch (const OptionError& error) {
            refuse(optionName(error.field()), error.reason());
        }
        if (!settings.memoryNeedSize.empty()) return {DetectCommand::MemoryNeed, ""};
        if (settings.videoFile.empty()) refuse("-v", "no input video given");
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
        "  --detector D      harris (corners, the default), gabor (periodic motion), hessian\n"
        "                    (blobs), dense (a grid of half-overlapping descriptor boxes) or\n"
        "                    trajectories (points tracked through dense optical flow)\n"
        "  --scales S:T      spatial variances, colon, temporal variances\n"
        "                    (default 4,8,16,32,64:2,4: ten scale pairs, each on its own)\n"
        "  --k K             harris only: H = det(mu) - K trace(mu)^3 (default 0.0005)\n"
        "  --threshold T     keep maxima with a response above T (default: harris 1e-8,\n"
        "                    gabor 1e-3, hessian 1e-4; dense takes none)\n"
        "  --descriptors D   append descriptors: hog, hof or hog,hof (72 and 90 columns);\n"
        "                    trajectories: any of trajectory,hog,hof,mbh (default all four)\n"
        "  --trajectory-length L   trajectories: frames tracked, at least 3 (default 15)\n"
        "  --trajectory-stride W   trajectories: sampling cells of WxW pixels (default 5)\n"
        "  --trajectory-scales S   trajectories: at most S scales, each 2^(-1/2) of the one\n"
        "                    before (default 8)\n"
        "  --threads N       use at most N threads (default: one per core)\n"
        "  --memory-need WxH print the bytes of memory WxH frames need with these options and\n"
        "                    exit, reading no video\n"
        "  --report file     write how the run went to file as one JSON object (status,\n"
        "                    points, frames read and announced, seconds, error line), also\n"
        "                    when it fails or is interrupted\n"
        "  --quiet           no progress on standard error\n"
        "  -h, --help        this text\n"
        "\n"
        "Before reading a frame, stdetect refuses (status 1) a frame size and scales that need\n"
        "more memory than is available; STVIEW_MEMORY_LIMIT (bytes, or e.g. 512M, 8G) lowers\n"
        "what counts as available.\n",
        out);
}

}  // namespace stview
