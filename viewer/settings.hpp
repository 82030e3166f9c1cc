#pragma once

#include <cstdio>
#include <optional>
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
    bool noWindow = false;             ///< render without a window; pause is then ignored
    std::optional<int> quality;        ///< --quality on the output codec's scale; none: its default
    std::optional<long long> bitRate;  ///< --bitrate in bits per second; none: a quality
    double fps = 25.0;                 ///< --fps: frames per second of the output
    bool fpsFromSource = false;        ///< --fps source: the input video's own rate
    bool realtime = false;             ///< --realtime: show frames at the input's own rate
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

/// A refused output setting: which ("output", "quality", "bitrate" or "fps") and why, in
/// words that follow the setting's name and value ("--quality 52: " + reason).
struct SettingProblem {
    std::string field;
    std::string reason;
};

/**
 * @brief Checks the output settings of @p settings as data: the output's name against the
 * codecs (when there is an output), the quality on that codec's scale (the widest, 0 to 51,
 * without an output), the bit rate from 1k to 1000M bits per second, not both a quality and a
 * bit rate, the frames per second above 0 and up to 1000 (unless from the source). What the
 * command line and the Python package both call. Opens nothing.
 * @return the first refused setting, or nothing.
 */
std::optional<SettingProblem> checkOutputSettings(const ViewerSettings& settings);

/**
 * @brief Reads --quality, --bitrate, --fps and --color-by into @p settings, then checks them
 * with checkOutputSettings. A value that is not a number at all is read as one off every
 * scale, so that the check words its refusal.
 * @return false, with one line naming the option and its value in @p problem, when a value
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
