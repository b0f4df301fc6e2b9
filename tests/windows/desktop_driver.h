#pragma once
// Drives the real program as a person uses it: on an X server of its own
// (Xvfb) with a window manager (openbox), with xdotool, photographed with
// ImageMagick's import. Included by desktop_end_to_end_test.cpp only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
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

// Waits up to `seconds` for `done`, calling `write(round)` every 40 rounds
// (about 2 s): a write the watch missed while it was being set up is made again.
bool writeUntil(const std::function<void(int)>& write, const std::function<bool()>& done, int seconds = 120) {
    int round = 0;
    return waitFor([&] {
        if (++round % 40 == 1) write(round);
        return done();
    }, seconds);
}

bool onPath(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

#ifdef VARNHOLT_TEST_HOOKS
constexpr bool kTestHooks = true;
#else
constexpr bool kTestHooks = false;
#endif

// Why this build or machine cannot run a desktop case, empty when it can:
// the test build's hooks, then Xvfb, openbox, xdotool, xprop, xwininfo,
// import and `tools`.
std::string cannotRunDesktop(std::vector<const char*> tools = {},
                             const std::string& withoutHooks = "needs the test build's short timings") {
    if (!kTestHooks) return withoutHooks;
    tools.insert(tools.begin(), {"Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "import"});
    for (const char* tool : tools)
        if (!onPath(tool)) return std::string(tool) + " is missing; scripts/install-deps.sh installs it";
    return "";
}

std::string buildFolder() { return fs::path(getenv("VARNHOLT_BINARY")).parent_path(); }

// A shell command's standard output.
std::string commandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

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

// Ends a child process when the test leaves early.
struct ChildGuard {
    pid_t pid = -1;
    ~ChildGuard() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitExit(pid, 20);
    }
};

// An X server on a free display, found by the server itself (-displayfd),
// with openbox managing its windows as a desktop's window manager does:
// frames with title bars, focus on click, new windows raised.
struct XServer {
    pid_t pid = -1, windowManager = -1;
    std::string display;
    const std::string folder = makeTestFolder("xvfb");
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        // -noreset: a server regenerates when its last client leaves (an
        // xdotool or xprop call before the program or openbox is connected)
        // and drops the connections being made meanwhile.
        pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                     "-noreset"},
                    {{"PATH", getenv("PATH")}}, folder + "/xvfb.log", fds[1]);
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        close(fds[0]);
        if (number.empty()) return;
        display = ":" + number;
        windowManager = spawn({"openbox", "--sm-disable"}, {{"PATH", getenv("PATH")}, {"HOME", folder}, {"DISPLAY", display}},
                              folder + "/openbox.log");
        // The manager names itself on the root window once it manages windows.
        if (!waitFor([&] { return managed(); })) display.clear();
    }
    bool managed() const {
        return commandOutput("DISPLAY=" + display + " xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null")
                   .find("window id") != std::string::npos;
    }
    ~XServer() {
        for (const pid_t child : {windowManager, pid}) {
            if (child <= 0) continue;
            kill(child, SIGTERM);
            waitExit(child, 20);
        }
    }
};

