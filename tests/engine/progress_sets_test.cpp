#include "archive_test_support.h"
#include "engine/copy_progress.h"
#include "platform/paths.h"

namespace {

// The mean of the values, summed afresh: what the running sum must match.
double meanOf(const std::unordered_map<std::wstring, double>& values) {
    double sum = 0.0;
    for (const auto& entry : values) sum += entry.second;
    return sum / static_cast<double>(values.size());
}

// A deterministic stream of numbers, so a failure can be replayed.
uint32_t nextNumber(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void report(const std::wstring& path, uint64_t thousandths) {
    onCopyProgress(CopyProgress{1000, thousandths, path, path});
}

}  // namespace

TEST_F(ArchiveTest, GlobalProgressRatioStaysRightOverManyUpdatesAndRemovals) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < 400; ++i) paths.push_back(pathKey(folders.watch + L"/g" + std::to_wstring(i)));
    ASSERT_TRUE(startProgressSet(paths));
    uint32_t state = 7;
    double before = 0.0;
    for (int step = 0; step < 20000; ++step) {
        if (step % 997 == 0) {
            // Files leaving the set behind the updates' back: the sum is recounted.
            std::lock_guard<std::mutex> lock(progressMutex);
            globalProgressSet.values.erase(paths[nextNumber(state) % paths.size()]);
        }
        // Shares up to 0.9 with a tenth of the files at zero: the set never completes.
        const std::wstring& path = paths[nextNumber(state) % paths.size()];
        report(path, path.back() == L'0' ? 0 : nextNumber(state) % 901);
        const ProgressSet set = progressSnapshot();
        if (!set.values.count(path)) continue;
        ASSERT_NEAR(set.ratio, meanOf(set.values), 1e-12) << "step " << step;
        ASSERT_DOUBLE_EQ(set.previousRatio, before) << "step " << step;
        before = set.ratio;
    }
    EXPECT_LT(progressSnapshot().ratio, 0.95);
    EXPECT_LT(progressSnapshot().values.size(), paths.size());

    // Every file done: the mean passes 0.95 and snaps to 1.0.
    for (const std::wstring& path : paths) report(path, 1000);
    EXPECT_DOUBLE_EQ(progressSnapshot().ratio, 1.0);
    EXPECT_DOUBLE_EQ(progressSnapshot().previousRatio, 1.0);
    EXPECT_EQ(progressSnapshot().totalBytes, 0u);

    // A fresh set starts from zero, not from the old sum.
    ASSERT_TRUE(startProgressSet({paths[0], paths[1]}));
    report(paths[0], 500);
    EXPECT_DOUBLE_EQ(progressSnapshot().ratio, 0.25);
}

TEST_F(ArchiveTest, FolderProgressRatioStaysRightAcrossAddsClearsAndTheSnap) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < 20; ++i) paths.push_back(pathKey(folders.watch + L"/f" + std::to_wstring(i)));
    const auto folderState = [this](double& ratio, double& previous, size_t& size) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const WatchFolderEntry& entry = watchFolderMap.at(folders.watch);
        ratio = entry.progressRatio;
        previous = entry.previousProgressRatio;
        size = entry.progressSet.size();
    };
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        addChangedFiles(watchFolderMap.at(folders.watch), {paths.begin(), paths.begin() + 10});
    }
    double ratio = 0.0, previous = 0.0;
    size_t size = 0;
    for (int i = 0; i < 10; ++i) report(paths[i], 500);
    folderState(ratio, previous, size);
    EXPECT_DOUBLE_EQ(ratio, 0.5);
    EXPECT_DOUBLE_EQ(previous, 0.45);

    // More files join at 0.0 while the first ones are under way.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        addChangedFiles(watchFolderMap.at(folders.watch), {paths.begin() + 5, paths.end()});
    }
    report(paths[0], 1000);
    folderState(ratio, previous, size);
    EXPECT_EQ(size, 20u);
    EXPECT_DOUBLE_EQ(ratio, 5.5 / 20.0);

    // Done files complete the set, which empties and keeps no old sum.
    for (const std::wstring& path : paths) report(path, 1000);
    folderState(ratio, previous, size);
    EXPECT_EQ(size, 0u);
    EXPECT_DOUBLE_EQ(ratio, 1.0);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        addChangedFiles(watchFolderMap.at(folders.watch), {paths.begin(), paths.begin() + 2});
    }
    // Just under the 0.05 margin the set stays; one more step completes it.
    report(paths[0], 900);
    report(paths[1], 990);
    folderState(ratio, previous, size);
    EXPECT_EQ(size, 2u);
    EXPECT_DOUBLE_EQ(ratio, 0.945);
    report(paths[0], 920);
    folderState(ratio, previous, size);
    EXPECT_EQ(size, 0u);
    EXPECT_DOUBLE_EQ(ratio, 1.0);
    EXPECT_DOUBLE_EQ(previous, 1.0);
}
