#include "detector/memory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "detector/memory_sources.hpp"

namespace stview {
namespace {

using memory_sources::kNoLimit;
constexpr std::uint64_t KiB = 1024;

TEST(MemorySources, MeminfoAndAddressSpaceOverText) {
    const char* meminfo =
        "MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    2048 kB\n";
    const std::pair<const char*, std::uint64_t> meminfos[] = {
        {meminfo, 2048 * KiB},
        {"MemTotal: 5 kB\n", kNoLimit},                          // no such line
        {"", kNoLimit},                                          // unreadable
        {"XMemAvailable: 7 kB\nMemAvailable: 9 kB\n", 9 * KiB},  // at a line's start only
        {"MemAvailable: none\nMemAvailable: 3 kB", 3 * KiB},     // the first with a number
        {"MemAvailable:\n", kNoLimit},                           // no number at all
        {"MemAvailable: 0 kB\n", 0}};
    for (const auto& [text, bytes] : meminfos)
        EXPECT_EQ(memory_sources::meminfoAvailable(text), bytes) << text;

    const char* status = "Name:\tstview\nVmPeak:\t  9999 kB\nVmSize:\t  1024 kB\n";
    const std::uint64_t GiB = 1 << 30;
    const std::tuple<std::uint64_t, const char*, std::uint64_t> rooms[] = {
        {kNoLimit, status, kNoLimit},     // no RLIMIT_AS
        {GiB, status, GiB - 1024 * KiB},  // the limit less VmSize
        {GiB, "Name: x\n", GiB},          // VmSize unknown: nothing in use
        {1024 * KiB, status, 0},          // exactly at the limit
        {1000 * KiB, status, 0},          // over it
        {1024 * KiB + 1, status, 1}};
    for (const auto& [limit, text, room] : rooms)
        EXPECT_EQ(memory_sources::addressSpaceRoom(limit, text), room) << limit << text;
}

// /proc/self/cgroup's text over a tree of files; a file absent from the tree is unreadable.
TEST(MemorySources, CgroupRoomOverV1V2AndHybridTrees) {
    using Tree = std::map<std::string, std::string>;
    const std::string v2 = "/sys/fs/cgroup", v1 = "/sys/fs/cgroup/memory";
    const std::string hybrid = "/sys/fs/cgroup/unified";
    const Tree nested = {{v2 + "/a/b/memory.max", "max\n"},  // no limit at the leaf
                         {v2 + "/a/b/memory.current", "100\n"},
                         {v2 + "/a/memory.max", "1000\n"},  // a limit higher up
                         {v2 + "/a/memory.current", "400\n"}};
    const Tree leafAndRoot = {{v2 + "/a/memory.max", "5000\n"},
                              {v2 + "/a/memory.current", "1000\n"},
                              {v2 + "/memory.max", "3000\n"},  // the mount's own root
                              {v2 + "/memory.current", "2500\n"}};
    const Tree v1Tree = {{v1 + "/docker/x/memory.limit_in_bytes", "8000\n"},
                         {v1 + "/docker/x/memory.usage_in_bytes", "1000\n"},
                         {v1 + "/docker/memory.limit_in_bytes", "9000\n"},
                         {v1 + "/docker/memory.usage_in_bytes", "8500\n"}};
    Tree hybridTree = v1Tree;
    hybridTree[hybrid + "/cgroup.controllers"] = "cpu io memory\n";
    hybridTree[hybrid + "/s/memory.max"] = "700\n";
    hybridTree[hybrid + "/s/memory.current"] = "300\n";
    hybridTree[v2 + "/s/memory.max"] = "1\n";  // not the v2 mount when hybrid
    hybridTree[v2 + "/s/memory.current"] = "0\n";
    const Tree over = {{v2 + "/a/memory.max", "100\n"}, {v2 + "/a/memory.current", "150\n"}};
    const Tree noUsage = {{v2 + "/a/memory.max", "100\n"}};
    const Tree garbage = {{v2 + "/a/memory.max", "lots\n"}, {v2 + "/a/memory.current", "1\n"}};
    const Tree rootOnly = {{v2 + "/memory.max", "600\n"}, {v2 + "/memory.current", "100\n"}};
    // clang-format off
    const std::tuple<const char*, const Tree*, std::uint64_t> cases[] = {
        {"0::/a/b\n", &nested, 600},
        {"0::/a/b", &leafAndRoot, 500},                // /a/b itself unreadable
        {"0::/a\n", &leafAndRoot, 500},                // the least over the path and the root
        {"0::/\n", &rootOnly, 500},
        {"0::/a\n", &rootOnly, 500},
        {"0::/a\n", &over, 0},                         // over its limit: no room
        {"0::/a\n", &noUsage, kNoLimit},               // a limit without a usage is left out
        {"0::/a\n", &garbage, kNoLimit},
        {"4:memory:/docker/x\n", &v1Tree, 500},
        {"4:cpu,memory,pids:/docker/x\n", &v1Tree, 500},
        {"4:memory,cpu:/docker/x\n", &v1Tree, 500},
        {"4:cpu:/docker/x\n", &v1Tree, kNoLimit},       // not the memory controller
        {"4:memoryx:/docker/x\n", &v1Tree, kNoLimit},
        {"4:xmemory:/docker/x\n", &v1Tree, kNoLimit},
        {"0::/docker/x\n", &v1Tree, kNoLimit},          // v2's files only for v2's line
        {"0::/s\n4:memory:/docker/x\n", &hybridTree, 400},
        {"4:memory:/docker/x\n0::/s\n", &hybridTree, 400},
        {"12:cpu:/s\n0::/s\n", &hybridTree, 400},
        {"0::/s\n", &hybridTree, 400},
        {"garbage\n0:\n1:memory\n\n", &rootOnly, kNoLimit},  // malformed lines
        {"", &rootOnly, kNoLimit}};
    // clang-format on
    for (const auto& [self, tree, room] : cases) {
        const memory_sources::ReadFile read = [tree = tree](const std::string& path) {
            const auto file = tree->find(path);
            return file == tree->end() ? std::nullopt : std::optional<std::string>(file->second);
        };
        EXPECT_EQ(memory_sources::cgroupRoom(self, read), room) << self;
    }
}

TEST(MemorySources, EnvironmentLimitFormsAndRefusals) {
    const std::pair<const char*, std::uint64_t> sizes[] = {{"1000000", 1000000},
                                                           {"0", 0},
                                                           {"4k", 4 * KiB},
                                                           {"4K", 4 * KiB},
                                                           {"512M", 512 << 20},
                                                           {"512m", 512 << 20},
                                                           {"8G", 8ULL << 30},
                                                           {"8g", 8ULL << 30},
                                                           {"999999999999999", 999999999999999ULL},
                                                           {"007", 7}};
    for (const auto& [text, bytes] : sizes)
        EXPECT_EQ(memory_sources::environmentLimit(text), bytes);
    EXPECT_EQ(memory_sources::environmentLimit(nullptr), kNoLimit);
    EXPECT_EQ(memory_sources::environmentLimit(""), kNoLimit);
    for (const char* text :
         {"1000000000000000", "M", "12MB", "1.5G", "-5", " 5", "5 ", "5T", "0x10", "G8", "1e9"}) {
        try {
            memory_sources::environmentLimit(text);
            ADD_FAILURE() << text << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), "STVIEW_MEMORY_LIMIT='" + std::string(text) +
                                        "' is not a size in bytes (e.g. 8G, 512M or 1000000)");
        }
    }
}

