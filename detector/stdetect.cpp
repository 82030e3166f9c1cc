#include "detector/stdetect.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "detector/memory.hpp"
#include "detector/output_file.hpp"
#include "detector/stdetect_options.hpp"
#include "detector/video_detection.hpp"
#include "features/feature_columns.hpp"
#include "features/features_file.hpp"
#include "video/video_input.hpp"

namespace stview {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

int fail(const std::string& message) {
    std::fprintf(stderr, "stdetect: %s\n", message.c_str());
    return kDetectFailed;
}

// A truncated download decodes fine up to the cut; only the count its file announces
// tells. Containers may announce a frame or two more than they hold, so a small gap is
// not reported. Printed even with --quiet: the run succeeds, but the user should know.
void warnIfCut(const std::string& video, long framesRead, long framesAnnounced) {
    if (framesRead + std::max(2L, framesAnnounced / 100) >= framesAnnounced) return;
    std::fprintf(stderr,
                 "stdetect: warning: %s ended after %ld of the %ld frames its file announces "
                 "(truncated?)\n",
                 video.c_str(), framesRead, framesAnnounced);
}

}  // namespace

int runDetect(int argc, const char* const* argv) {
    DetectSettings settings;
    const DetectCommand command =
        readDetectSettings(std::vector<std::string>(argv + 1, argv + argc), settings);
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
        OutputFile output(toFile ? settings.outputFile : "-");
        std::ostream& out = output.stream();
        std::string commandLine;
        for (int i = 0; i < argc; ++i) commandLine += (i ? " " : "") + std::string(argv[i]);
        DetectionSteps steps;
        steps.started = [&] {
            writeFeatureHeader(out, commandLine, settings.detector.hog, settings.detector.hof);
        };
        steps.take = [&](FeatureList& points) { writeFeatures(out, points); };
        steps.stop = [] { return interrupted != 0; };
        steps.ended = [&](long framesRead, long framesAnnounced) {
            warnIfCut(settings.videoFile, framesRead, framesAnnounced);
        };
        if (!detectVideo(settings, steps)) {
            // A progress line redrawn in place is ended first.
            const bool redrawn = !settings.quiet && isatty(STDERR_FILENO) != 0;
            std::fprintf(stderr, "%sstdetect: interrupted; no output written\n",
                         redrawn ? "\n" : "");
            return kDetectInterrupted;
        }
        output.commit();
    } catch (const VideoFailure& problem) {
        return problem.reported ? kDetectFailed : fail(problem.what());
    } catch (const std::exception& problem) {
        if (interrupted) return kDetectInterrupted;
        return fail(problem.what());
    }
    return interrupted ? kDetectInterrupted : kDetectOk;
}

}  // namespace stview
