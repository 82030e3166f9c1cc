#pragma once

#include <cstdio>
#include <string>

#include "viewer/option_table.hpp"
#include "viewer/overlay.hpp"

namespace stview {

/// What the viewer was asked to do, as read from the command line.
struct ViewerSettings {
    std::string videoFile;
    std::string featuresFile;
    std::string outputFile;  ///< empty: no output video
    int firstFrame = 0;
    int lastFrame = 100000000;  ///< not processed itself
    bool pause = false;
    bool noWindow = false;       ///< render without a window; pause is then ignored
    int quality = -1;            ///< --quality on the output codec's scale; -1: its default
    long long bitRate = 0;       ///< --bitrate in bits per second; 0: constant quality instead
    double fps = 25.0;           ///< --fps: frames per second of the output
    bool fpsFromSource = false;  ///< --fps source: the input video's own rate
    bool realtime = false;       ///< --realtime: show frames at the input's own rate
    CircleColours colours = CircleColours::Yellow;  ///< --color-by scale: by spatial variance
};

/// What the driver does after reading the command line.
enum class SettingsOutcome {
    Run,          ///< settings complete: play the video
    Usage,        ///< help asked for, or an input missing: print the usage text, status 0
    UsageFailed,  ///< option handling raised an exception: print the usage text, status -1
};

/// Reads the options of @p table into @p settings (unread options keep their values).
SettingsOutcome readSettings(const OptionTable& table, ViewerSettings& settings);

/**
 * @brief Reads and checks --quality, --bitrate, --fps and --color-by, and the
 * output name against the codec its extension leads to (a quality must fit that
 * codec's scale). Opens nothing.
 * @return false, with one line naming the option in @p problem, when a value
 *         is refused.
 */
bool readOutputSettings(const OptionTable& table, ViewerSettings& settings, std::string& problem);

/// A bit rate such as "2M", "800k" or "64000" in bits per second; -1 when malformed.
long long parseBitRate(const std::string& text);

/**
 * @brief Converts a frame-number option as strtol does: leading white space,
 * an optional sign, then decimal digits up to the first other byte; no digits
 * give 0, and values beyond int's range are clamped to it.
 */
int parseFrameNumber(const std::string& text);

/// Writes the usage text (the twelve standard lines, then the extra options).
void printUsage(std::FILE* out);

}  // namespace stview
