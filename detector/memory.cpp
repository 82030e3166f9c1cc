#include "detector/memory.hpp"

#include "detector/memory_sources.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <vector>

#include "detector/dense_grid.hpp"
#include "detector/descriptor_stream.hpp"
#include "detector/trajectory_detector.hpp"

namespace stview {
namespace {

constexpr const char* kVariable = "STVIEW_MEMORY_LIMIT";
constexpr std::uint64_t kUnlimited = memory_sources::kNoLimit;

// Half length of makeGaussianKernel(variance, 0, 3): floor(3 sqrt(variance)). Sums are kept
// in long double (a 64-bit mantissa: exact up to 2^64 bytes), so that absurd variances give an
// absurd need instead of a wrapped-around small one.
long double half(double variance) { return std::floor(3.0L * std::sqrt(variance)); }

void checkList(const std::vector<double>& variances, const char* what) {
    if (variances.empty()) throw std::invalid_argument(std::string("no ") + what + " variance");
    for (double v : variances) {
        if (!(v > 0.0) || !std::isfinite(v)) {
            throw std::invalid_argument(std::string(what) + " variance " + std::to_string(v) +
                                        " is not a positive number");
        }
    }
}

std::string readable(std::uint64_t bytes) {
    char text[32];
    const double value = static_cast<double>(bytes);
    if (value < 1e9) {
        std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", value / 1e9);
    }
    return text;
}

// The text of a file, or nothing when it cannot be opened.
std::optional<std::string> fileText(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Frames the scales keep, frames each thread's scratch takes, and the frames between a
// point's frame and the newest frame read when the point is released.
struct Frames {
    long double scales = 0, thread = 1, delay = 0;
};

Frames framesOf(const DetectorOptions& options) {
    long double timeHalf = 0, productHalf = 0;
    for (double tau2 : options.temporalVariances) {
        timeHalf = std::max(timeHalf, half(tau2));
        productHalf = std::max(productHalf, half(2 * tau2));
    }
    const long double spatial = options.spatialVariances.size();
    Frames frames;
    long double pairFrames = 0;  // frames each pair keeps
    frames.delay = timeHalf + 2;
    switch (options.kind) {
        case DetectorKind::Harris:
            for (double tau2 : options.temporalVariances) {
                // L at t - 1, t, t + 1; a block of 4 responses (the detector makes them 4
                // frames at a time); the window of 3 responses searched for maxima; and the six
                // products' rings, g(2 tau^2)'s length plus the 3 further frames a block reaches.
                pairFrames += 3 + 4 + 3 + 6 * (2 * half(2 * tau2) + 4);
            }
            frames.thread = 2;  // a product and the filter's intermediate image
            frames.delay = timeHalf + productHalf + 4;
            break;
        case DetectorKind::Hessian:
            // L at t - 1, t, t + 1, the response and the window of 3 searched for maxima.
            pairFrames = options.temporalVariances.size() * (3 + 1 + 3);
            break;
        case DetectorKind::Gabor:
            // The even and odd responses, their energy and the window of 3 searched.
            pairFrames = options.temporalVariances.size() * (2 + 1 + 3);
            break;
        case DetectorKind::Dense:
        case DetectorKind::Trajectories:  // counted on their own (trajectoryMemoryNeed)
            frames.thread = 0;            // nothing is filtered
            break;
    }
    // Each spatial scale: its window of frames smoothed in space, of the longest g(tau^2)'s
    // length, and the image being smoothed. Dense sampling smooths nothing.
    const bool smoothing =
        options.kind != DetectorKind::Dense && options.kind != DetectorKind::Trajectories;
    const long double levelFrames = smoothing ? spatial * (2 * timeHalf + 1 + 1) : 0;
    frames.scales = pairFrames * spatial + levelFrames;
    return frames;
}

}  // namespace

namespace memory_sources {

std::uint64_t fieldIn(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::istringstream words(line.substr(key.size()));
        std::uint64_t value = 0;
        if (words >> value) return value;
    }
    return kUnlimited;
}

std::uint64_t numberIn(const std::optional<std::string>& text) {
    if (!text) return kUnlimited;
    std::istringstream in(*text);
    std::uint64_t value = 0;
    return in >> value ? value : kUnlimited;
}

std::uint64_t meminfoAvailable(const std::string& meminfo) {
    const std::uint64_t availableKiB = fieldIn(meminfo, "MemAvailable:");
    return availableKiB == kUnlimited ? kUnlimited : availableKiB * 1024;
}

std::uint64_t cgroupRoom(const std::string& selfCgroup, const ReadFile& read) {
    std::uint64_t room = kUnlimited;
    std::istringstream self(selfCgroup);
    for (std::string line; std::getline(self, line);) {
        // "0::/path" (v2) or "N:memory:/path" or "N:cpu,memory:/path" (v1).
        const std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string limitFile, usageFile, mount;
        if (controllers.empty()) {
            // cgroup v2, mounted alone or beside v1 (hybrid).
            const bool hybrid = read("/sys/fs/cgroup/unified/cgroup.controllers").has_value();
            mount = hybrid ? "/sys/fs/cgroup/unified" : "/sys/fs/cgroup";
            limitFile = "memory.max";
            usageFile = "memory.current";
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            mount = "/sys/fs/cgroup/memory";
            limitFile = "memory.limit_in_bytes";
            usageFile = "memory.usage_in_bytes";
        } else {
            continue;
        }
        // Inside a cgroup namespace the mount shows this cgroup itself, whatever the path says,
        // so the mount's own root is looked at too.
        std::string path = line.substr(second + 1);
        for (;;) {
            const std::string dir = mount + (path == "/" ? "" : path);
            const std::uint64_t limit = numberIn(read(dir + "/" + limitFile));
            const std::uint64_t usage = numberIn(read(dir + "/" + usageFile));
            if (limit != kUnlimited && usage != kUnlimited) {
                room = std::min(room, limit > usage ? limit - usage : 0);
            }
            if (path.empty() || path == "/") break;
            const std::size_t slash = path.rfind('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return room;
}

std::uint64_t addressSpaceRoom(std::uint64_t limit, const std::string& status) {
    if (limit == kUnlimited) return kUnlimited;
    const std::uint64_t usedKiB = fieldIn(status, "VmSize:");
    const std::uint64_t used = usedKiB == kUnlimited ? 0 : usedKiB * 1024;
    return limit > used ? limit - used : 0;
}

// STVIEW_MEMORY_LIMIT: digits, optionally followed by K, M or G (1024-based).
std::uint64_t environmentLimit(const char* text) {
    if (text == nullptr || *text == '\0') return kUnlimited;
    const std::string value(text);
    std::size_t digits = 0;
    while (digits < value.size() && std::isdigit(static_cast<unsigned char>(value[digits])))
        ++digits;
    int shift = -1;
    if (digits == value.size()) {
        shift = 0;
    } else if (digits + 1 == value.size()) {
        switch (std::toupper(static_cast<unsigned char>(value[digits]))) {
            case 'K':
                shift = 10;
                break;
            case 'M':
                shift = 20;
                break;
            case 'G':
                shift = 30;
                break;
            default:
                break;
        }
    }
    if (digits == 0 || digits > 15 || shift < 0) {
        throw std::invalid_argument("STVIEW_MEMORY_LIMIT='" + value +
                                    "' is not a size in bytes (e.g. 8G, 512M or 1000000)");
    }
    return std::stoull(value.substr(0, digits)) << shift;
}

long double scaleFrames(const DetectorOptions& options) { return framesOf(options).scales; }

}  // namespace memory_sources

namespace {

std::uint64_t addressSpaceRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
    return memory_sources::addressSpaceRoom(static_cast<std::uint64_t>(limit.rlim_cur),
                                            fileText("/proc/self/status").value_or(""));
}

}  // namespace

std::uint64_t detectorMemoryNeed(cv::Size frameSize, const DetectorOptions& options) {
    if (frameSize.width < 1 || frameSize.height < 1) {
        throw std::invalid_argument("frame size " + std::to_string(frameSize.width) + "x" +
                                    std::to_string(frameSize.height) + " is empty");
    }
    checkList(options.spatialVariances, "spatial");
    checkList(options.temporalVariances, "temporal");
    const long double pixels = static_cast<long double>(frameSize.width) * frameSize.height;
    const long double frame = 4 * pixels;  // one CV_32FC1 image
    if (options.kind == DetectorKind::Trajectories) {
        // The worst case of the trajectories, the grey frames (8-bit and float), decoding (as
        // below) and the program itself.
        const long double need =
            static_cast<long double>(trajectoryMemoryNeed(frameSize, options)) + pixels + frame +
            24 * pixels + (84 << 20);
        return need >= static_cast<long double>(kUnlimited) ? kUnlimited
                                                            : static_cast<std::uint64_t>(need);
    }

    const Frames frames = framesOf(options);
    long double delay = frames.delay;
    const long double threadFrames = frames.thread * std::max(1, cv::getNumThreads());
    long double need = (frames.scales + threadFrames) * frame;
    need += pixels + frame;  // the grey frame, 8-bit and float

    // Decoding: the decoder's frame pool and the frames read ahead (8-bit BGR), as measured.
    need += 24 * pixels;
    if (options.hog || options.hof) {
        // Votes are kept from a box's reach before the oldest point still to be released to the
        // newest frame: the detector's delay plus that reach (8 tau, halved).
        double largestTau2 = 0;
        for (double tau2 : options.temporalVariances) largestTau2 = std::max(largestTau2, tau2);
        const long double reach =
            std::floor(std::max(3.0L, std::round(8.0L * std::sqrt(largestTau2))) / 2);
        // Dense points are released once their box's last frame is read: about the reach again.
        if (options.kind == DetectorKind::Dense) delay = reach;
        const long double votedFrames = delay + reach;
        // Up to `jobs` frames' votes are made at once (descriptorJobs() in
        // detector/descriptor_stream.hpp), each job in buffers of its own, its votes beside the
        // stored ones until they are stored.
        const long double jobs = descriptorJobs();
        need += (jobs + 1) * pixels;  // 8-bit grey frames: each job's and the one before
        if (options.hog) {
            need += jobs * (frame + 2 * frame);               // f and its gradient field
            need += (votedFrames + jobs) * (pixels + frame);  // bins and magnitudes per frame
        }
        if (options.hof) {
            // Farneback's pyramids, polynomial expansions and flow field (as measured: about 24
            // float images per job at their peak), and one byte of bins per frame.
            need += jobs * 24 * frame;
            need += (votedFrames + jobs) * pixels;
        }
        // Dense sampling releases a whole grid frame of every pair at once, each point with
        // its descriptor (162 doubles, its record and their allocations: about 1.4 KB).
        if (options.kind == DetectorKind::Dense) {
            long double points = 0;
            for (double sigma2 : options.spatialVariances) {
                for (double tau2 : options.temporalVariances) {
                    const DenseGrid grid(frameSize, sigma2, tau2, 0);
                    points += static_cast<long double>(grid.columns().size()) * grid.rows().size();
                }
            }
            need += points * 1400;
        }
    }
    // The program itself: code, libraries, heaps and thread stacks in use (measured: about 88 MB
    // resident for 32x32 frames). Between 320x240 and 1280x720 the filtering detectors' peaks
    // lie 3.5 MB below what their images and this add up to (measured for each), dense
    // sampling's do not.
    need += 84 << 20;
    if (options.kind != DetectorKind::Dense) need -= 3.5e6L;
    const long double largest = static_cast<long double>(kUnlimited);
    return need >= largest ? kUnlimited : static_cast<std::uint64_t>(std::ceil(need));
}

MemoryAvailability memoryAvailability() {
    MemoryAvailability result{kUnlimited, "no limit found", ""};
    auto consider = [&result](std::uint64_t bytes, const char* source, const char* remedy) {
        if (bytes < result.bytes) result = {bytes, source, remedy};
    };
    consider(memory_sources::meminfoAvailable(fileText("/proc/meminfo").value_or("")),
             "the system's available memory", "free memory");
    consider(memory_sources::cgroupRoom(fileText("/proc/self/cgroup").value_or(""), fileText),
             "room left under the cgroup's memory limit", "raise the cgroup's memory limit");
    consider(addressSpaceRoom(), "address space left under ulimit -v", "raise ulimit -v");
    consider(memory_sources::environmentLimit(std::getenv(kVariable)), kVariable,
             "raise STVIEW_MEMORY_LIMIT");
    return result;
}

std::uint64_t availableMemory() { return memoryAvailability().bytes; }

void checkDetectorMemory(cv::Size frameSize, const DetectorOptions& options) {
    const std::uint64_t need = detectorMemoryNeed(frameSize, options);
    const MemoryAvailability available = memoryAvailability();
    if (need <= available.bytes) return;
    if (options.kind == DetectorKind::Trajectories) {
        throw NotEnoughMemory(
            "not enough memory: trajectories at " + std::to_string(frameSize.width) + "x" +
            std::to_string(frameSize.height) + " need at worst " + readable(need) + ", but " +
            readable(available.bytes) + " is available (" + available.limitedBy +
            "); use smaller frames, fewer --trajectory-scales, a larger --trajectory-stride, a "
            "shorter --trajectory-length, fewer descriptors, or " +
            available.remedy);
    }
    const std::size_t pairs = options.spatialVariances.size() * options.temporalVariances.size();
    throw NotEnoughMemory(
        "not enough memory: detection at " + std::to_string(frameSize.width) + "x" +
        std::to_string(frameSize.height) + " with " + std::to_string(pairs) + " scale pair" +
        (pairs == 1 ? "" : "s") + (options.hog || options.hof ? " and descriptors" : "") +
        " needs " + readable(need) + ", but " + readable(available.bytes) + " is available (" +
        available.limitedBy + "); use smaller frames, fewer or smaller scales" +
        (options.hog || options.hof ? ", no descriptors" : "") + ", or " + available.remedy);
}

}  // namespace stview
