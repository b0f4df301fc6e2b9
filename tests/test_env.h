#pragma once
// Shared by every test program: each run gets its own temp folder, with HOME,
// LOCALAPPDATA and the XDG folders inside it.
#include <string>

// The run's temp root (exists for the whole run).
const std::string& testRoot();
// A new empty folder below the temp root, unique per call.
std::string makeTestFolder(const std::string& hint = "t");
// Writes `content` to `path` (creating nothing else); returns false on failure.
bool writeTestFile(const std::string& path, const std::string& content);
std::string readTestFile(const std::string& path);