struct Desktop {
    std::string display;
    // Runs a tool on the display; its standard output.
    std::string run(const std::string& command) const {
        return commandOutput("export DISPLAY=" + display + "; { " + command + "; } 2>/dev/null");
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
    // Keys held down together, as a shortcut is pressed, then let go.
    void pressTogether(const std::vector<std::string>& keys) const {
        std::string down = "xdotool", up = "xdotool";
        for (size_t i = 0; i < keys.size(); ++i) {
            down += " keydown " + keys[i];
            up += " keyup " + keys[keys.size() - 1 - i];
        }
        run(down);
        pauseMs(400);
        run(up);
    }
    void click(int x, int y) const {
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
        pauseMs(300);
        run("xdotool click 1");
        pauseMs(300);
    }
    // Out of the way of what a screenshot or a colour search looks at.
    void moveMouseAway() const { run("xdotool mousemove 1 1"); }
};

void rightClick(const Desktop& desktop, int x, int y) {
    desktop.run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
    pauseMs(300);
    desktop.run("xdotool click 3");
    pauseMs(500);
}

struct Rgb {
    int width = 0, height = 0;
    std::string pixels;
    // The red, green and blue of the pixel at (x, y).
    const unsigned char* at(int x, int y) const {
        return reinterpret_cast<const unsigned char*>(pixels.data()) + (static_cast<size_t>(y) * width + x) * 3;
    }
    int colourAt(int x, int y) const {
        const unsigned char* p = at(x, y);
        return p[0] << 16 | p[1] << 8 | p[2];
    }
    // Whether (x, y) shows the colour, each channel within 6.
    bool shows(int x, int y, int r, int g, int b) const {
        const unsigned char* p = at(x, y);
        return std::abs(p[0] - r) <= 6 && std::abs(p[1] - g) <= 6 && std::abs(p[2] - b) <= 6;
    }
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

// The bounding box of the pixels of one colour (each channel within 6);
// minX is -1 when there are none.
struct Box {
    int minX = -1, minY = -1, maxX = -1, maxY = -1;
};
Box boxOfColour(const Rgb& image, int r, int g, int b) {
    Box box{image.width, image.height, -1, -1};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            if (!image.shows(x, y, r, g, b)) continue;
            box.minX = std::min(box.minX, x), box.maxX = std::max(box.maxX, x);
            box.minY = std::min(box.minY, y), box.maxY = std::max(box.maxY, y);
        }
    if (box.maxX < 0) box.minX = -1;
    return box;
}

// The centre of the pixels of one colour (each channel within 6), or -1, -1.
std::pair<int, int> centreOfColour(const Rgb& image, int r, int g, int b) {
    const Box box = boxOfColour(image, r, g, b);
    if (box.minX < 0) return {-1, -1};
    return {(box.minX + box.maxX) / 2, (box.minY + box.maxY) / 2};
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

// Waits until the screen shows the colour at (x, y), each channel within 6.
bool waitForColourAt(const Desktop& desktop, int x, int y, int r, int g, int b) {
    return waitFor([&] {
        const Rgb image = screenPixels(desktop);
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
        return image.shows(x, y, r, g, b);
    });
}

// The top-left corner of the first square of `side` pixels all of one colour
// (each channel within 6), or -1, -1.
std::pair<int, int> solidSquareOfColour(const Rgb& image, int r, int g, int b, int side) {
    for (int y = 0; y + side <= image.height; ++y)
        for (int x = 0; x + side <= image.width; ++x) {
            bool all = true;
            for (int dy = 0; dy < side && all; ++dy)
                for (int dx = 0; dx < side && all; ++dx) all = image.shows(x + dx, y + dy, r, g, b);
            if (all) return {x, y};
        }
    return {-1, -1};
}

// The centres of the buttons that a row of buttons draws across y, between
// fromX and toX: runs of pixels unlike the background at fromX (gaps of up
// to `bridged` pixels, as inside a label, are bridged).
std::vector<int> buttonCentresAt(const Rgb& image, int y, int fromX, int toX, int bridged = 5) {
    std::vector<int> centres;
    if (y < 0 || y >= image.height) return centres;
    const unsigned char* background = image.at(fromX, y);
    int start = -1, last = -1;
    for (int x = fromX; x < std::min(toX, image.width); ++x) {
        const unsigned char* p = image.at(x, y);
        const bool differs = std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) +
                                 std::abs(p[2] - background[2]) > 24;
        if (!differs) continue;
        if (start >= 0 && x - last > bridged) {
            centres.push_back((start + last) / 2);
            start = -1;
        }
        if (start < 0) start = x;
        last = x;
    }
    if (start >= 0) centres.push_back((start + last) / 2);
    return centres;
}

// The archived copies of `name` in `folder` ("note.txt", "note ~ 0000.txt", ...).
size_t copiesNamed(const std::string& folder, const std::string& stem) {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        count += entry.path().filename().string().rfind(stem, 0) == 0 ? 1 : 0;
    return count;
}

bool hasFileNamed(const std::string& folder, const std::string& prefix) { return copiesNamed(folder, prefix) > 0; }

// Files below `folder` whose name ends with `suffix`.
size_t archivedCount(const std::string& folder, const std::string& suffix) {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        count += name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return count;
}

// User.dat of the data folder: the configuration the program saved.
bool loadUserFile(const std::string& configFolder, DataRecord& saved) {
    return loadDataRecordFile(saved, "user", utf8ToWide(configFolder + "/User.dat"), kDataFilePassPhrase);
}

// The lines of a list (`name`: "fi" watch folders, "ei" their extensions) of User.dat.
std::vector<std::wstring> recordLines(DataRecord& saved, const char* name) {
    std::vector<std::wstring> lines;
    const RecordSectionHandle section = getRecordSection(saved, "user");
    for (uint32_t i = 0; i < getRecordValueCount(section, name); ++i) {
        std::wstring line;
        if (getRecordWString(section, name, line, i)) lines.push_back(line);
    }
    return lines;
}

// The saved watch-folder lines ("fi") of User.dat.
std::vector<std::wstring> savedFolderLines(const std::string& configFolder) {
    DataRecord saved;
    if (!loadUserFile(configFolder, saved)) return {};
    return recordLines(saved, "fi");
}

// Clicks the tray menu item `label` the way a panel does: the menu's
// "clicked" event over the session bus. False when no menu has the item.
bool clickTrayMenuItem(const std::string& bus, const std::string& label) {
    const std::string gdbus = "gdbus call --address " + bus + " ";
    const std::string names = commandOutput(gdbus + "--dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                                                    "--method org.freedesktop.DBus.ListNames 2>/dev/null");
    const std::string menu = " --object-path /org/ayatana/NotificationItem/varnholt/Menu --method com.canonical.dbusmenu.";
    for (size_t at = names.find("':"); at != std::string::npos; at = names.find("':", at + 1)) {
        const std::string name = names.substr(at + 1, names.find('\'', at + 1) - at - 1);
        const std::string layout = commandOutput(gdbus + "--dest " + name + menu + "GetLayout -- 0 -1 '[]' 2>/dev/null");
        const size_t item = layout.find("'label': <'" + label + "'>");
        if (item == std::string::npos) continue;
        const size_t open = layout.rfind("<(", item);
        if (open == std::string::npos) continue;
        const std::string id = std::to_string(std::atoi(layout.c_str() + open + 2));
        return std::system((gdbus + "--dest " + name + menu + "Event -- " + id + " clicked '<int32 0>' 0 >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    return false;
}

// What the desktop cases shorten of the program's timings.
const std::string kShortTimings = "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100";

// One person's desktop: a home with its XDG folders in a new test folder,
// the program's environment, an X server and the program on it. Steps that
// assert are called with ASSERT_NO_FATAL_FAILURE.
struct DesktopRun {
    const std::string binary = getenv("VARNHOLT_BINARY");
    std::string root, home, configFolder, errorFile;
    std::map<std::string, std::string> env;
    std::unique_ptr<XServer> server;
    Desktop desktop;
    pid_t program = -1;
    int x = 0, y = 0, width = 0, height = 0;  // the program's window on the screen
    std::pair<int, int> add{-1, -1};          // the centre of " Add "

    // `timings` goes into VARNHOLT_TEST_TIMINGS; none when empty.
    explicit DesktopRun(const std::string& name, const std::string& timings = kShortTimings)
        : root(makeTestFolder(name)),
          home(root + "/home"),
          configFolder(home + "/.local/share/Morvane/QZR/ConfigData"),
          errorFile(root + "/run.txt") {
        fs::create_directories(home + "/.config");
        fs::create_directories(home + "/.local/share");
        fs::create_directories(root + "/run");
        fs::permissions(root + "/run", fs::perms::owner_all);
        env = {{"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
               {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"}};
        if (!timings.empty()) env["VARNHOLT_TEST_TIMINGS"] = timings;
        for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
            if (const char* value = getenv(name)) env[name] = value;
    }
    ~DesktopRun() {
        if (program <= 0) return;
        kill(program, SIGTERM);
        waitExit(program, 20);
    }

    std::string errors() const { return readTestFile(errorFile); }
    // Where the program proposes to archive a folder of that name.
    std::string proposedArchive(const std::string& folderName) const { return home + "/QZR_ARCHIVE_ROOT/" + folderName; }

    // The first start sets up the data folder and ends.
    void install() const {
        const std::string log = root + "/install.txt";
        ASSERT_EQ(waitExit(spawn({binary}, env, log), 60), 0) << readTestFile(log);
    }

    // Starts the program (and at the first start the X server) and waits for its window.
    void start() {
        if (!server) server = std::make_unique<XServer>();
        ASSERT_FALSE(server->display.empty()) << "Xvfb or openbox did not start: "
                                              << readTestFile(server->folder + "/xvfb.log")
                                              << readTestFile(server->folder + "/openbox.log");
        desktop.display = server->display;
        env["DISPLAY"] = server->display;
        program = spawn({binary}, env, errorFile);
        int status = 0;
        bool ended = false;
        const bool shown = waitFor([&] {
            ended = waitpid(program, &status, WNOHANG) == program;
            return ended || findWindow();
        });
        if (ended) program = -1;  // reaped: its id may be another process's now
        ASSERT_TRUE(shown && !ended) << (ended ? "the program ended, status " + std::to_string(status)
                                               : std::string("no window within a minute"))
                                     << "; " << errors() << "the start's trace:\n"
                                     << readTestFile(configFolder + "/logString.txt");
        desktop.moveMouseAway();
    }

    // The program's window once it is shown, and its place inside the frame
    // the window manager put around it (xwininfo: xdotool counts the frame's
    // offset twice). xdotool's search ends at an X error when a window goes
    // away while it looks: it is asked again.
    bool findWindow() {
        const std::string window = desktop.run("xdotool search --onlyvisible --name '^Varnholt$'");
        if (window.empty()) return false;
        const std::string geometry = desktop.run("xwininfo -id " + window.substr(0, window.find('\n')));
        const auto field = [&](const std::string& name) {
            const size_t at = geometry.find(name + ":");
            return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + name.size() + 1);
        };
        x = field("Absolute upper-left X"), y = field("Absolute upper-left Y");
        width = field("Width"), height = field("Height");
        return x >= 0 && y >= 0 && width > 0 && height > 0;
    }

    // SIGTERM, as the session's end sends it: the exit code, -1000 when it
    // had to be killed after a minute.
    int stop() {
        const pid_t pid = std::exchange(program, -1);
        if (pid <= 0) return -1000;  // never started: kill(-1) would reach every process of ours
        EXPECT_EQ(kill(pid, SIGTERM), 0);
        return waitExit(pid, 60);
    }

    // " Add " is the one red button of the Folders tab.
    void waitForAddButton() {
        ASSERT_TRUE(waitFor([&] {
            add = centreOfColour(screenPixels(desktop), 153, 61, 61);
            return add.first >= 0;
        })) << "the main window's red Add button; " << errors();
    }

    void openChooser() const {
        desktop.click(add.first, add.second);
        pauseMs(1000);
    }

    // The chooser is centred at half the window's size; "Directory Path:",
    // holding ".", is the row above OK and Cancel at its bottom.
    void typeIntoChooser(const std::string& path) const {
        desktop.click(x + width / 2, y + height * 3 / 4 - 45);
        desktop.pressKey("End");
        desktop.pressKey("BackSpace");
        desktop.run("xdotool type --delay 15 '" + path + "'");
        pauseMs(300);
    }

    // " Add ", the folder's path typed into the chooser, Return.
    void addFolderWithTheMouse(const std::string& folder) {
        ASSERT_NO_FATAL_FAILURE(waitForAddButton());
        openChooser();
        typeIntoChooser(folder);
        desktop.pressKey("Return");
    }
};
}  // namespace
