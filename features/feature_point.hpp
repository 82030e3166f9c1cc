#pragma once

#include <memory>
#include <string>
#include <vector>

namespace cv {
class Mat;
}

namespace stview {

/**
 * @brief One space-time interest point.
 *
 * Records read from a features file count y upward from the bottom edge of the
 * frame; records made by FrameBuffer::FindLocalMaxima hold the row index in the
 * buffered frame. The attached matrix and array are carried along by copies and
 * shared between them (released when the last copy goes). Records loaded for
 * drawing carry a trajectory's track as the matrix; nothing else fills them.
 */
struct FeaturePoint {
    bool flag = true;                 ///< set in every record; nothing reads it
    int id = 0;                       ///< first number of a features-file line; nothing reads it
    int x = 0;                        ///< column, pixels
    int y = 0;                        ///< row, pixels (see above for its origin)
    int t = 0;                        ///< frame number, zero-based
    double spatialVariance = 0.0;     ///< pixels squared
    double temporalVariance = 0.0;    ///< frames squared
    double value = 0.0;               ///< third real of a file line, or the value at a maximum
    std::shared_ptr<cv::Mat> matrix;  ///< attached matrix, usually none
    std::shared_ptr<std::vector<double>> array;  ///< attached array, usually none
    int spare = 0;                               ///< carried along, never read
    std::string label;                           ///< carried along, empty unless a caller sets it
};

/// Ordered list of points, in file order or in scan order.
using FeatureList = std::vector<FeaturePoint>;

}  // namespace stview
