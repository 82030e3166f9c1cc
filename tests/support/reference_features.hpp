#pragma once

// The straightforward features reader: one std::getline and one
// std::istringstream per line. Tests use it as the oracle for the fast loader,
// and the benchmarks as its baseline.

#include <istream>
#include <sstream>
#include <string>

#include "features/feature_point.hpp"

namespace stview::reference {

inline FeatureList readFeatures(std::istream& in) {
    FeatureList points;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') continue;
        std::istringstream fields(line);
        FeaturePoint p;
        if (fields >> p.id >> p.x >> p.y >> p.t >> p.spatialVariance >> p.temporalVariance >>
            p.value) {
            points.push_back(p);
        }
    }
    return points;
}

}  // namespace stview::reference
