#pragma once

namespace stview {

/// Exit statuses of stdetect.
enum DetectStatus : int {
    kDetectOk = 0,
    kDetectFailed = 1,        ///< the video or the output failed
    kDetectBadOptions = 2,    ///< a bad or missing option; nothing was done
    kDetectInterrupted = 130  ///< SIGINT or SIGTERM; no partial output left
};

/**
 * @brief The whole of stdetect: reads the command line, detects the points of the video's
 * frame range and writes them as a features file (to standard output when no file is named),
 * with progress on standard error. Returns the exit status.
 */
int runDetect(int argc, const char* const* argv);

}  // namespace stview
