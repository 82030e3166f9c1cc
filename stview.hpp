#pragma once

// The stview library: the feature record and its file format, the image
// utilities, the space-time frame buffer and the space-time corner detector.

#include "detector/memory.hpp"
#include "detector/space_time_detector.hpp"
#include "features/feature_point.hpp"
#include "features/features_file.hpp"
#include "imaging/gaussian_kernel.hpp"
#include "imaging/image_grid.hpp"
#include "imaging/image_wrappers.hpp"
#include "spacetime/frame_buffer.hpp"
#include "spacetime/frame_ring.hpp"
#include "spacetime/neighbour_tables.hpp"
