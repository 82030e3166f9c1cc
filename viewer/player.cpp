#include "viewer/player.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>

#include "video/frame_cache.hpp"
#include "viewer/playback_keys.hpp"

namespace stview {
namespace {

const char* const kBarName = "frame";

// False once the user has closed the window. OpenCV's Qt back end reports a
// closed window as not visible while other windows remain, and throws once the
// last one is gone.
bool windowOpen() {
    try {
        return cv::getWindowProperty(kWindowName, cv::WND_PROP_VISIBLE) >= 1;
    } catch (const cv::Exception&) {
        return false;
    }
}

using Clock = std::chrono::steady_clock;

// When each frame is due: counted from a start time rather than by a fixed
// sleep per frame, so that decoding and drawing time does not add up. Without
// a rate every frame is due 10 ms after the previous one was shown.
class FramePacer {
  public:
    explicit FramePacer(double framesPerSecond)
        : period_(framesPerSecond > 0 ? std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(1 / framesPerSecond))
                                      : Clock::duration::zero()) {}

    // Counts from now again, as after a pause.
    void restart() {
        start_ = Clock::now();
        shown_ = 0;
    }
    // When the frame after the one just shown is due.
    Clock::time_point nextDue() {
        if (period_ == Clock::duration::zero()) return Clock::now() + std::chrono::milliseconds(10);
        return start_ + period_ * ++shown_;
    }

  private:
    Clock::duration period_;
    Clock::time_point start_ = Clock::now();
    long long shown_ = 0;
};

// Keys from the keyboard, after those STVIEW_KEYS names (one per wait).
class KeySource {
  public:
    KeySource() {
        const char* names = std::getenv("STVIEW_KEYS");
        scripted_ = names != nullptr;
        std::istringstream list(names != nullptr ? names : "");
        for (std::string name; std::getline(list, name, ',');) {
            static const std::pair<const char*, int> kNamed[] = {
                {"space", ' '},       {"esc", kEscapeKey},  {"right", 0x01000014},
                {"left", 0x01000012}, {"pgdn", 0x01000017}, {"pgup", 0x01000016},
                {"home", 0x01000010}, {"end", 0x01000011},
            };
            int key = name.size() == 1 ? name[0] : kNoKey;
            for (const auto& [known, code] : kNamed) {
                if (name == known) key = code;
            }
            if (key != kNoKey) script_.push_back(key);
        }
    }
    bool scripted() const { return scripted_; }
    int wait(int milliseconds) {
        const int key = cv::waitKeyEx(script_.empty() ? milliseconds : 1);
        if (key != kNoKey || script_.empty()) return key;
        const int next = script_.front();
        script_.pop_front();
        return next;
    }

  private:
    bool scripted_ = false;
    std::deque<int> script_;
};

// The position bar: user moves are kept until the loop takes them; the
// player's own updates are not user moves.
struct PositionBar {
    int requested = -1;
    bool updating = false;
};

void onBarMoved(int position, void* data) {
    auto* bar = static_cast<PositionBar*>(data);
    if (!bar->updating) bar->requested = position;
}

class Player {
  public:
    Player(cv::VideoCapture& capture, const FeatureIndex& features, const ViewerSettings& settings,
           OutputVideo& output, const InterruptGuard& interrupt)
        : features_(features),
          settings_(settings),
          output_(output),
          interrupt_(interrupt),
          rate_(capture.get(cv::CAP_PROP_FPS)),
          pacer_(settings.realtime ? (rate_ > 0 && rate_ <= 1000 ? rate_ : 25) : 0),
          cache_(capture, settings.videoFile, settings.firstFrame,
                 FrameCache::capacityFor(frameBytes(capture))) {
        if (settings.realtime && !(rate_ > 0 && rate_ <= 1000)) {
            std::fprintf(stderr, "--realtime: %s announces no frame rate; showing 25 per second\n",
                         settings.videoFile.c_str());
        }
        const double count = capture.get(cv::CAP_PROP_FRAME_COUNT);
        total_ = count > 0 && count < 1e12 ? static_cast<long long>(count) : 0;
        end_ = settings.lastFrame;
        if (total_ > 0) end_ = std::min(end_, total_);
    }

