#include "detector/stdetect.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "detector/memory.hpp"
#include "detector/output_file.hpp"
#include "detector/stdetect_options.hpp"
#include "detector/trajectory_detector.hpp"
#include "detector/video_detection.hpp"
#include "features/feature_columns.hpp"
#include "features/features_file.hpp"
#include "features/hdf5/features_hdf5.hpp"
#include "video/video_input.hpp"

namespace stview {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// What --report writes at the end of a run, whatever its end.
struct RunReport {
    std::string file;  ///< empty: no report asked for
    long long points = 0;
    long framesRead = 0;
    long framesAnnounced = 0;
    std::string error;    ///< the run's last error line, without "stdetect: "
    std::string warning;  ///< the truncation warning, without "stdetect: warning: "
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
} report;

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// Written to a temporary name beside the report and renamed over it, so a reader sees
// the whole object or none.
void writeReport(int status) {
    if (report.file.empty()) return;
    const char* name = status == kDetectOk            ? "done"
                       : status == kDetectBadOptions  ? "bad-options"
                       : status == kDetectInterrupted ? "interrupted"
                                                      : "failed";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - report.start).count();
    std::string temporary = report.file + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    std::FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "w");
    bool written = file != nullptr;
    if (written) {
        written =
            std::fprintf(file,
                         "{\"status\": \"%s\", \"exit_status\": %d, \"points\": %lld, "
                         "\"frames_read\": %ld, \"frames_announced\": %ld, "
                         "\"seconds\": %.3f, \"error\": %s, \"warning\": %s}\n",
                         name, status, status == kDetectOk ? report.points : 0LL, report.framesRead,
                         report.framesAnnounced, seconds, jsonString(report.error).c_str(),
                         jsonString(report.warning).c_str()) > 0;
        written = std::fclose(file) == 0 && written;
        written = written && std::rename(temporary.c_str(), report.file.c_str()) == 0;
    }
    if (!written) {
        const int cause = errno;
        if (descriptor >= 0) std::remove(temporary.c_str());
        std::fprintf(stderr, "stdetect: warning: cannot write the report %s: %s\n",
                     report.file.c_str(), std::strerror(cause));
    }
}

int fail(const std::string& message) {
    report.error = message;
    std::fprintf(stderr, "stdetect: %s\n", message.c_str());
    return kDetectFailed;
}

// A truncated download decodes fine up to the cut; only the count its file announces
// tells. Containers may announce a frame or two more than they hold, so a small gap is
// not reported. Printed even with --quiet: the run succeeds, but the user should know.
void warnIfCut(const std::string& video, long framesRead, long framesAnnounced) {
    if (framesRead + std::max(2L, framesAnnounced / 100) >= framesAnnounced) return;
    report.warning = video + " ended after " + std::to_string(framesRead) + " of the " +
                     std::to_string(framesAnnounced) + " frames its file announces (truncated?)";
    std::fprintf(stderr, "stdetect: warning: %s\n", report.warning.c_str());
}

bool isHdf5Name(const std::string& name) {
    return name.size() > 3 && name.compare(name.size() - 3, 3, ".h5") == 0;
}

std::string numbersText(const std::vector<double>& values) {
    std::string text;
    char number[32];
    for (const double value : values) {
        std::snprintf(number, sizeof number, "%.17g", value);
        text += (text.empty() ? "" : ",") + std::string(number);
    }
    return text;
}

// What an HDF5 features file records of its making: the detector and its options.
FeaturesFileInfo fileInfo(const DetectSettings& settings, const std::string& commandLine) {
    const DetectorOptions& options = settings.detector;
    FeaturesFileInfo info;
    info.command = commandLine;
    info.detector = detectorName(options.kind);
    info.detectorOptions =
        "scales=" + numbersText(options.spatialVariances) + ":" +
        numbersText(options.temporalVariances) + " k=" + numbersText({options.k}) +
        " threshold=" + numbersText({options.threshold}) + " descriptors=" +
        (options.hog && options.hof ? "hog,hof"
         : options.hog              ? "hog"
         : options.hof              ? "hof"
                                    : "none") +
        " frames=" + std::to_string(settings.firstFrame) + ":" + std::to_string(settings.lastFrame);
    info.video = settings.videoFile;
    return info;
}