DetectorOptions optionsOf(DetectorKind kind, std::vector<double> spatial,
                          std::vector<double> temporal) {
    DetectorOptions options = detectorDefaults(kind);
    options.spatialVariances = std::move(spatial);
    options.temporalVariances = std::move(temporal);
    return options;
}

// The formula's frames of the scales are the images a constructed detector holds, less its
// grey frames and its threads' scratch.
TEST(MemoryNeed, ScaleFramesAreTheDetectorsOwnImages) {
    const std::pair<std::vector<double>, std::vector<double>> scales[] = {
        {{4}, {2}},    {{4, 8}, {2, 4}},
        {{2}, {1, 9}}, {{4, 16, 64}, {0.5, 3}},
        {{1}, {16}},   {{4, 8, 16, 32, 64}, {2, 4}}};
    const cv::Size sizes[] = {{32, 24}, {48, 64}};
    for (DetectorKind kind :
         {DetectorKind::Harris, DetectorKind::Hessian, DetectorKind::Gabor, DetectorKind::Dense}) {
        for (const auto& [spatial, temporal] : scales) {
            for (const cv::Size size : sizes) {
                const DetectorOptions options = optionsOf(kind, spatial, temporal);
                const SpaceTimeDetector detector(size, options);
                // Per thread, the filter's row image, and harris's product too.
                const int scratch = kind == DetectorKind::Harris  ? 2
                                    : kind == DetectorKind::Dense ? 0
                                                                  : 1;
                const long double held = detector.framesHeld() - 2 - scratch * cv::getNumThreads();
                const long double bytes = 4.0L * size.width * size.height;
                EXPECT_EQ(memory_sources::scaleFrames(options) * bytes, held * bytes)
                    << detectorName(kind) << " " << spatial.size() << "x" << temporal.size()
                    << " tau2 " << temporal.back() << " at " << size;
            }
        }
    }
}

