// Fuzz target for the HDF5 features reader: the bytes are a file. It is refused with one
// Hdf5FeaturesError line or read into columns whose blocks all have a row per point. HDF5
// itself has known crashes on crafted files (its own parsers, below this reader): a finding
// inside libhdf5 is HDF5's, one in features_hdf5.cpp is ours.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "features/hdf5/features_hdf5.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/fuzz_features_hdf5." + std::to_string(getpid()) + ".h5";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    try {
        const stview::FeatureColumns columns = stview::readHdf5Features(path);
        for (const stview::ColumnBlock& block : columns.blocks) {
            if (block.values.size() != columns.size() * static_cast<std::size_t>(block.shape.width))
                std::abort();
        }
        if (columns.points.size() != columns.size() * stview::kFeatureFields) std::abort();
    } catch (const stview::Hdf5FeaturesError& refused) {
        const std::string line = refused.what();
        if (line.rfind(path + ": ", 0) != 0 || line.find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
