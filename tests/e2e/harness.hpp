#pragma once

// The end-to-end harness shared by every test here: runs a program without a
// shell, and keeps one scratch folder per test process with the small videos
// the tests play, made once and removed at exit.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace stview::e2e {

namespace fs = std::filesystem;

inline const cv::Size kVideoSize(96, 64);
constexpr int kNumberedFrames = 40, kSquareFrames = 30;

// The chequered square's top-left corner: still, then moving right, then still.
inline cv::Point squareAt(int frame) { return {20 + 2 * std::clamp(frame - 8, 0, 12), 24}; }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline void writeVideo(const fs::path& path, int frames, void (*draw)(cv::Mat&, int)) {
    cv::VideoWriter writer(path.string(), cv::CAP_FFMPEG,
                           cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, kVideoSize, true);
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame(kVideoSize, CV_8UC3, cv::Scalar::all(120));
        draw(frame, i);
        writer.write(frame);
    }
}

// A path in this process's scratch folder, which is made on first use with
//  count.avi   kNumberedFrames frames; frame i shows its number in binary as six
//              dark or bright blocks along the top edge, to survive lossy coding;
//  f.txt       point A: frame 15 only (temporal variance 1), radius 12, centre
//              column 64, row 64 - 24 = 40; point B: frames 11 to 13, radius 6,
//              centre column 20, row 34;
//  square.avi  kSquareFrames frames of a 16-pixel chequered square at squareAt(t).
inline std::string scratch(const std::string& name) {
    struct Folder {
        fs::path dir = fs::temp_directory_path() / ("stview-e2e-" + std::to_string(getpid()));
        Folder() {
            fs::create_directories(dir);
            writeFile((dir / "f.txt").string(), "0 64 24 15 16 1 1.0\n1 20 30 12 4 4 2.0\n");
            writeVideo(dir / "count.avi", kNumberedFrames, [](cv::Mat& frame, int i) {
                for (int bit = 0; bit < 6; ++bit)
                    frame(cv::Rect(bit * 16, 0, 16, 16))
                        .setTo(cv::Scalar::all(i >> bit & 1 ? 200 : 30));
            });
            writeVideo(dir / "square.avi", kSquareFrames, [](cv::Mat& frame, int t) {
                for (int i = 0; i < 16; ++i) {
                    const cv::Point corner = squareAt(t) + cv::Point(4 * (i % 4), 4 * (i / 4));
                    cv::rectangle(frame, corner, corner + cv::Point(3, 3),
                                  cv::Scalar::all((i % 4 + i / 4) % 2 ? 255 : 0), cv::FILLED);
                }
            });
        }
        ~Folder() {
            std::error_code error;
            fs::remove_all(dir, error);
        }
    };
    static const Folder folder;
    return (folder.dir / name).string();
}

// Blank-separated words, each starting with '@' made a scratch path.
inline std::vector<std::string> arguments(const std::string& words) {
    std::vector<std::string> args;
    std::istringstream in(words);
    for (std::string arg; in >> arg;) args.push_back(arg[0] == '@' ? scratch(arg.substr(1)) : arg);
    return args;
}

inline long lineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

struct RunResult {
    int status;  // exit status, or minus the signal that killed the program
    std::string out, err;
};

// Runs @p program with no display of any kind and no Qt platform chosen, plus
// @p extraEnv ("NAME=value") when given. @p interruptWhen is polled every few
// milliseconds; the first time it returns true the program gets SIGINT.
inline RunResult runBinary(const std::string& program, const std::vector<std::string>& args,
                           const std::string& extraEnv = "",
                           const std::function<bool()>& interruptWhen = {}) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    if (!extraEnv.empty()) envp.push_back(const_cast<char*>(extraEnv.c_str()));
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string name = std::string(*entry).substr(0, std::string(*entry).find('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM")
            envp.push_back(*entry);
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string outPath = scratch("stdout"), errPath = scratch("stderr");
    const pid_t child = fork();
    if (child == 0) {
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    bool interrupted = false;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (!interrupted && interruptWhen && interruptWhen())
            interrupted = kill(child, SIGINT) == 0;
        if (std::chrono::steady_clock::now() > deadline) kill(child, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status), readFile(outPath),
            readFile(errPath)};
}

// A scratch Motion JPEG clip of FFmpeg's moving test pattern ("WxH" frames at @p rate).
inline std::string testClip(const std::string& size, int frames, int rate) {
    const std::string name =
        size + "-" + std::to_string(frames) + "-" + std::to_string(rate) + ".avi";
    const RunResult made = runBinary(
        "/usr/bin/ffmpeg", arguments("-nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                                     ":rate=" + std::to_string(rate) + " -frames:v " +
                                     std::to_string(frames) + " -c:v mjpeg -q:v 2 @" + name));
    return made.status == 0 ? scratch(name) : "";
}

// Every frame FFmpeg decodes from @p path (none when it cannot be opened).
inline std::vector<cv::Mat> readAllFrames(const std::string& path) {
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    for (cv::Mat frame; capture.isOpened() && capture.read(frame);) frames.push_back(frame.clone());
    return frames;
}

}  // namespace stview::e2e
