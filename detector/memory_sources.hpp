#pragma once

// The readings behind memoryAvailability() and detectorMemoryNeed(), as functions over the
// text of the files they read, so that each can be checked on any system's files.

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "detector/detector_options.hpp"

namespace stview {
namespace memory_sources {

/// No limit, or a source that cannot be read.
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

/// The text of a file, or nothing when it cannot be opened.
using ReadFile = std::function<std::optional<std::string>(const std::string& path)>;

/// The first number after @p key on the first line starting with it that has one, or kNoLimit.
std::uint64_t fieldIn(const std::string& text, const std::string& key);

/// The number a file of one number holds ("max", empty or unreadable: kNoLimit).
std::uint64_t numberIn(const std::optional<std::string>& text);

/// MemAvailable of /proc/meminfo's text in bytes, or kNoLimit.
std::uint64_t meminfoAvailable(const std::string& meminfo);

/**
 * @brief The least of limit - usage (0 when over it) over the cgroup of each line of
 * /proc/self/cgroup's text and over its ancestors up to the mount's root: cgroup v2 ("0::/path")
 * under /sys/fs/cgroup, or /sys/fs/cgroup/unified when that holds cgroup.controllers (hybrid),
 * and v1's memory controller under /sys/fs/cgroup/memory. A directory without both a readable
 * limit and usage is left out; kNoLimit when none has them.
 */
std::uint64_t cgroupRoom(const std::string& selfCgroup, const ReadFile& read);

/// RLIMIT_AS's soft limit (kNoLimit: none) less VmSize of /proc/self/status's text.
std::uint64_t addressSpaceRoom(std::uint64_t limit, const std::string& status);

/// STVIEW_MEMORY_LIMIT's value in bytes (null or empty: kNoLimit).
/// @throws std::invalid_argument when it is not digits optionally followed by K, M or G.
std::uint64_t environmentLimit(const char* text);

/// The frame-sized float images detectorMemoryNeed() counts for the scales: every pair's and
/// every spatial level's, without the grey frame and the threads' scratch.
long double scaleFrames(const DetectorOptions& options);

}  // namespace memory_sources
}  // namespace stview
