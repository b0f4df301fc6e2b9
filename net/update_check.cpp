#include "net/update_check.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/app_version.h"
#include "foundation/global_defaults.h"
#include "foundation/startup_notices.h"
#include "net/https_get.h"
#include "net/json_reader.h"
#include "platform/text.h"

namespace {

std::mutex g_stateMutex;  // guards the values below
std::string g_host;
std::string g_remoteVersion(kInitialRemoteVersion);
RemoteVersionCheck g_lastVersionCheck = RemoteVersionCheck::notChecked;
bool g_remoteVersionKnown = false;
std::string g_description;
std::function<void()> g_rebuildAbout;
std::function<void()> g_showAbout;

std::atomic<bool> g_versionFetchRunning{false};
std::mutex g_checkMutex;  // held for a whole check
bool g_lastCheckResult = false;

// Threads started here, counted so shut-down can wait for them.
std::mutex g_threadMutex;
std::condition_variable g_threadsDone;
int g_runningThreads = 0;
bool g_stopped = false;

void startCountedThread(std::function<void()> body) {
    {
        std::lock_guard<std::mutex> guard(g_threadMutex);
        if (g_stopped) return;
        ++g_runningThreads;
    }
    auto finished = [] {
        std::lock_guard<std::mutex> guard(g_threadMutex);
        --g_runningThreads;
        g_threadsDone.notify_all();
    };
    try {
        std::thread([body = std::move(body), finished]() mutable {
            body();
            body = nullptr;  // nothing of the work is left once the count says so
            finished();
        }).detach();
    } catch (...) {
        finished();
        throw;  // std::system_error: no thread could be started
    }
}

std::wstring serverUrl(std::string_view path) { return utf8ToWide(updateServerHost() + std::string(path)); }

void runAboutHook(bool show) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        hook = show ? g_showAbout : g_rebuildAbout;
    }
    if (hook) hook();
}

// The description as the bytes of the file: each byte widened on its own,
// so narrowing a value gives back the bytes of the file.
std::wstring widenBytes(std::string_view bytes) {
    std::wstring wide(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i) wide[i] = static_cast<unsigned char>(bytes[i]);
    return wide;
}

std::string narrowBytes(const std::wstring& wide) {
    std::string bytes(wide.size(), '\0');
    for (size_t i = 0; i < wide.size(); ++i) bytes[i] = static_cast<char>(wide[i] & 0xFF);
    return bytes;
}

}  // namespace

std::string updateServerHost() {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    if (g_host.empty()) {
        const char* base = std::getenv("VARNHOLT_UPDATE_BASE");
#ifdef VARNHOLT_TEST_HOOKS
        // Test builds never ask the real server: a closed local port unless a test names one.
        const std::string fallback = "127.0.0.1:1";
#else
        const std::string fallback(kUpdateServerHost);
#endif
        g_host = base && *base ? base : fallback;
    }
    return g_host;
}

void setUpdateServerHost(const std::string& host) {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    g_host = host;
}

std::string remoteAppVersion() {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    return g_remoteVersion;
}

RemoteVersionCheck lastRemoteVersionCheck() {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    return g_lastVersionCheck;
}

bool remoteAppVersionKnown() {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    return g_remoteVersionKnown;
}

bool fetchRemoteAppVersion() {
    if (g_versionFetchRunning.exchange(true)) return false;
    std::string reply;
    bool accepted = winHttpGetText(serverUrl(kRemoteVersionPath), reply, L"") == kHttpOk;
    const std::string version = trimVersionText(reply);
    accepted = accepted && isVersionText(version);
    {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        if (accepted) g_remoteVersion = version;
        g_remoteVersionKnown = g_remoteVersionKnown || accepted;
        g_lastVersionCheck = accepted ? RemoteVersionCheck::succeeded : RemoteVersionCheck::failed;
    }
    runAboutHook(false);
    g_versionFetchRunning.store(false);
    return accepted;
}

void startRemoteVersionFetch() {
    startCountedThread([] { fetchRemoteAppVersion(); });
}

void setAboutWindowHooks(std::function<void()> rebuild, std::function<void()> show) {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    g_rebuildAbout = std::move(rebuild);
    g_showAbout = std::move(show);
}

void startAboutRefreshThread() {
    startCountedThread([] {
        runAboutHook(false);
        runAboutHook(true);
    });
}

int32_t readUpdateDescription() {
    {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        g_description.clear();
    }
    std::string reply;
    if (winHttpGetText(serverUrl(kUpdateDescriptionPath), reply, L"") != kHttpOk) return 0;
    reply.resize(std::min(reply.size(), reply.find('\0')));  // the text ends at its first zero byte
    JsonPathMap map;
    if (!walkJsonDocument(map, widenBytes(reply))) return 0;
    std::vector<std::wstring> values;
    if (findJsonValue(map, L"/data", values) == 0) return 0;
    std::lock_guard<std::mutex> guard(g_stateMutex);
    g_description = narrowBytes(values.front());
    return 1;
}

std::string updateDescription() {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    return g_description;
}

bool checkApplicationStateAndNotify() {
    std::unique_lock<std::mutex> check(g_checkMutex, std::try_to_lock);
    if (!check.owns_lock()) {
        std::lock_guard<std::mutex> wait(g_checkMutex);
        return g_lastCheckResult;
    }
    g_lastCheckResult = false;
    if (readUpdateDescription() == 0) return false;
    std::vector<NoticeItem> items;
    readNoticeItems(updateDescription(), items);
    applyNoticeItems(items, kOwnAppVersion);
    g_lastCheckResult = true;
    return true;
}

void startApplicationStateCheck() {
    startCountedThread([] {
        const std::string before = storedStartupMessage();
        checkApplicationStateAndNotify();
        // Every start tells the start-up message, also when the server did
        // not answer; a new one the check has just told itself.
        if (storedStartupMessage() == before) logStoredStartupMessage();
    });
}

bool stopNetworkWork() {
    setHttpRequestsCancelled(true);
    std::unique_lock<std::mutex> lock(g_threadMutex);
    g_stopped = true;
    return g_threadsDone.wait_for(lock, std::chrono::milliseconds(timings().shutdownGraceMs.load()),
                           [] { return g_runningThreads == 0; });
}

void resetNetworkState() {
    stopNetworkWork();
    {
        std::lock_guard<std::mutex> guard(g_threadMutex);
        g_stopped = false;
    }
    setHttpRequestsCancelled(false);
    std::lock_guard<std::mutex> guard(g_stateMutex);
    g_host.clear();
    g_remoteVersion = std::string(kInitialRemoteVersion);
    g_lastVersionCheck = RemoteVersionCheck::notChecked;
    g_remoteVersionKnown = false;
    g_description.clear();
    g_rebuildAbout = nullptr;
    g_showAbout = nullptr;
}
