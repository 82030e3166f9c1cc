#include "video/progress.hpp"

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
    std::fprintf(out_, "\r%s\x1b[K", formatProgress(written_, total_, elapsed(), verb_).c_str());
    std::fflush(out_);
}

void ProgressReport::finish() {
    std::fprintf(out_, "%s%s\n", terminal_ ? "\r\x1b[K" : "",
                 formatProgress(written_, total_, elapsed(), verb_).c_str());
    std::fflush(out_);
}

}  // namespace stview