TEST(MemoryNeed, RefusesEmptyInputsAndSaturates) {
    const DetectorOptions harris = detectorDefaults(DetectorKind::Harris);
    for (const cv::Size size : {cv::Size(0, 5), cv::Size(5, 0), cv::Size(-1, 5)})
        EXPECT_THROW(detectorMemoryNeed(size, harris), std::invalid_argument) << size;
    EXPECT_GT(detectorMemoryNeed({1, 1}, harris), 0u);  // the smallest frame is not empty
    const double nan = std::nan("");
    const std::pair<std::vector<double>, std::vector<double>> bad[] = {
        {{}, {2}}, {{4}, {}}, {{0}, {2}}, {{4}, {-1}}, {{nan}, {2}}, {{4}, {INFINITY}}};
    for (const auto& [spatial, temporal] : bad) {
        EXPECT_THROW(detectorMemoryNeed({8, 8}, optionsOf(DetectorKind::Harris, spatial, temporal)),
                     std::invalid_argument);
    }
    EXPECT_EQ(detectorMemoryNeed({1 << 20, 1 << 20}, optionsOf(DetectorKind::Harris, {4}, {1e30})),
              kNoLimit);
    // Larger frames, more scales and descriptors need more; the number of frames is no input.
    for (DetectorKind kind :
         {DetectorKind::Harris, DetectorKind::Hessian, DetectorKind::Gabor, DetectorKind::Dense}) {
        DetectorOptions small = optionsOf(kind, {4}, {2}), more = optionsOf(kind, {4, 8}, {2, 4});
        const std::uint64_t base = detectorMemoryNeed({64, 48}, small);
        EXPECT_LT(base, detectorMemoryNeed({128, 48}, small));
        if (kind != DetectorKind::Dense) {
            EXPECT_LT(base, detectorMemoryNeed({64, 48}, more));
        }
        small.hog = true;
        const std::uint64_t hog = detectorMemoryNeed({64, 48}, small);
        small.hof = true;
        EXPECT_LT(base, hog);
        EXPECT_LT(hog, detectorMemoryNeed({64, 48}, small));
    }
}

// Sets STVIEW_MEMORY_LIMIT for one scope.
struct Limit {
    explicit Limit(const char* value) { setenv("STVIEW_MEMORY_LIMIT", value, 1); }
    ~Limit() { unsetenv("STVIEW_MEMORY_LIMIT"); }
};

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1000000000) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
    }
    return text;
}

TEST(MemoryCheck, RefusalNamesTheNeedTheLimitAndTheRemedy) {
    {
        unsetenv("STVIEW_MEMORY_LIMIT");
        const MemoryAvailability free = memoryAvailability();
        EXPECT_GT(free.bytes, 1u << 20);
        EXPECT_NE(free.limitedBy, "STVIEW_MEMORY_LIMIT");
        Limit limit("2K");
        EXPECT_EQ(availableMemory(), 2048u);
        const MemoryAvailability low = memoryAvailability();
        EXPECT_EQ(low.bytes, 2048u);
        EXPECT_EQ(low.limitedBy, "STVIEW_MEMORY_LIMIT");
        EXPECT_EQ(low.remedy, "raise STVIEW_MEMORY_LIMIT");
    }
    struct Case {
        cv::Size size;
        std::vector<double> spatial, temporal;
        bool hog, hof;
        const char* pairs;
        const char* descriptors;
    };
    const Case cases[] = {{{64, 48}, {4}, {2}, false, false, "1 scale pair", ""},
                          {{64, 48},
                           {4, 8},
                           {2, 4},
                           true,
                           false,
                           "4 scale pairs and descriptors",
                           ", no descriptors"},
                          {{4000, 4000},
                           {4, 8},
                           {2},
                           false,
                           true,
                           "2 scale pairs and descriptors",
                           ", no descriptors"}};
    const Limit limit("1K");
    for (const Case& c : cases) {
        DetectorOptions options = optionsOf(DetectorKind::Harris, c.spatial, c.temporal);
        options.hog = c.hog;
        options.hof = c.hof;
        const std::string expected =
            "not enough memory: detection at " + std::to_string(c.size.width) + "x" +
            std::to_string(c.size.height) + " with " + c.pairs + " needs " +
            megabytes(detectorMemoryNeed(c.size, options)) +
            ", but 0.0 MB is available (STVIEW_MEMORY_LIMIT); use smaller frames, fewer or "
            "smaller scales" +
            c.descriptors + ", or raise STVIEW_MEMORY_LIMIT";
        try {
            checkDetectorMemory(c.size, options);
            ADD_FAILURE() << expected << ": not refused";
        } catch (const NotEnoughMemory& error) {
            EXPECT_EQ(error.what(), expected);
        }
    }
    EXPECT_THROW(SpaceTimeDetector({64, 48}, optionsOf(DetectorKind::Hessian, {4}, {2})),
                 NotEnoughMemory);
    const DetectorOptions one = optionsOf(DetectorKind::Harris, {4}, {2});
    {
        const Limit exact(std::to_string(detectorMemoryNeed({64, 48}, one)).c_str());
        EXPECT_NO_THROW(checkDetectorMemory({64, 48}, one));  // exactly the need is enough
    }
    {
        const Limit below(std::to_string(detectorMemoryNeed({64, 48}, one) - 1).c_str());
        EXPECT_THROW(checkDetectorMemory({64, 48}, one), NotEnoughMemory);
    }
    const Limit bad("lots");
    EXPECT_THROW(checkDetectorMemory({64, 48}, one), std::invalid_argument);
}

}  // namespace
}  // namespace stview
