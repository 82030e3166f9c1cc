#pragma once

#include "viewer/session.hpp"

namespace stview {

/**
 * @brief The whole viewer: reads the command line, plays the video with the
 * features drawn on it in the "Features" window (or without a window), writes
 * the drawn frames when an output is named, and returns the exit status.
 */
int runViewer(int argc, const char* const* argv);

}  // namespace stview
