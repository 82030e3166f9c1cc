#include "detector/detector_options.hpp"

#include <cmath>
#include <sstream>
#include <utility>

namespace stview {
namespace {

constexpr DetectorKind kKinds[] = {DetectorKind::Harris, DetectorKind::Gabor, DetectorKind::Hessian,
                                   DetectorKind::Dense};

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
        checkFinite("threshold", *choice.threshold);
    }
}

void validateDescriptorChoice(const DescriptorChoice& choice) {
    if (!choice.names) return;
    if (choice.names->empty()) throw OptionError("descriptors", "names none of hog, hof");
    for (std::size_t i = 0; i < choice.names->size(); ++i) {
        const std::string& name = (*choice.names)[i];
        if (name.empty()) throw OptionError("descriptors", "an empty name among them");
        if (name != "hog" && name != "hof") {
            throw OptionError("descriptors", "unknown descriptor '" + name + "' (hog, hof)");
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
    validateDescriptorChoice(descriptors);
    DetectorOptions options = detectorDefaults(*detectorKind(detector.detector));
    options.spatialVariances = detector.spatialVariances;
    options.temporalVariances = detector.temporalVariances;
    if (detector.k) options.k = *detector.k;
    if (detector.threshold) options.threshold = *detector.threshold;
    if (descriptors.names) {
        for (const std::string& name : *descriptors.names) {
            options.hog = options.hog || name == "hog";
            options.hof = options.hof || name == "hof";
        }
    }
    return options;
}

void validateDetectorOptions(const DetectorOptions& options) {
    checkVariances(options.spatialVariances, "spatial");
    checkVariances(options.temporalVariances, "temporal");
    checkFinite("k", options.k);
    checkFinite("threshold", options.threshold);
}

void validateThreads(long threads) {
    if (threads < 1 || threads > kMostThreads) {
        throw OptionError("threads", std::to_string(threads) + " is out of range (1 to " +
                                         std::to_string(kMostThreads) + ")");
    }
}

}  // namespace stview
