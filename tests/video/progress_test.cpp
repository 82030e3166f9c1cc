#include "video/progress.hpp"

#include <gtest/gtest.h>

namespace stview {
namespace {

TEST(Progress, LineAddsShareAndTimeLeftOnlyWhenTheTotalIsKnown) {
    struct Case {
        long written, total;
        double seconds;
        const char* line;
    };
    const Case cases[] = {
        {50, 200, 2.0, "done 50 of 200 frames, 25.0 fps, 25%, 0:06 left"},
        {1, 3, 1.0, "done 1 of 3 frames, 1.0 fps, 33%, 0:02 left"},
        {1, 7300, 1.0, "done 1 of 7300 frames, 1.0 fps, 0%, 2:01:39 left"},
        {0, 10, 0.0, "done 0 of 10 frames, 0.0 fps, 0%"},
        {12, 10, 1.0, "done 12 of 10 frames, 12.0 fps, 100%, 0:00 left"},
        {5, 0, 1.0, "done 5 frames, 5.0 fps"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatProgressLine(c.written, c.total, c.seconds, "done"), c.line);
    }
    // The summary line keeps its form.
    EXPECT_EQ(formatProgress(50, 200, 2.0), "written 50 of 200 frames, 25.0 fps");
}

}  // namespace
}  // namespace stview
