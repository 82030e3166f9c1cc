#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "features/feature_columns.hpp"
#include "features/feature_point.hpp"

namespace stview {

/**
 * The HDF5 form of a features file, beside the text one. Its layout (for readers in other
 * languages):
 *   points      N x 7 float64: id x y t sigma2 tau2 value, as the text's seven columns
 *   tracks      N x (L + 1) x 2 float64: each trajectory's x, y (from the bottom) per frame
 *   trajectory, hog, hof, mbh   N x D float32: the descriptors present
 *   attributes of the file (strings unless said): format "stview features",
 *     format_version (int), columns (the text's "# columns:" words), command, and where
 *     known detector, detector_options, video, frame_size (int width, height) and
 *     frame_rate (float64, frames per second); points, tracks and each descriptor carry
 *     columns too.
 * The values are the unrounded ones: the text holds "%.4g" of the descriptors.
 */
constexpr int kFeaturesHdf5Version = 1;

/// The bytes that start an HDF5 file (at offset 0, or 512, 1024, 2048 ... after a user block).
constexpr std::string_view kHdf5Signature{"\x89HDF\r\n\x1a\n", 8};

/// True when the file at @p path carries HDF5's signature where HDF5 looks for it; false for
/// any other content or a file that cannot be read.
bool isHdf5File(const std::string& path);

/// A features file in HDF5 form that cannot be read or written: what() is one line naming
/// the file and the problem.
class Hdf5FeaturesError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// What a features file says about how it was made, beside its records (empty or 0:
/// unknown).
struct FeaturesFileInfo {
    std::string command;          ///< the command line that made the file
    std::string detector;         ///< harris, gabor, ...
    std::string detectorOptions;  ///< the detector's options, as text
    std::string video;            ///< the video's name
    int width = 0, height = 0;    ///< the video's frame size, pixels
    double frameRate = 0.0;       ///< frames per second
};

/**
 * @brief Reads a features file in HDF5 form: points, and the blocks present in the text's
 * order (track, trajectory, hog, hof, mbh); the file's attributes in @p info when given.
 * @throws Hdf5FeaturesError naming the file for a file that is not HDF5, is truncated, lacks
 *         points, holds a dataset of the wrong type or shape or a block whose rows differ
 *         from points', or comes from a newer format version.
 */
FeatureColumns readHdf5Features(const std::string& path, FeaturesFileInfo* info = nullptr);

/// How the datasets are stored: rows per chunk, and HDF5's shuffle + deflate at @p deflate
/// (1 … 9; 0: uncompressed). docs/benchmarks.md measures the defaults against others.
struct Hdf5WriteOptions {
    std::size_t chunkRows = 4096;
    int deflate = 0;
};

/**
 * @brief Writes a features file in HDF5 form as its records become final: appended in chunks
 * (memory holds one chunk of rows), under a temporary name beside @p path until commit()
 * renames it; an uncommitted writer removes its temporary file. Files are opened without
 * HDF5's file locking (unless HDF5_USE_FILE_LOCKING asks for it).
 */
class Hdf5FeaturesWriter {
  public:
    /// @throws Hdf5FeaturesError when the file cannot be made; std::invalid_argument for a
    ///         block other than track (even width), trajectory, hog, hof and mbh.
    Hdf5FeaturesWriter(const std::string& path, const ColumnLayout& layout,
                       const FeaturesFileInfo& info, const Hdf5WriteOptions& options = {});
    ~Hdf5FeaturesWriter();
    Hdf5FeaturesWriter(const Hdf5FeaturesWriter&) = delete;
    Hdf5FeaturesWriter& operator=(const Hdf5FeaturesWriter&) = delete;

    /// Records whose arrays hold the layout's numbers in order (as writeFeatures takes them).
    /// @throws std::invalid_argument for a record with fewer numbers.
    void append(const FeatureList& points);
    /// @p count rows of N x 7 @p points and of each block, in the layout's order.
    void append(const double* points, std::size_t count, const std::vector<BlockView>& blocks);
    /// What the file's attributes will say (written by commit()).
    FeaturesFileInfo& info();
    /// Writes what is buffered and the attributes, closes and renames the file; @throws
    /// Hdf5FeaturesError.
    void commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

/// Writes @p columns as a whole (Hdf5FeaturesWriter's file).
void writeHdf5Features(const std::string& path, const FeatureColumns& columns,
                       const FeaturesFileInfo& info);

}  // namespace stview
