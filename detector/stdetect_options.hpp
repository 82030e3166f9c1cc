#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "detector/space_time_detector.hpp"

namespace stview {

/// What stdetect was asked to do.
struct DetectSettings {
    std::string videoFile;
    std::string outputFile;  ///< empty or "-": standard output
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
 * @brief Reads stdetect's arguments (argv[0] excluded) into @p settings. Every value is
 * checked here, before any work: numbers must be whole, in range and finite; --scales is
 * "spatial list:temporal list" of distinct positive numbers. With --memory-need, no video is
 * needed (kind MemoryNeed).
 */
DetectCommand readDetectSettings(const std::vector<std::string>& args, DetectSettings& settings);

/// The usage text.
void printDetectUsage(std::FILE* out);

}  // namespace stview
