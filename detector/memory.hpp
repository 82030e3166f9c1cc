#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <opencv2/core.hpp>

#include "detector/space_time_detector.hpp"

namespace stview {

/**
 * @brief Bytes the detector holds for frames of @p frameSize with @p options: the rings and
 * images of every (sigma^2, tau^2) pair, sized by that pair's kernel lengths, the descriptors'
 * buffers when asked for, each thread's scratch images (cv::getNumThreads() threads) and the
 * decoding of the video. Does not depend on the number of frames.
 * @throws std::invalid_argument for an empty size or an empty or non-positive variance list.
 */
std::uint64_t detectorMemoryNeed(cv::Size frameSize, const DetectorOptions& options);

/// Where availableMemory()'s figure comes from.
struct MemoryAvailability {
    std::uint64_t bytes = 0;
    std::string limitedBy;  ///< which limit gives the figure, e.g. "STVIEW_MEMORY_LIMIT"
    std::string remedy;     ///< how to raise it, e.g. "free memory"
};

/**
 * @brief The least of /proc/meminfo's MemAvailable, every enclosing cgroup's memory limit less
 * its usage (cgroup v2, or v1's memory controller), and RLIMIT_AS less the address space in
 * use, lowered further by the environment variable STVIEW_MEMORY_LIMIT (bytes, optionally
 * followed by K, M or G, 1024-based). A source that cannot be read is left out.
 * @throws std::invalid_argument when STVIEW_MEMORY_LIMIT is set but is not such a size.
 */
MemoryAvailability memoryAvailability();

/// memoryAvailability().bytes.
std::uint64_t availableMemory();

/// The detector would need more memory than is available. what() is one line: the need, what
/// is available and what to change.
class NotEnoughMemory : public std::runtime_error {
  public:
    explicit NotEnoughMemory(const std::string& message) : std::runtime_error(message) {}
};

/// @throws NotEnoughMemory when detectorMemoryNeed() exceeds availableMemory().
void checkDetectorMemory(cv::Size frameSize, const DetectorOptions& options);

}  // namespace stview
