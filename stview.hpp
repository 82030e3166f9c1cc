#pragma once

// The stview library: the feature record and its file format, the image
// utilities and the space-time frame buffer.

#include "imaging/gaussian_kernel.hpp"
#include "imaging/image_grid.hpp"
#include "imaging/image_wrappers.hpp"
#include "spacetime/frame_buffer.hpp"
#include "spacetime/frame_ring.hpp"
#include "spacetime/neighbour_tables.hpp"
#include "viewer/feature_point.hpp"
#include "viewer/features_file.hpp"
