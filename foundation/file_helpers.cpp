#include "foundation/file_helpers.h"

#include <chrono>
#include <cwctype>
#include <algorithm>
#include <mutex>
#include <thread>

#include "foundation/security.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

std::atomic<int> fileSizeRetryDelayMs{250};

namespace {

constexpr size_t kCompareBlockBytes = 131072;

// The text a folder puts before the rest of a path below it: the root's is
// empty, so that the rest keeps its leading separator.
std::wstring folderPrefix(const std::wstring& folder) {
    const std::wstring trimmed = withoutTrailingSeparators(folder);
    return trimmed == kPathSeparatorText ? std::wstring() : trimmed;
}

bool readBothStamps(const std::wstring& a, const std::wstring& b, FileStamp& stampA, FileStamp& stampB) {
    for (int pass = 0; pass < 3; ++pass) {
        const bool gotA = readFileStamp(a, stampA), gotB = readFileStamp(b, stampB);
        if (gotA && gotB) return true;
        if (pass < 2) std::this_thread::sleep_for(std::chrono::milliseconds(fileSizeRetryDelayMs.load()));
    }
    return false;
}

// Both files are opened as regular files only, never through a last
// component that is a link: a FIFO put in a file's place cannot hold the
// comparison.
bool contentsAreEqual(const std::wstring& a, const std::wstring& b, uint64_t size) {
    const OwnedDescriptor inA = openFileForReading(a), inB = openFileForReading(b);
    if (!inA.isOpen() || !inB.isOpen()) return false;
    std::vector<char> blockA(kCompareBlockBytes), blockB(kCompareBlockBytes);
    for (uint64_t offset = 0;; offset += kCompareBlockBytes) {
        const auto want = static_cast<int64_t>(std::min<uint64_t>(kCompareBlockBytes, size - std::min(size, offset)));
        if (readFileAt(inA.fd, offset, blockA.data(), static_cast<size_t>(want)) != want ||
            readFileAt(inB.fd, offset, blockB.data(), static_cast<size_t>(want)) != want)
            return false;  // changed meanwhile
        if (!std::equal(blockA.begin(), blockA.begin() + want, blockB.begin())) return false;
        if (want < static_cast<int64_t>(kCompareBlockBytes)) return true;
    }
}

// Creates each missing prefix that ends at a "/" (the last component only
// when the path ends with "/").
bool makeFolderChain(const std::wstring& path, unsigned mode) {
    if (!isAbsolutePath(path)) return false;
    for (size_t cut = path.find(kPathSeparator, 1); cut != std::wstring::npos; cut = path.find(kPathSeparator, cut + 1)) {
        const std::wstring prefix = path.substr(0, cut);
        if (prefix.empty() || prefix.back() == kPathSeparator || isExistingFolder(prefix)) continue;
        if (!makeFolder(prefix, mode)) return false;
    }
    return true;
}

bool placeholderMatches(const std::wstring& path, const std::wstring& token) {
    if (path.size() < token.size()) return false;
    for (size_t i = 0; i < token.size(); ++i) {
        if (std::towlower(path[i]) != std::towlower(token[i])) return false;
    }
    return path.size() == token.size() || path[token.size()] == kPathSeparator;
}

}  // namespace

