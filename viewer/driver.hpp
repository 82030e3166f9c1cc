#pragma once

namespace stview {

/// Exit statuses of the viewer.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,         ///< a run that could not do what was asked
    kExitNoDisplay = 2,      ///< a window was needed but no display could be reached
    kExitInterrupted = 130,  ///< stopped by SIGINT (Ctrl-C); the output was closed
    kExitBadOptions = -1,    ///< option handling raised an exception
};

/**
 * @brief The whole viewer: reads the command line, plays the video with the
 * features drawn on it in the "Features" window (or without a window), writes
 * the drawn frames when an output is named, and returns the exit status.
 */
int runViewer(int argc, const char* const* argv);

}  // namespace stview
