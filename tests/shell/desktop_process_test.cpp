// The real program on a real (virtual) X display: what a desktop session
// does to it at log-out.
#include <gtest/gtest.h>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "foundation/version_records.h"
#include "platform/text.h"
#include "program_home.h"

namespace {
using namespace programtest;

// Every file the shut-down writes is there, complete and readable.
void expectSavedFiles(const ProgramHome& home) {
    const auto lines = home.traceLines();
    const std::vector<std::string> tail{"Saving Configuration", "Done.", "Saving Styles", "Done.",
                                        "Saving Version Records", "Done.", "End Execution"};
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
    DataRecord config, log;
    EXPECT_TRUE(loadDataRecordFile(config, "main", utf8ToWide(home.configFolder() + "/Config.dat"),
                                   kDataFilePassPhrase));
    // An empty log is saved as an empty file, which is complete as it is.
    const std::string notifications = home.configFolder() + "/Notifications.dat";
    ASSERT_TRUE(std::filesystem::is_regular_file(notifications));
    if (std::filesystem::file_size(notifications) > 0) {
        EXPECT_TRUE(loadDataRecordFile(log, "notifications", utf8ToWide(notifications), kDataFilePassPhrase));
    }
    for (int i = 0; i < 4; ++i) {
        DataRecord style;
        EXPECT_TRUE(loadDataRecordFile(style, "data",
                                       utf8ToWide(home.configFolder() + "/Styles/Style_" + std::to_string(i) + ".dat"),
                                       kStylePassPhrase));
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(home.dataFolder() + "/FileMetaData/abc.md"));
}

// Starts the program on its own X server and waits for its main loop.
pid_t startOnDisplay(ProgramHome& home, XServer& x, const std::string& errorFile) {
    useDisplay(home, x);
    if (home.run({"install"}).exitCode != 0) return -1;
    const pid_t pid = home.start({}, errorFile);
    if (pid > 0 && !home.waitForTrace("Start Event Loop & UI")) return -1;
    return pid;
}
}  // namespace

TEST(DesktopProcess, LostDisplayEndsNormallyWithEverythingSaved) {
    for (bool sigtermFirst : {false, true}) {
        SCOPED_TRACE(sigtermFirst ? "SIGTERM, then the display goes" : "the display goes");
        ProgramHome home;
        XServer x;
        ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
        const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
        const pid_t pid = startOnDisplay(home, x, errorFile);
        const ProcessGuard guard{pid};
        ASSERT_GT(pid, 0) << readTestFile(errorFile);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it draw frames
        if (sigtermFirst) {
            ASSERT_EQ(kill(pid, SIGTERM), 0);
        }
        x.stop();
        const ProcessRun run = ProgramHome::wait(pid, errorFile);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        expectSavedFiles(home);
    }
}
