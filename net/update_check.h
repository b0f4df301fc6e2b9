#pragma once
// The two reads from the maker's server: the remote version (the about
// window's check for a newer release) and the update description
// ("update.json", whose "data" member carries the start-up notices). Both
// run off the UI thread, one at a time each; their results are kept here
// under a mutex and read as copies.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The maker's server. VARNHOLT_UPDATE_BASE (a host, optionally with
// ":port") replaces it when no host was set before the first request; test
// builds use a closed local port in its place.
inline constexpr std::string_view kUpdateServerHost = "updates.morvane.example";
inline constexpr std::string_view kRemoteVersionPath = "/app_support/qzr/version/remote_app_version.txt";
inline constexpr std::string_view kUpdateDescriptionPath = "/app_support/qzr/update.json";

std::string updateServerHost();
void setUpdateServerHost(const std::string& host);

// The newest release as the server named it, trimmed; kInitialRemoteVersion
// until a fetch succeeded.
std::string remoteAppVersion();
// How the last fetch of the remote version ended, and whether one succeeded
// in this run (only then does remoteAppVersion name a real release).
enum class RemoteVersionCheck { notChecked, failed, succeeded };
RemoteVersionCheck lastRemoteVersionCheck();
bool remoteAppVersionKnown();
// Asks the server for the remote version. Only a successful reply that is a
// version replaces it. Then rebuilds the about window's information (hook).
// False when the fetch failed or another fetch was running.
bool fetchRemoteAppVersion();
// fetchRemoteAppVersion on a thread of its own.
void startRemoteVersionFetch();

// The about window registers how its information is rebuilt and how it is
// shown; startAboutRefreshThread runs both on a thread of its own.
void setAboutWindowHooks(std::function<void()> rebuild, std::function<void()> show);
void startAboutRefreshThread();

// Reads "update.json" and keeps its "data" member as the update description:
// 1 when read, else 0 (and the description is empty).
int32_t readUpdateDescription();
std::string updateDescription();

// The start-up notices: reads the update description and tells what is new
// (foundation/startup_notices.h). False when no description was available.
// A check asked for while one runs waits for it and takes its result.
bool checkApplicationStateAndNotify();
// The start's check: checkApplicationStateAndNotify on a thread of its own,
// so start-up never waits on the network, then the stored start-up message
// unless the check has just told a new one.
void startApplicationStateCheck();

// Cancels running requests, refuses new ones and waits (at most the
// shut-down grace) for this file's threads to end; true when none is left.
bool stopNetworkWork();
// Tests: back to the start values, requests allowed again.
void resetNetworkState();