    int run();

  private:
    static std::size_t frameBytes(const cv::VideoCapture& capture) {
        return static_cast<std::size_t>(std::max(1.0, capture.get(cv::CAP_PROP_FRAME_WIDTH))) *
               static_cast<std::size_t>(std::max(1.0, capture.get(cv::CAP_PROP_FRAME_HEIGHT))) * 3;
    }
    bool show(long long number);  // false when the video has no such frame
    void display();
    void openWindow();
    void save();
    PlaybackAction wait();

    const FeatureIndex& features_;
    const ViewerSettings& settings_;
    OutputVideo& output_;
    const InterruptGuard& interrupt_;
    double rate_;
    FramePacer pacer_;
    FrameCache cache_;
    KeySource keys_;
    PositionBar bar_;
    long long total_ = 0, end_ = 0, current_ = 0, written_ = 0, barMax_ = 0;
    int points_ = 0;
    bool paused_ = false, hidden_ = false, failed_ = false;
    std::string note_;
    cv::Mat clean_, drawn_;
};

bool Player::show(long long number) {
    if (!cache_.get(number, clean_)) {
        end_ = std::min(end_, number);
        return false;
    }
    current_ = number;
    // Drawn anew on a copy each time: the cached frame stays clean.
    drawn_ = clean_.clone();
    points_ = features_.draw(drawn_, static_cast<int>(number));
    if (output_.enabled() && number > written_) {
        if (!output_.write(drawn_)) failed_ = true;
        written_ = number;
    }
    note_.clear();
    display();
    return true;
}

void Player::display() {
    cv::imshow(kWindowName, hidden_ ? clean_ : drawn_);
    // The bar spans the range by absolute frame numbers; without a frame count
    // it grows with the frames seen.
    const long long last = total_ > 0 ? end_ - 1 : std::max(barMax_, current_);
    bar_.updating = true;
    if (last != barMax_ && last > settings_.firstFrame) {
        barMax_ = last;
        cv::setTrackbarMax(kBarName, kWindowName, static_cast<int>(barMax_));
    }
    cv::setTrackbarPos(kBarName, kWindowName, static_cast<int>(current_));
    bar_.updating = false;
    const std::string text = statusText(current_, total_, rate_ > 0 && rate_ <= 1000 ? rate_ : 25,
                                        points_, paused_, hidden_, note_);
    cv::displayStatusBar(kWindowName, text, 0);
    if (keys_.scripted()) std::fprintf(stderr, "%s\n", text.c_str());
}

// The image area the window shows once resized to @p window (width x height).
cv::Rect imageAreaAt(cv::Size window) {
    cv::resizeWindow(kWindowName, window);
    for (int i = 0; i < 5; ++i) cv::waitKey(1);
    return cv::getWindowImageRect(kWindowName);
}

// Gives the window's image area the frame's own size, so that every screen
// pixel is a frame pixel. Qt's toolbar, position bar and status line take
// their rows out of the size asked for, and the image keeps its aspect ratio
// within what is left; so the rows they take are measured in a window too wide
// for the frame (the height decides the image's size), the columns in one too
// tall, and the window is then sized to the frame plus both. A window also has
// a smallest size: a frame narrower than that gets margins, never a zoom. The
// window stays resizable.
void Player::openWindow() {
    const cv::Size size = clean_.size();
    constexpr int kSpare = 400;
    const cv::Size wide(2 * size.width + kSpare, size.height + kSpare);
    const cv::Size tall(size.width + kSpare, 2 * size.height + kSpare);
    const int rows = wide.height - imageAreaAt(wide).height;
    const int columns = tall.width - imageAreaAt(tall).width;
    if (rows < 0 || columns < 0) return;
    imageAreaAt({size.width + columns, size.height + rows});
}

void Player::save() {
    char name[64];
    std::snprintf(name, sizeof name, "-%06lld.png", current_);
    const std::filesystem::path path = std::filesystem::absolute(
        std::filesystem::path(settings_.videoFile).stem().string() + name);
    bool saved = false;
    try {
        saved = cv::imwrite(path.string(), hidden_ ? clean_ : drawn_);
    } catch (const cv::Exception&) {
    }
    note_ = (saved ? "saved " : "could not save ") + path.string();
    display();
}

// Waits for the next key or bar move: until the next frame is due while
// playing, for as long as it takes while paused. Continue when the frame is
// due, or the bar was moved (bar_.requested).
PlaybackAction Player::wait() {
    const Clock::time_point due = paused_ ? Clock::time_point::max() : pacer_.nextDue();
    do {
        int wait = 50;
        if (!paused_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
            wait = static_cast<int>(std::clamp<long long>(left.count(), 1, 50));
        }
        const PlaybackAction action =
            playbackAction(keys_.wait(wait), settings_.pause, paused_, windowOpen());
        if (action != PlaybackAction::Continue || bar_.requested >= 0) return action;
    } while ((paused_ || Clock::now() < due) && !interrupt_.requested());
    return PlaybackAction::Continue;
}

int Player::run() {
    const long long first = settings_.firstFrame;
    written_ = first - 1;
    if (first >= end_ || !cache_.get(first, clean_)) {
        std::fprintf(stderr, "No frame to play in %s from frame %d on\n",
                     settings_.videoFile.c_str(), settings_.firstFrame);
        return kExitFailed;
    }
    if (output_.enabled() && !output_.open(clean_.size())) return kExitFailed;
    barMax_ = total_ > 0 ? std::max(end_ - 1, first + 1) : first + 1;
    bar_.updating = true;
    cv::createTrackbar(kBarName, kWindowName, nullptr, static_cast<int>(barMax_), onBarMoved,
                       &bar_);
    cv::setTrackbarMin(kBarName, kWindowName, static_cast<int>(first));
    bar_.updating = false;
    paused_ = settings_.pause;
    show(first);
    openWindow();
    pacer_.restart();
    while (!failed_ && !interrupt_.requested()) {
        const PlaybackAction action = wait();
        if (interrupt_.requested() || action == PlaybackAction::Quit) break;
        if (bar_.requested >= 0) {
            const long long target = bar_.requested;
            bar_.requested = -1;
            if (target != current_ && !show(target)) display();
            pacer_.restart();
            continue;
        }
        switch (action) {
            case PlaybackAction::Continue:
            case PlaybackAction::Resume:
                if (paused_ && action == PlaybackAction::Continue) break;
                if (paused_) {
                    paused_ = false;
                    pacer_.restart();
                }
                // Playing on past the range or the video ends playback.
                if (current_ + 1 >= end_ || !show(current_ + 1)) return output_.finish(interrupt_);
                break;
            case PlaybackAction::Pause:
                paused_ = true;
                display();
                break;
            case PlaybackAction::ToggleCircles:
                hidden_ = !hidden_;
                display();
                break;
            case PlaybackAction::Save:
                save();
                break;
            case PlaybackAction::Step:
                // With -p the key after the last frame ends playback, as it always has.
                if (current_ + 1 >= end_ || !show(current_ + 1)) {
                    if (settings_.pause) return output_.finish(interrupt_);
                    note_ = "last frame";
                    display();
                }
                break;
            default: {
                const long long target = targetFrame(action, current_, first, end_);
                if (target != current_ && !show(target)) {
                    note_ = "no frame " + std::to_string(target);
                    display();
                }
                break;
            }
        }
    }
    return failed_ ? kExitFailed : output_.finish(interrupt_);
}

}  // namespace

int playInWindow(cv::VideoCapture& capture, const FeatureIndex& features,
                 const ViewerSettings& settings, OutputVideo& output,
                 const InterruptGuard& interrupt) {
    const int status = Player(capture, features, settings, output, interrupt).run();
    // A window the user closed is gone already (and destroying it would throw).
    if (windowOpen()) cv::destroyWindow(kWindowName);
    return status;
}

}  // namespace stview
