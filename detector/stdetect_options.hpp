#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "detector/detector_options.hpp"
#include "detector/space_time_detector.hpp"

namespace stview {

/// What stdetect was asked to do.
struct DetectSettings {
    std::string videoFile;
    std::string outputFile;  ///< empty or "-": standard output
    std::string reportFile;  ///< --report: one JSON object on how the run went; empty: none
    int firstFrame = 0;
    long lastFrame = -1;  ///< not processed itself; -1: to the end of the video
    int threads = 0;      ///< 0: one per core
    bool quiet = false;
    cv::Size memoryNeedSize;  ///< --memory-need WIDTHxHEIGHT
    DetectorOptions detector;
};

/// The outcome of reading stdetect's command line.
struct DetectCommand {
    enum Kind { Run, Usage, MemoryNeed, Bad } kind = Run;
    std::string error;  ///< for Bad: one line naming the option
};

/**
 * @brief Fills the detection part of @p settings (detector options, frame range, threads)
 * from the options as data, each checked by its own validation; an unset thread count keeps
 * settings.threads. What stdetect's command line and the Python package both call.
 * @throws OptionError naming the field and the reason.
 */
void applyDetectOptions(const DetectorChoice& detector, const DescriptorChoice& descriptors,
                        const FrameRange& frames, std::optional<long> threads,
                        DetectSettings& settings);

/**
 * @brief Reads stdetect's arguments (argv[0] excluded) into @p settings. Every value is
 * checked here, before any work: the text of each is read (numbers, --scales as "spatial
 * list:temporal list", --descriptors as a comma-separated list), then applyDetectOptions
 * checks the values, its refusals worded with the option's own name (-ff for first). With
 * --memory-need, no video is needed (kind MemoryNeed).
 */
DetectCommand readDetectSettings(const std::vector<std::string>& args, DetectSettings& settings);

/// The usage text.
void printDetectUsage(std::FILE* out);

}  // namespace stview
