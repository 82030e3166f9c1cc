#include <cstdio>
#include <exception>

#include "detector/stdetect.hpp"

int main(int argc, char** argv) {
    try {
        return stview::runDetect(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stdetect: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "stdetect: unexpected failure\n");
    }
    return stview::kDetectFailed;
}