bool isExistingFile(std::wstring path) {
    const uint32_t attributes = readFileAttributes(path);
    return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

bool isExistingFolder(std::wstring path) {
    const uint32_t attributes = readFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

bool isFileLocked(std::wstring path) { return isFileLockedForWriting(path); }

bool getFileSize(std::wstring path, uint64_t& size) { return readFileSize(path, size); }

bool getFileWriteTime(std::wstring path, int64_t& ticks) { return readFileWriteTicks(path, ticks); }

bool getDiskFreeSpace(std::wstring path, uint64_t& bytes) { return readFreeSpace(path, bytes); }

// One stat of each file decides most comparisons, as for rsync: the copies
// keep their source's modification time to the nanosecond.
bool filesAreEqual(std::wstring pathA, std::wstring pathB) {
    FileStamp a, b;
    if (!readBothStamps(pathA, pathB, a, b) || a.size != b.size) return false;
    if (a.seconds == b.seconds && a.nanoseconds == b.nanoseconds) return true;
    return contentsAreEqual(pathA, pathB, a.size);
}

bool makeDirectoryPathWithSD(std::wstring path) { return makeFolderChain(path, programFolderMode()); }

bool makeDirectoryPath(std::wstring path) { return makeFolderChain(path, kDefaultFolderMode); }

unsigned mirroredFolderMode(const std::wstring& model) {
    unsigned mode = 0;
    if (!readFileMode(model, mode)) return kPrivateFolderMode;
    return (mode & kDefaultFolderMode) | kPrivateFolderMode;
}

bool folderHasFiles(std::wstring folder) {
    return !walkFolderFiles(folder, true, enterEveryFolder, [](const std::wstring&) { return WalkStep::Stop; });
}

size_t listFolderTree(std::wstring folder, std::vector<std::wstring>& list, bool recursive) {
    walkFolderFiles(
        folder, recursive, [&](const std::wstring& sub) { return list.push_back(sub), WalkStep::Go; },
        [](const std::wstring&) { return WalkStep::Go; });
    return list.size();
}

size_t listFilesRecursive(std::wstring folder, std::vector<std::wstring>& files, bool recursive) {
    walkFolderFiles(folder, recursive, enterEveryFolder,
                    [&](const std::wstring& file) { return files.push_back(pathKey(file)), WalkStep::Go; });
    return files.size();
}

std::wstring getFileNameFromHandle(int fd) { return nameOfOpenFile(fd); }

std::wstring firstPathPart(std::wstring path) {
    if (path.empty() || path.front() != kPathSeparator) return L"";
    const size_t start = path.find_first_not_of(kPathSeparator);
    if (start == std::wstring::npos) return L"";
    const size_t end = path.find(kPathSeparator, start);
    // A last component with no separator after it is a file of the root.
    if (end == std::wstring::npos) return L"";
    return kPathSeparatorText + path.substr(start, end - start);
}

std::wstring mergePathOverlap(std::wstring folderText, std::wstring path, size_t& overlap) {
    overlap = 0;
    const size_t lengthA = folderText.size(), lengthB = path.size();
    if (lengthA == 0 || lengthB < 2) return L"";
    size_t bestCount = 0, bestEnd = 0;
    for (size_t s = 0; s + 2 <= lengthB; ++s) {
        const size_t end = s + lengthA - 1;  // B's index facing A's last character
        if (end >= lengthB) break;
        size_t count = 0;
        while (count < lengthA && count <= end && folderText[lengthA - 1 - count] == path[end - count]) ++count;
        if (count > bestCount) bestCount = count, bestEnd = end;
    }
    if (bestCount == 0) return L"";
    overlap = bestCount;
    return folderText + path.substr(bestEnd + 1);
}

std::wstring findWatchFolderForPath(std::wstring path) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    std::wstring best;
    size_t bestOverlap = 0;
    for (const auto& [key, entry] : watchFolderMap) {
        size_t overlap = 0;
        std::wstring merged = mergePathOverlap(key + kPathSeparator, path, overlap);
        if (!merged.empty() && overlap > bestOverlap) best = std::move(merged), bestOverlap = overlap;
    }
    return best;
}

std::wstring makePlaceholderPath(std::wstring path, std::wstring folder, std::wstring name) {
    const std::wstring base = folderPrefix(folder);
    if (folder.empty() || !pathIsInside(pathKey(path), pathKey(folder))) return L"";
    return L"{{" + name + L"}}" + path.substr(base.size());
}

std::wstring expandPlaceholderPath(std::wstring path, std::wstring name, std::wstring folder) {
    const std::wstring token = L"{{" + name + L"}}";
    if (!placeholderMatches(path, token)) return L"";
    return folderPrefix(folder) + path.substr(token.size());
}
