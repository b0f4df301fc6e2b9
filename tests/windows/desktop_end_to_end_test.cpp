// The real program as a person uses it: on an X server of its own (Xvfb),
// driven with xdotool, photographed with ImageMagick's import.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

template <typename Condition>
bool waitFor(Condition condition, int seconds = 60) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (condition()) return true;
        pauseMs(50);
    }
    return condition();
}

bool onPath(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string buildFolder() { return fs::path(getenv("VARNHOLT_BINARY")).parent_path(); }

// Starts a program with `env` as its whole environment; stderr into `errorFile`.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& errorFile, int keepFd = -1) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int fd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    dup2(fd, 1);
    for (int other = 3; other < 1024; ++other)
        if (other != keepFd) close(other);
    std::vector<std::string> envText;
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : envText) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

int waitExit(pid_t pid, int seconds) {
    int status = 0;
    if (!waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1000;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

// An X server on a free display, found by the server itself (-displayfd).
struct XServer {
    pid_t pid = -1;
    std::string display;
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string log = makeTestFolder("xvfb") + "/xvfb.log";
        pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                    {{"PATH", getenv("PATH")}}, log, fds[1]);
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        close(fds[0]);
        if (!number.empty()) display = ":" + number;
    }
    ~XServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitExit(pid, 20);
        }
    }
};

struct Desktop {
    std::string display;
    // Runs a tool on the display; its standard output.
    std::string run(const std::string& command) const {
        std::string text;
        FILE* pipe = popen(("DISPLAY=" + display + " " + command + " 2>/dev/null").c_str(), "r");
        if (!pipe) return text;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
        return text;
    }
    void screenshot(const std::string& name) const { run("import -window root " + buildFolder() + "/" + name); }
    // Held over a few frames: the library sees a key only while it is down
    // at the start of a frame.
    void pressKey(const std::string& key) const {
        run("xdotool keydown " + key);
        pauseMs(200);
        run("xdotool keyup " + key);
        pauseMs(200);
    }
    void click(int x, int y) const {
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
        pauseMs(300);
        run("xdotool click 1");
        pauseMs(300);
    }
};

struct Rgb {
    int width = 0, height = 0;
    std::string pixels;
};

Rgb screenPixels(const Desktop& desktop) {
    Rgb image;
    const std::string ppm = desktop.run("import -window root -depth 8 ppm:-");
    std::istringstream in(ppm);
    std::string magic;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255) return Rgb();
    image.pixels = ppm.substr(static_cast<size_t>(in.tellg()));
    if (image.pixels.size() < static_cast<size_t>(image.width) * image.height * 3) return Rgb();
    return image;
}

// The centre of the pixels of one colour (each channel within 6), or -1, -1.
std::pair<int, int> centreOfColour(const Rgb& image, int r, int g, int b) {
    int minX = image.width, minY = image.height, maxX = -1, maxY = -1;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(image.pixels.data()) + (y * image.width + x) * 3;
            if (std::abs(p[0] - r) > 6 || std::abs(p[1] - g) > 6 || std::abs(p[2] - b) > 6) continue;
            minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    if (maxX < 0) return {-1, -1};
    return {(minX + maxX) / 2, (minY + maxY) / 2};
}

bool hasFileNamed(const std::string& folder, const std::string& prefix) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}
}  // namespace

TEST(DesktopEndToEnd, AddAFolderWithTheMouseAndItIsArchivedAndKept) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import", "pdfinfo"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("desktop");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    const std::string configFolder = home + "/.local/share/Morvane/QZR/ConfigData";

    // The first start sets up the data folder with the guide the build made.
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");
    const std::string guide = configFolder + "/guide.pdf";
    EXPECT_EQ(readTestFile(guide), readTestFile(buildFolder() + "/guide.pdf"));
    EXPECT_EQ(std::system(("pdfinfo " + guide + " >/dev/null 2>&1").c_str()), 0);

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");

    // " Add " is the one red button of the Folders tab.
    std::pair<int, int> add{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        add = centreOfColour(screenPixels(desktop), 153, 61, 61);
        return add.first >= 0;
    })) << readTestFile(errors);
    desktop.screenshot("desktop-main-window.png");
    desktop.click(add.first, add.second);

    // The chooser: centred at half the window's size; "Directory Path:",
    // holding ".", is the row above OK and Cancel at its bottom.
    pauseMs(1000);
    desktop.screenshot("desktop-folder-chooser.png");
    const std::string folder = makeTestFolder("picked") + "/Letters";
    fs::create_directories(folder);
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;
    desktop.click(x + width / 2, y + height * 3 / 4 - 45);
    desktop.pressKey("End");
    desktop.pressKey("BackSpace");
    desktop.run("xdotool type --delay 15 '" + folder + "'");
    pauseMs(300);
    desktop.screenshot("desktop-path-typed.png");
    desktop.pressKey("Return");

    // Written into the folder, the file reaches the proposed archive.
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Letters";
    int round = 0;
    EXPECT_TRUE(waitFor([&] {
        if (++round % 40 == 1) writeTestFile(folder + "/note.txt", "written at round " + std::to_string(round));
        return hasFileNamed(archive, "note");
    }, 120)) << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-folder-added.png");

    // Ctrl+Shift+S+T shows the workers' table over the window.
    desktop.run("xdotool keydown ctrl keydown shift keydown s keydown t");
    pauseMs(400);
    desktop.run("xdotool keyup t keyup s keyup shift keyup ctrl");
    pauseMs(500);
    desktop.screenshot("desktop-thread-status.png");

    // SIGTERM saves the configuration: User.dat holds the folder.
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
    DataRecord saved;
    ASSERT_TRUE(loadDataRecordFile(saved, "user", utf8ToWide(configFolder + "/User.dat"), kDataFilePassPhrase));
    EXPECT_NE(serializeRecordSection(getRecordSection(saved, "user")).find(folder), std::string::npos);
}

