#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace stview {

/// The detectors stdetect offers. Every one searches each (sigma^2, tau^2) pair on its own.
enum class DetectorKind {
    Harris,        ///< space-time corners: det(mu) - k trace(mu)^3 of the second-moment matrix
    Gabor,         ///< periodic motion: E^2 + O^2 of a quadrature pair of temporal Gabor filters
    Hessian,       ///< blobs: |det| of the scale-normalised space-time Hessian
    Dense,         ///< a regular grid of half-overlapping descriptor boxes, no response
    Trajectories,  ///< points tracked through dense optical flow, described along the track
};

/// "harris", "gabor", "hessian", "dense" or "trajectories".
const char* detectorName(DetectorKind kind);

/// The detector called @p name, or nothing for a name that is none of them.
std::optional<DetectorKind> detectorKind(const std::string& name);

/// "harris, gabor, hessian, dense, trajectories": the names, for messages.
std::string detectorNames();

/// What the detector looks for. Variances are in pixels squared and frames squared.
struct DetectorOptions {
    std::vector<double> spatialVariances{4, 8, 16, 32, 64};  ///< sigma^2 of each scale
    std::vector<double> temporalVariances{2, 4};             ///< tau^2 of each scale
    double k = 0.0005;        ///< harris: H = det(mu) - k * trace(mu)^3
    double threshold = 1e-8;  ///< points need a response strictly above it (not dense)
    bool hog = false;         ///< attach histograms of oriented gradients (72; trajectories 96)
    bool hof = false;         ///< attach histograms of optical flow (90; trajectories 108)
    DetectorKind kind = DetectorKind::Harris;
    // Trajectories only (the scales above are not theirs).
    int trajectoryLength = 15;     ///< L: frames a trajectory is tracked over, at least 3
    int trajectoryStride = 5;      ///< W: the sampling cells' side, pixels
    int trajectoryScales = 8;      ///< at most this many scales, each 2^(-1/2) of the one before
    bool trajectoryShape = false;  ///< attach the trajectory's normalised moves (2L numbers)
    bool mbh = false;              ///< attach motion-boundary histograms (192 numbers)
};

/// The options of @p kind with its own defaults: the default scales, no descriptors, k 0.0005,
/// and the threshold harris 1e-8, gabor 1e-3, hessian 1e-4 (dense has none; 0); trajectories
/// all four descriptors (trajectory, hog, hof, mbh).
DetectorOptions detectorDefaults(DetectorKind kind);

/**
 * @brief A refused option value. field() is the option's own name, the same for every front
 * end ("detector", "scales", "k", "threshold", "descriptors", "first", "last", "threads"); each
 * front end words it with its own name for it (the command line's -ff, Python's first).
 * reason() says why, without the name; what() is "field: reason".
 */
class OptionError : public std::invalid_argument {
  public:
    OptionError(std::string field, std::string reason);
    const std::string& field() const { return field_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string field_, reason_;
};

/// Which detector and its parameters, as a user asks for them: an unset k or threshold is the
/// chosen detector's default.
struct DetectorChoice {
    std::string detector = "harris";
    std::vector<double> spatialVariances{4, 8, 16, 32, 64};
    std::vector<double> temporalVariances{2, 4};
    std::optional<double> k;          ///< harris only
    std::optional<double> threshold;  ///< every detector but dense and trajectories
    bool scalesGiven = false;         ///< the variances were asked for (trajectories refuse them)
    std::optional<long> trajectoryLength, trajectoryStride, trajectoryScales;  ///< trajectories
};

/// The descriptors asked for, by name ("hog", "hof"; trajectories also "trajectory", "mbh");
/// unset: the detector's default (none; trajectories all four).
struct DescriptorChoice {
    std::optional<std::vector<std::string>> names;
};

/// Frames [first, last) of a video, zero-based; no last: to the end.
struct FrameRange {
    long first = 0;
    std::optional<long> last;
};

/// @throws OptionError ("detector", "scales", "k", "threshold", "trajectory-length",
/// "trajectory-stride" or "trajectory-scales") for an unknown detector, an empty, repeated,
/// non-positive or non-finite variance, a k or threshold that is not finite, one given to a
/// detector that has none, a trajectory length below 3, a stride or scale count below 1, or a
/// trajectory option given to another detector.
void validateDetectorChoice(const DetectorChoice& choice);

/// @throws OptionError ("descriptors") for an unknown or repeated name, or an empty list;
/// the names @p kind takes (trajectories: trajectory, hog, hof, mbh; the others hog, hof).
void validateDescriptorChoice(const DescriptorChoice& choice,
                              DetectorKind kind = DetectorKind::Harris);

/// @throws OptionError ("first" or "last") for a negative first frame, a first frame beyond
/// the 32-bit range, or a last frame that is not after the first (or beyond the 32-bit range).
/// Frame numbers are int in the detector: the first at most INT_MAX - 1, the last INT_MAX.
void validateFrameRange(const FrameRange& range);

/// The detector options of a valid choice of detector and descriptors (validated here).
/// @throws OptionError as the two validations do.
DetectorOptions detectorOptions(const DetectorChoice& detector,
                                const DescriptorChoice& descriptors);

/// The most threads a run may ask for.
constexpr long kMostThreads = 1024;

/// @throws OptionError ("threads") for a thread count outside 1 to kMostThreads.
void validateThreads(long threads);

/// The detector options' own check, for options built in code rather than from a choice:
/// @throws OptionError as validateDetectorChoice does (k and threshold must be finite).
void validateDetectorOptions(const DetectorOptions& options);

}  // namespace stview
