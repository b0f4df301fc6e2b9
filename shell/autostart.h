#pragma once
// Start at log-on: the autostart file $XDG_CONFIG_HOME/autostart/Varnholt.desktop
// (~/.config when unset). It is on when the file exists.
#include <string>

// The autostart file's path; empty when no absolute config folder is known.
std::string autostartFilePath();
bool startAtLogOnEnabled();
// The Exec value for one program path, quoted by the Desktop Entry rules.
// Empty when the path cannot be written there or would not start: not
// absolute, control characters, "%", bytes that are not UTF-8.
std::string desktopExecQuote(const std::string& path);
// Writes (atomically) or removes the file. On failure returns false, sets
// `error` and leaves the previous state in place.
bool setStartAtLogOn(bool on, const std::string& executablePath, std::string& error);
