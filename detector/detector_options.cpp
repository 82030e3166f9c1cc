#include "detector/detector_options.hpp"

#include <cmath>
#include <sstream>
#include <utility>

namespace stview {
namespace {

constexpr DetectorKind kKinds[] = {DetectorKind::Harris, DetectorKind::Gabor, DetectorKind::Hessian,
                                   DetectorKind::Dense, DetectorKind::Trajectories};

// Bounds of the trajectory options: far beyond use, small enough that counts cannot overflow.
constexpr long kMostTrajectoryLength = 1000;
constexpr long kMostTrajectoryStride = 1 << 20;
constexpr long kMostTrajectoryScales = 64;

void checkWhole(const char* field, std::optional<long> value, long least, long most) {
    if (!value) return;
    if (*value < least || *value > most) {
        throw OptionError(field, std::to_string(*value) + " is out of range (" +
                                     std::to_string(least) + " to " + std::to_string(most) + ")");
    }
}

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

void checkVariances(const std::vector<double>& variances, const char* what) {
    if (variances.empty()) throw OptionError("scales", std::string("no ") + what + " variance");
    for (std::size_t i = 0; i < variances.size(); ++i) {
        if (!(variances[i] > 0.0) || !std::isfinite(variances[i])) {
            throw OptionError("scales", std::string(what) + " variance " + number(variances[i]) +
                                            " is not a positive number");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (variances[j] == variances[i]) {
                throw OptionError("scales", std::string(what) + " variance " +
                                                number(variances[i]) + " is given twice");
            }
        }
    }
}

void checkFinite(const char* field, double value) {
    if (!std::isfinite(value)) throw OptionError(field, number(value) + " is not a finite number");
}

}  // namespace

const char* detectorName(DetectorKind kind) {
    switch (kind) {
        case DetectorKind::Gabor:
            return "gabor";
        case DetectorKind::Hessian:
            return "hessian";
        case DetectorKind::Dense:
            return "dense";
        case DetectorKind::Trajectories:
            return "trajectories";
        case DetectorKind::Harris:
            break;
    }
    return "harris";
}

std::optional<DetectorKind> detectorKind(const std::string& name) {
    for (DetectorKind kind : kKinds)
        if (name == detectorName(kind)) return kind;
    return std::nullopt;
}

std::string detectorNames() {
    std::string names;
    for (DetectorKind kind : kKinds)
        names += (names.empty() ? "" : ", ") + std::string(detectorName(kind));
    return names;
}

DetectorOptions detectorDefaults(DetectorKind kind) {
    DetectorOptions options;
    options.kind = kind;
    switch (kind) {
        case DetectorKind::Gabor:
            options.threshold = 1e-3;
            break;
        case DetectorKind::Hessian:
            options.threshold = 1e-4;
            break;
        case DetectorKind::Dense:
            options.threshold = 0;
            break;
        case DetectorKind::Trajectories:
            options.threshold = 0;
            options.trajectoryShape = options.hog = options.hof = options.mbh = true;
            break;
        case DetectorKind::Harris:
            break;
    }
    return options;
}

OptionError::OptionError(std::string field, std::string reason)
    : std::invalid_argument(field + ": " + reason),
      field_(std::move(field)),
      reason_(std::move(reason)) {}

void validateDetectorChoice(const DetectorChoice& choice) {
    const std::optional<DetectorKind> kind = detectorKind(choice.detector);
    if (!kind) {
        throw OptionError("detector",
                          "unknown detector '" + choice.detector + "' (" + detectorNames() + ")");
    }
    const bool trajectories = *kind == DetectorKind::Trajectories;
    if (trajectories && choice.scalesGiven) {
        throw OptionError("scales", "trajectories take --trajectory-scales, not variances");
    }
    if (!trajectories) {
        const char* fields[] = {"trajectory-length", "trajectory-stride", "trajectory-scales"};
        const std::optional<long>* values[] = {&choice.trajectoryLength, &choice.trajectoryStride,
                                               &choice.trajectoryScales};
        for (int i = 0; i < 3; ++i) {
            if (*values[i]) {
                throw OptionError(fields[i], std::string("applies to trajectories only, not to ") +
                                                 detectorName(*kind));
            }
        }
    }
    checkWhole("trajectory-length", choice.trajectoryLength, 3, kMostTrajectoryLength);
    checkWhole("trajectory-stride", choice.trajectoryStride, 1, kMostTrajectoryStride);
    checkWhole("trajectory-scales", choice.trajectoryScales, 1, kMostTrajectoryScales);
    checkVariances(choice.spatialVariances, "spatial");
    checkVariances(choice.temporalVariances, "temporal");
    if (choice.k) {
        if (*kind != DetectorKind::Harris) {
            throw OptionError("k",
                              std::string("applies to harris only, not to ") + detectorName(*kind));
        }
        checkFinite("k", *choice.k);
    }
    if (choice.threshold) {
        if (*kind == DetectorKind::Dense) {
            throw OptionError("threshold", "dense sampling has no response to threshold");
        }
        if (trajectories)
            throw OptionError("threshold", "trajectories have no response to threshold");
        checkFinite("threshold", *choice.threshold);
    }
}

void validateDescriptorChoice(const DescriptorChoice& choice, DetectorKind kind) {
    if (!choice.names) return;
    const bool trajectories = kind == DetectorKind::Trajectories;
    const std::string names = trajectories ? "trajectory, hog, hof, mbh" : "hog, hof";
    if (choice.names->empty()) throw OptionError("descriptors", "names none of " + names);
    for (std::size_t i = 0; i < choice.names->size(); ++i) {
        const std::string& name = (*choice.names)[i];
        if (name.empty()) throw OptionError("descriptors", "an empty name among them");
        const bool known = name == "hog" || name == "hof" ||
                           (trajectories && (name == "trajectory" || name == "mbh"));
        if (!known) {
            throw OptionError(
                "descriptors",
                "unknown descriptor '" + name + "' (" + names +
                    (trajectories ? ")" : "; trajectory and mbh: trajectories only)"));
        }
        for (std::size_t j = 0; j < i; ++j) {
            if ((*choice.names)[j] == name) {
                throw OptionError("descriptors", "'" + name + "' is given twice");
            }
        }
    }
}

void validateFrameRange(const FrameRange& range) {
    constexpr long kLargest = 2147483647L;
    if (range.first < 0) throw OptionError("first", std::to_string(range.first) + " is negative");
    if (range.first >= kLargest) {
        throw OptionError("first", std::to_string(range.first) + " is beyond the largest frame " +
                                       "number, " + std::to_string(kLargest - 1));
    }
    if (!range.last) return;
    if (*range.last <= range.first) {
        throw OptionError("last", std::to_string(*range.last) + " is not after the first frame " +
                                      std::to_string(range.first));
    }
    if (*range.last > kLargest) {
        throw OptionError("last", std::to_string(*range.last) + " is beyond the largest frame " +
                                      "number, " + std::to_string(kLargest));
    }
}

DetectorOptions detectorOptions(const DetectorChoice& detector,
                                const DescriptorChoice& descriptors) {
    validateDetectorChoice(detector);
    const DetectorKind kind = *detectorKind(detector.detector);
    validateDescriptorChoice(descriptors, kind);
    DetectorOptions options = detectorDefaults(kind);
    options.spatialVariances = detector.spatialVariances;
    options.temporalVariances = detector.temporalVariances;
    if (detector.k) options.k = *detector.k;
    if (detector.threshold) options.threshold = *detector.threshold;
    if (detector.trajectoryLength)
        options.trajectoryLength = static_cast<int>(*detector.trajectoryLength);
    if (detector.trajectoryStride)
        options.trajectoryStride = static_cast<int>(*detector.trajectoryStride);
    if (detector.trajectoryScales)
        options.trajectoryScales = static_cast<int>(*detector.trajectoryScales);
    if (descriptors.names) {
        options.hog = options.hof = options.trajectoryShape = options.mbh = false;
        for (const std::string& name : *descriptors.names) {
            options.hog = options.hog || name == "hog";
            options.hof = options.hof || name == "hof";
            options.trajectoryShape = options.trajectoryShape || name == "trajectory";
            options.mbh = options.mbh || name == "mbh";
        }
    }
    return options;
}

void validateDetectorOptions(const DetectorOptions& options) {
    checkVariances(options.spatialVariances, "spatial");
    checkVariances(options.temporalVariances, "temporal");
    checkFinite("k", options.k);
    checkFinite("threshold", options.threshold);
    if (options.kind == DetectorKind::Trajectories) {
        checkWhole("trajectory-length", options.trajectoryLength, 3, kMostTrajectoryLength);
        checkWhole("trajectory-stride", options.trajectoryStride, 1, kMostTrajectoryStride);
        checkWhole("trajectory-scales", options.trajectoryScales, 1, kMostTrajectoryScales);
    }
}

void validateThreads(long threads) {
    if (threads < 1 || threads > kMostThreads) {
        throw OptionError("threads", std::to_string(threads) + " is out of range (1 to " +
                                         std::to_string(kMostThreads) + ")");
    }
}

}  // namespace stview
