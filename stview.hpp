#pragma once

// The stview library: the feature record and its file format, the image
// utilities and the space-time frame buffer.

#include "viewer/feature_point.hpp"
#include "viewer/features_file.hpp"