// The video's frame size and rate, as its container says them (left unknown when it does not).
void addVideoInfo(const std::string& video, FeaturesFileInfo& info) {
    cv::VideoCapture capture(video);
    if (!capture.isOpened()) return;
    info.width = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    info.height = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    const double rate = capture.get(cv::CAP_PROP_FPS);
    if (std::isfinite(rate) && rate > 0) info.frameRate = rate;
}

}  // namespace

namespace {

int detectOnce(int argc, const char* const* argv) {
    DetectSettings settings;
    const DetectCommand command =
        readDetectSettings(std::vector<std::string>(argv + 1, argv + argc), settings);
    if (command.kind == DetectCommand::Run || command.kind == DetectCommand::Bad) {
        report.file = settings.reportFile;
        report.error = command.error;
    }
    if (command.kind == DetectCommand::Usage) {
        printDetectUsage(stdout);
        return kDetectOk;
    }
    if (command.kind == DetectCommand::Bad) {
        std::fprintf(stderr, "stdetect: %s (see stdetect --help)\n", command.error.c_str());
        return kDetectBadOptions;
    }
    cv::setNumThreads(settings.threads > 0 ? settings.threads : cv::getNumberOfCPUs());
    if (command.kind == DetectCommand::MemoryNeed) {
        std::printf("%llu\n", static_cast<unsigned long long>(
                                  detectorMemoryNeed(settings.memoryNeedSize, settings.detector)));
        return kDetectOk;
    }
    const bool toFile = !settings.outputFile.empty() && settings.outputFile != "-";
    if (toFile && sameFile(settings.outputFile, settings.videoFile)) {
        return fail("the output " + settings.outputFile + " is the input video; left untouched");
    }
    std::error_code error;
    if (toFile && std::filesystem::is_directory(settings.outputFile, error)) {
        return fail("the output " + settings.outputFile + " is a folder");
    }
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    try {
        std::string commandLine;
        for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
        const ColumnLayout layout = detectorLayout(settings.detector);
        // An output named *.h5 is written in HDF5 form, any other as text.
        std::optional<OutputFile> output;
        std::optional<Hdf5FeaturesWriter> hdf5;
        if (toFile && isHdf5Name(settings.outputFile)) {
            hdf5.emplace(settings.outputFile, layout, fileInfo(settings, commandLine));
        } else {
            output.emplace(toFile ? settings.outputFile : "-");
        }
        DetectionSteps steps;
        steps.started = [&] {
            if (output) writeFeatureHeader(output->stream(), commandLine, layout);
        };
        steps.take = [&](FeatureList& points) {
            if (hdf5) {
                hdf5->append(points);
            } else {
                writeFeatures(output->stream(), points, layout);
            }
            report.points += static_cast<long long>(points.size());
        };
        steps.stop = [] { return interrupted != 0; };
        steps.ended = [&](long framesRead, long framesAnnounced) {
            report.framesRead = framesRead;
            report.framesAnnounced = framesAnnounced;
            warnIfCut(settings.videoFile, framesRead, framesAnnounced);
        };
        if (!detectVideo(settings, steps)) {
            // A progress line redrawn in place is ended first.
            const bool redrawn = !settings.quiet && isatty(STDERR_FILENO) != 0;
            // Standard output cannot be taken back: what was written of it stays, cut short.
            std::fprintf(
                stderr, "%sstdetect: interrupted; %s\n", redrawn ? "\n" : "",
                toFile ? "no output written" : "standard output holds a partial features file");
            return kDetectInterrupted;
        }
        if (hdf5) {
            addVideoInfo(settings.videoFile, hdf5->info());
            hdf5->commit();
        } else {
            output->commit();
        }
    } catch (const VideoFailure& problem) {
        // The video opener's own line (when it wrote one) says what the system could not do;
        // this one says what stdetect could not do.
        return fail(problem.what());
    } catch (const std::exception& problem) {
        if (interrupted) return kDetectInterrupted;
        return fail(problem.what());
    }
    return interrupted ? kDetectInterrupted : kDetectOk;
}

}  // namespace

int runDetect(int argc, const char* const* argv) {
    const int status = detectOnce(argc, argv);
    writeReport(status);
    return status;
}

}  // namespace stview
