#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filedialog/dialog_state.h"
#include "platform/file_system.h"
#include "test_env.h"

using namespace VFD;

namespace {

std::vector<std::string> names(const EntryList& list) {
    std::vector<std::string> out;
    for (const auto& entry : list) out.push_back(entry->fileName);
    return out;
}

bool holds(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

void setModified(const std::string& path, time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A dialog model opened on `folder`, as OpenDialog and the first frame leave it.
void openOn(DialogState& state, const std::string& folder, const char* filters, int32_t flags = 0) {
    state.config.flags = flags;
    state.filters.filterText = filters ? filters : "";
    parseFilters(state.filters, filters);
    state.files.folderMode = filters == nullptr;
    state.files.currentPath = folder;
    openCurrentPath(state);
}

std::vector<std::string> listedWith(const std::string& folder, const char* filters, int32_t flags = 0) {
    DialogState state;
    openOn(state, folder, filters, flags);
    return names(state.files.filteredList);
}

}  // namespace

TEST(FileDialogModel, ScansFoldersFilesLinksAndOddNames) {
    const std::string dir = makeTestFolder("scan");
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(writeTestFile(dir + "/a.txt", "hello"));
    ASSERT_EQ(symlink("sub", (dir + "/lnkdir").c_str()), 0);
    ASSERT_EQ(symlink("a.txt", (dir + "/lnkfile.txt").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir + "/dead.txt").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/pipe.txt").c_str(), 0600), 0);
    ASSERT_TRUE(writeTestFile(dir + "/.hidden.txt", ""));
    ASSERT_TRUE(writeTestFile(dir + "/back\\slash.txt", ""));
    const std::string badName = "bad\xff\xfe.txt";
    ASSERT_TRUE(writeTestFile(dir + "/" + badName, ""));
    ASSERT_EQ(mkdir((dir + "/dir\xfe").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/locked").c_str(), 0), 0);

    FileSystemDirent fs;
    const auto raw = fs.ReadFolderEntries(dir);
    std::vector<std::string> rawNames;
    for (const auto& entry : raw) rawNames.push_back(entry->fileName);
    EXPECT_TRUE(std::is_sorted(rawNames.begin(), rawNames.end(),
                               [](const auto& a, const auto& b) { return strcoll(a.c_str(), b.c_str()) < 0; }));
    EXPECT_TRUE(holds(rawNames, ".") && holds(rawNames, ".."));
    EXPECT_FALSE(holds(rawNames, "dead.txt"));  // dangling link
    EXPECT_FALSE(holds(rawNames, "pipe.txt"));  // never opened
    for (const auto& entry : raw) {
        if (entry->fileName == "lnkdir") {
            EXPECT_TRUE(entry->isLink && entry->pointsToFolder);
            EXPECT_EQ(entry->contentType, kContentLink);
        }
        if (entry->fileName == "lnkfile.txt") {
            EXPECT_EQ(entry->fileSize, 5u);
        }
    }
    EXPECT_TRUE(fs.FolderExists(dir + "/locked"));
    EXPECT_FALSE(fs.FolderExists(dir + "/none"));
    EXPECT_FALSE(fs.EnsureFolder(dir + "/sub"));
    EXPECT_TRUE(fs.EnsureFolder(dir + "/made"));
    if (geteuid() != 0) {
        EXPECT_FALSE(fs.CanOpenFolder(dir + "/locked"));
    }

    // A folder chooser lists ".", ".." and what can be entered, never files.
    const auto folders = listedWith(dir, nullptr);
    EXPECT_EQ(folders, (std::vector<std::string>{".", "..", "dir\xfe", "locked", "made", "sub", "lnkdir"}));

    const auto files = listedWith(dir, ".txt");
    for (const char* name : {"a.txt", "lnkfile.txt", ".hidden.txt", "back\\slash.txt", badName.c_str(), ".."})
        EXPECT_TRUE(holds(files, name)) << name;
    EXPECT_FALSE(holds(files, "."));
    EXPECT_FALSE(holds(listedWith(dir, ".txt", OptNoDotEntries), ".hidden.txt"));

    // A name that is not UTF-8 can be chosen: the bytes survive.
    DialogState state;
    openOn(state, dir, nullptr);
    // A folder that cannot be read is not entered.
    if (geteuid() != 0) {
        FileInfos locked;
        locked.fileName = "locked";
        EXPECT_FALSE(enterFolder(state, locked));
        EXPECT_EQ(state.files.currentPath, dir);
    }
    selectEntry(state, "dir\xfe", false, false);
    EXPECT_EQ(resultFolder(state), dir + "/dir\xfe");
}

TEST(FileDialogModel, TenThousandEntries) {
    const std::string dir = makeTestFolder("many");
    for (int i = 0; i < 10000; ++i) {
        const int fd = ::open((dir + "/f" + std::to_string(i) + ".dat").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(listedWith(dir, ".dat").size(), 10001u);  // and ".."
    EXPECT_EQ(listedWith(dir, ".txt").size(), 1u);
}

TEST(FileDialogModel, FilterGrammar) {
    FilterManager m;
    parseFilters(m, ".cpp,.h");
    ASSERT_EQ(m.filters.size(), 2u);
    EXPECT_EQ(m.filters[0].text, ".cpp");
    EXPECT_EQ(m.filters[1].text, ".h");
    EXPECT_EQ(m.selected.text, ".cpp");

    parseFilters(m, "Source files{.cpp,.h}, .h");
    ASSERT_EQ(m.filters.size(), 2u);
    EXPECT_EQ(m.filters[0].text, "Source files");
    EXPECT_EQ(m.filters[0].extensions, (std::vector<std::string>{".cpp", ".h"}));
    EXPECT_EQ(m.selected.text, "Source files");  // ".cpp" is gone: the first is selected
    parseFilters(m, "Source files{.cpp,.h");
    EXPECT_TRUE(m.filters.empty());
    EXPECT_EQ(m.selected.text, "Source files");  // no records: the selection stays
    parseFilters(m, "a,.txt");
    EXPECT_TRUE(m.filters.empty());
    parseFilters(m, nullptr);
    EXPECT_TRUE(m.filters.empty());

    // Regular expressions, alone and in a collection; a broken one is dropped.
    parseFilters(m, "((^report_[0-9]+))");
    ASSERT_EQ(m.filters.size(), 1u);
    ASSERT_EQ(m.filters[0].regexes.size(), 1u);
    parseFilters(m, "Mixed{.md,((x[))}");
    ASSERT_EQ(m.filters.size(), 1u);
    EXPECT_EQ(m.filters[0].extensions, (std::vector<std::string>{".md"}));

    // Wildcards become expressions; extension levels follow the dot count.
    parseFilters(m, ".*,Archives{.tar.gz,.zip},Plain{.txt}");
    ASSERT_EQ(m.filters.size(), 3u);
    EXPECT_EQ(m.filters[0].extensions[0], "(([.].*$))");
    FilterManager stars;
    parseFilters(stars, (".*" + std::string(60, '*') + "cp").c_str());
    ASSERT_EQ(stars.filters.size(), 1u);
    EXPECT_EQ(stars.filters[0].extensions[0], "(([.].*cp$))");  // one ".*": no exponential search
    parseFilters(stars, ".*+|*");
    ASSERT_EQ(stars.filters.size(), 1u);
    EXPECT_EQ(stars.filters[0].extensions[0], "(([.].*\\+\\|.*$))");  // literal, never operators
    EXPECT_EQ(m.filters[1].greatestDotCount, 2u);
    auto entry = [](const std::string& name, size_t dots) {
        FileInfos e;
        e.fileName = name;
        setExtensionLevels(e, dots);
        return e;
    };
    EXPECT_EQ(entry("a.tar.gz", 1).extLevels, (std::vector<std::string>{".gz"}));
    EXPECT_EQ(entry("a.tar.gz", 2).extLevels, (std::vector<std::string>{".tar.gz", ".gz"}));
    EXPECT_TRUE(entry("a.tar.gz", 0).extLevels.empty());
    const FilterInfos& any = m.filters[0];
    const FilterInfos& archives = m.filters[1];
    const FilterInfos& plain = m.filters[2];
    EXPECT_TRUE(filterTakesEntry(any, entry("x.y", 1), false));
    EXPECT_FALSE(filterTakesEntry(any, entry("noext", 1), false));
    EXPECT_TRUE(filterTakesEntry(archives, entry("x.tar.gz", 2), false));
    EXPECT_TRUE(filterTakesEntry(archives, entry("x.zip", 2), false));
    EXPECT_FALSE(filterTakesEntry(archives, entry("x.gz", 2), false));
    EXPECT_FALSE(filterTakesEntry(archives, entry("A.ZIP", 2), true));  // fewer dots: exact
    EXPECT_TRUE(filterTakesEntry(plain, entry("A.TXT", 1), true));
    EXPECT_FALSE(filterTakesEntry(plain, entry("A.TXT", 1), false));
    FilterManager hostile;  // searched in time linear in the name, never backtracking
    parseFilters(hostile, "((a|a)+$)");
    ASSERT_EQ(hostile.filters.size(), 1u);
    EXPECT_FALSE(filterTakesEntry(hostile.filters[0], entry(std::string(40, 'a') + "!", 0), false));

    // On disk: the ignore-case flag and a filter chosen by the default extension.
    const std::string dir = makeTestFolder("filters");
    for (const char* name : {"A.TXT", "b.txt", "x.tar.gz", "x.gz", "report_12.log", "notes.md"})
        ASSERT_TRUE(writeTestFile(dir + "/" + name, ""));
    EXPECT_EQ(listedWith(dir, ".txt"), (std::vector<std::string>{"..", "b.txt"}));
    EXPECT_EQ(listedWith(dir, ".txt", OptIgnoreExtensionCase), (std::vector<std::string>{"..", "A.TXT", "b.txt"}));
    EXPECT_EQ(listedWith(dir, "Archives{.tar.gz,.zip}"), (std::vector<std::string>{"..", "x.tar.gz"}));
    EXPECT_EQ(listedWith(dir, "((^report_[0-9]+))"), (std::vector<std::string>{"..", "report_12.log"}));
    parseFilters(m, ".txt,Docs{.md,.txt},.log");
    selectFilterForExtension(m, ".txt");
    EXPECT_EQ(m.selected.text, "Docs");
}

TEST(FileDialogModel, SizeTextsAndTheFourSortFields) {
    EXPECT_EQ(sizeText(0), "0 o");
    EXPECT_EQ(sizeText(1023), "1023 o");
    EXPECT_EQ(sizeText(1536), "1.50 Ko");
    EXPECT_EQ(sizeText(3u * 1048576), "3.00 Mo");
    EXPECT_EQ(sizeText(5ull * 1073741824), "5.00 Go");

    const std::string dir = makeTestFolder("sort");
    ASSERT_EQ(mkdir((dir + "/b").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/A").c_str(), 0755), 0);
    ASSERT_TRUE(writeTestFile(dir + "/c.TXT", std::string(3000, 'x')));
    ASSERT_TRUE(writeTestFile(dir + "/a.txt", "x"));
    setModified(dir + "/c.TXT", 1600000000);
    setModified(dir + "/a.txt", 1700000000);
    setModified(dir + "/A", 1500000000);
    setModified(dir + "/b", 1400000000);
    DialogState state;
    openOn(state, dir, "Any{.txt,.TXT}");
    auto sorted = [&](int32_t field, bool ascending) {
        state.files.sortField = field;
        state.files.sortAscending[static_cast<size_t>(field)] = ascending;
        sortEntries(state);
        auto list = names(state.files.filteredList);
        list.erase(std::remove(list.begin(), list.end(), ".."), list.end());
        return list;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(sorted(kSortName, true), (V{"A", "b", "a.txt", "c.TXT"}));
    EXPECT_EQ(sorted(kSortName, false), (V{"c.TXT", "a.txt", "b", "A"}));
    EXPECT_EQ(sorted(kSortType, true)[2], "c.TXT");  // ".TXT" before ".txt"
    EXPECT_EQ(sorted(kSortType, false)[0], "a.txt");
    const V bySize = sorted(kSortSize, true);
    EXPECT_EQ(V(bySize.begin() + 2, bySize.end()), (V{"a.txt", "c.TXT"}));
    EXPECT_EQ(sorted(kSortSize, false)[0], "c.TXT");
    EXPECT_EQ(sorted(kSortDate, true), (V{"b", "A", "c.TXT", "a.txt"}));
    EXPECT_EQ(sorted(kSortDate, false), (V{"a.txt", "c.TXT", "A", "b"}));
    for (const auto& entry : state.files.fileList) {
        if (entry->fileName == "c.TXT") {
            EXPECT_EQ(entry->sizeText, "2.93 Ko");
            EXPECT_EQ(entry->dateText, "2020/09/13 12:26");  // TZ=UTC in tests
        }
    }
}

TEST(FileDialogModel, SearchAndSelection) {
    const std::string dir = makeTestFolder("select");
    for (const char* name : {"Doc1.txt", "a.txt", "b.txt", "c.txt", "d.txt"})
        ASSERT_TRUE(writeTestFile(dir + "/" + name, ""));
    DialogState state;
    openOn(state, dir, ".txt");
    setSearchText(state, "doc");
    EXPECT_EQ(names(state.files.filteredList), (std::vector<std::string>{"..", "Doc1.txt"}));
    setSearchText(state, "");

    state.files.selectionLimit = 0;
    selectEntry(state, "a.txt", false, false);
    EXPECT_EQ(bufferText(state.files.fileName), "a.txt");
    selectEntry(state, "c.txt", false, true);  // Shift: the run from the anchor
    EXPECT_EQ(state.files.selectedNames, (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(bufferText(state.files.fileName), "3 files Selected");
    selectEntry(state, "b.txt", true, false);  // Ctrl removes
    EXPECT_EQ(state.files.selectedNames, (std::set<std::string>{"a.txt", "c.txt"}));

    state.files.selectionLimit = 2;
    selectEntry(state, "d.txt", true, false);  // the limit is reached: nothing changes
    EXPECT_EQ(state.files.selectedNames.size(), 2u);
    selectEntry(state, "d.txt", false, true);  // Shift from the anchor "a.txt", cut at the limit
    EXPECT_EQ(state.files.selectedNames, (std::set<std::string>{"a.txt", "b.txt"}));
    state.files.selectionLimit = 1;
    selectEntry(state, "c.txt", false, true);
    EXPECT_EQ(state.files.selectedNames.size(), 2u);

    // A new folder never keeps the old selection.
    state.files.currentPath = testRoot();
    openCurrentPath(state);
    EXPECT_TRUE(state.files.selectedNames.empty());
}

TEST(FileDialogModel, PathComposerAndResults) {
    DialogState state;
    state.files.folderMode = true;
    setCurrentPath(state, "/");
    EXPECT_EQ(state.files.currentPath, "/");
    EXPECT_EQ(state.files.composer, (std::vector<std::string>{"/"}));
    EXPECT_EQ(composePath(state.files, 0), "/");
    EXPECT_FALSE(goUp(state));

    const std::string dir = makeTestFolder("deep");
    const std::string deep = dir + "/one/two";
    ASSERT_EQ(mkdir((dir + "/one").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    setCurrentPath(state, deep + "/");
    EXPECT_EQ(state.files.currentPath, deep);
    EXPECT_EQ(state.files.composer.front(), "/");
    EXPECT_EQ(state.files.composer.back(), "two");
    EXPECT_EQ(composePath(state.files, state.files.composer.size() - 2), dir + "/one/");
    setCurrentPath(state, deep + "/../two/./");
    EXPECT_EQ(state.files.currentPath, deep);
    ASSERT_TRUE(goUp(state));
    openCurrentPath(state);
    EXPECT_EQ(state.files.currentPath, dir + "/one");

    // Folder results: normalised, absolute, typed paths kept as typed.
    setBufferText(state.files.fileName, "..");
    EXPECT_EQ(resultFolder(state), dir);
    setBufferText(state.files.fileName, ".");
    EXPECT_EQ(resultFolder(state), dir + "/one");
    setBufferText(state.files.fileName, "/tmp/");
    EXPECT_EQ(resultFolder(state), "/tmp");
    state.files.currentPath.clear();  // the drive list
    setBufferText(state.files.fileName, ".");
    EXPECT_EQ(resultFolder(state), "");

    // The drive list: "/" and the mounted local file systems, each enterable.
    setMountTableOverride("/dev/sda1 / ext4 rw 0 0\n/dev/sdb " + dir + " ext4 rw 0 0\nproc /proc proc rw 0 0\n");
    ASSERT_TRUE(showDriveList(state));
    setMountTableOverride(std::nullopt);
    EXPECT_EQ(names(state.files.filteredList), (std::vector<std::string>{"/", dir}));
    EXPECT_TRUE(state.files.currentPath.empty());
    ASSERT_TRUE(enterFolder(state, *state.files.filteredList[1]));
    openCurrentPath(state);
    EXPECT_EQ(state.files.currentPath, dir);
    EXPECT_FALSE(state.files.showDrives);

    FileSystemDirent fs;
    const ParsedPath p = fs.SplitFullPath("/work/report.txt");
    EXPECT_EQ(p.path, "/work");
    EXPECT_EQ(p.name, "report");
    EXPECT_EQ(p.ext, "txt");
    EXPECT_EQ(fs.SplitFullPath("a.txt.txt").name, "a.txt");
    EXPECT_EQ(fs.SplitFullPath("/my.folder/file").ext, "");
    EXPECT_EQ(fs.SplitFullPath("/x").path, "/");
    EXPECT_FALSE(fs.SplitFullPath("").accepted);

    // Text cut to the buffer ends on a whole character.
    TextBuffer buffer{};
    std::string text(1022, 'a');
    setBufferText(buffer, text + "\xc3\xa9\n");
    EXPECT_EQ(bufferText(buffer), text);
}

TEST(FileDialogModel, ResultingFileNames) {
    DialogState state;
    parseFilters(state.filters, ".txt");
    auto result = [&](const char* text, int mode) {
        setBufferText(state.files.fileName, text);
        return resultingFileName(state, mode);
    };
    EXPECT_EQ(result("notes", 0), "notes.txt");
    EXPECT_EQ(result("notes.", 0), "notes.txt");
    EXPECT_EQ(result("notes.md", 0), "notes.md");
    EXPECT_EQ(result("notes.md", 1), "notes.txt");
    EXPECT_EQ(result("a..b", 0), "a.b");
    EXPECT_EQ(result("a..b", 1), "a.txt");
    EXPECT_EQ(result("a..b", 2), "a..b");
    EXPECT_EQ(result("", 0), "");
}