namespace {
// The archived copies of `name` in `folder` ("note.txt", "note ~ 0000.txt", ...).
size_t copiesNamed(const std::string& folder, const std::string& stem) {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        count += entry.path().filename().string().rfind(stem, 0) == 0 ? 1 : 0;
    return count;
}

// centreOfColour within the rectangle [x0, x1) x [y0, y1) of the image.
std::pair<int, int> centreOfColourIn(const Rgb& image, int r, int g, int b, int x0, int y0, int x1, int y1) {
    Rgb part;
    part.width = std::min(x1, image.width) - x0;
    part.height = std::min(y1, image.height) - y0;
    if (part.width <= 0 || part.height <= 0 || x0 < 0 || y0 < 0) return {-1, -1};
    for (int row = y0; row < y0 + part.height; ++row)
        part.pixels += image.pixels.substr((static_cast<size_t>(row) * image.width + x0) * 3, part.width * 3);
    const auto [cx, cy] = centreOfColour(part, r, g, b);
    return cx < 0 ? std::pair<int, int>{-1, -1} : std::pair<int, int>{cx + x0, cy + y0};
}

void rightClick(const Desktop& desktop, int x, int y) {
    desktop.run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
    pauseMs(300);
    desktop.run("xdotool click 3");
    pauseMs(500);
}
}  // namespace

TEST(DesktopEndToEnd, RestoreTheFirstVersionOfAFileFromTheFolderPopup) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("restore-desktop");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;

    // The folder is added with " Add " and the chooser, as a person does.
    std::pair<int, int> add{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        add = centreOfColour(screenPixels(desktop), 153, 61, 61);
        return add.first >= 0;
    })) << readTestFile(errors);
    desktop.click(add.first, add.second);
    pauseMs(1000);
    const std::string folder = makeTestFolder("restored") + "/Letters";
    fs::create_directories(folder);
    desktop.click(x + width / 2, y + height * 3 / 4 - 45);
    desktop.pressKey("End");
    desktop.pressKey("BackSpace");
    desktop.run("xdotool type --delay 15 '" + folder + "'");
    pauseMs(300);
    desktop.pressKey("Return");

    // Three versions of one file, each archived before the next is written.
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Letters";
    for (size_t version = 1; version <= 3; ++version) {
        int round = 0;
        ASSERT_TRUE(waitFor([&] {
            if (++round % 40 == 1) writeTestFile(folder + "/note.txt", "version " + std::to_string(version));
            return copiesNamed(archive, "note") == version;
        }, 120)) << version << readTestFile(errors);
    }
    pauseMs(1000);
    ASSERT_EQ(copiesNamed(archive, "note"), 3u);

    // The folder's right-click popup: " Restore File Version " opens the view.
    rightClick(desktop, x + 60, y + 95);
    desktop.screenshot("desktop-restore-popup.png");
    // Its one red button, below the row.
    const auto restoreVersion = centreOfColourIn(screenPixels(desktop), 153, 61, 61, x, y + 100, x + 400, y + 540);
    ASSERT_GE(restoreVersion.first, 0);
    desktop.click(restoreVersion.first, restoreVersion.second);
    pauseMs(1000);
    // The view at its first place and size: the folder node, its file, the
    // file's versions one row (20 pixels) below the other, oldest last (the
    // plain copy, "note.txt", sorts after the time-stamped ones).
    desktop.click(x + 120, y + 127);
    desktop.click(x + 140, y + 147);
    desktop.click(x + 160, y + 207);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-restore-view.png");
    // " Restore ", then OK in the question centred on the window.
    desktop.click(x + 378, y + 495);
    pauseMs(1000);
    desktop.screenshot("desktop-restore-question.png");
    desktop.click(x + 495, y + 505);
    EXPECT_TRUE(waitFor([&] { return readTestFile(folder + "/note.txt") == "version 1"; })) << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(3000);  // the restore's progress is held on screen for a moment
    desktop.screenshot("desktop-restored.png");
    EXPECT_EQ(readTestFile(folder + "/note.txt"), "version 1");
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
}
