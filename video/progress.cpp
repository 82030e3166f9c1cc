#include "video/progress.hpp"

#include <algorithm>
#include <cmath>

namespace stview {

std::string formatProgress(long written, long total, double seconds, const char* verb) {
    const double fps = seconds > 0.0 ? static_cast<double>(written) / seconds : 0.0;
    char text[128];
    if (total > 0) {
        std::snprintf(text, sizeof text, "%s %ld of %ld frames, %.1f fps", verb, written, total,
                      fps);
    } else {
        std::snprintf(text, sizeof text, "%s %ld frames, %.1f fps", verb, written, fps);
    }
    return text;
}

std::string formatProgressLine(long written, long total, double seconds, const char* verb) {
    std::string line = formatProgress(written, total, seconds, verb);
    if (total <= 0) return line;
    // A container's frame count can be short of the frames decoded: never past 100%.
    const long done = std::min(written, total);
    char text[64];
    std::snprintf(text, sizeof text, ", %ld%%", done * 100 / total);
    line += text;
    if (done <= 0 || seconds <= 0.0) return line;
    const long left = static_cast<long>(
        std::ceil(seconds * static_cast<double>(total - done) / static_cast<double>(done)));
    if (left >= 3600) {
        std::snprintf(text, sizeof text, ", %ld:%02ld:%02ld left", left / 3600, left / 60 % 60,
                      left % 60);
    } else {
        std::snprintf(text, sizeof text, ", %ld:%02ld left", left / 60, left % 60);
    }
    return line + text;
}

ProgressReport::ProgressReport(std::FILE* out, bool terminal, long total, const char* verb)
    : out_(out), terminal_(terminal), total_(total), verb_(verb) {}

double ProgressReport::elapsed() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void ProgressReport::frameWritten() {
    ++written_;
    if (!terminal_) return;
    const Clock::time_point now = Clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(200)) return;
    lastDrawn_ = now;
    std::fprintf(out_, "\r%s\x1b[K",
                 formatProgressLine(written_, total_, elapsed(), verb_).c_str());
    std::fflush(out_);
}

void ProgressReport::finish() {
    std::fprintf(out_, "%s%s\n", terminal_ ? "\r\x1b[K" : "",
                 formatProgress(written_, total_, elapsed(), verb_).c_str());
    std::fflush(out_);
}

}  // namespace stview
