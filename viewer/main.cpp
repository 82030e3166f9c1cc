#include <cstdio>
#include <exception>

#include "viewer/driver.hpp"

int main(int argc, char** argv) {
    try {
        return stview::runViewer(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stview: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "stview: unexpected failure\n");
    }
    return stview::kExitFailed;
}
