#pragma once
// When a file last changed in any way that matters for archiving: its content
// was written, or it was renamed or moved into place (which keeps the old
// modification time but sets the status-change time).
#include <cstdint>
#include <string>

// The later of the modification and status-change times of the entry itself
// (a link is not followed), as 100-ns ticks since 1970. False when missing.
bool readFileChangeTicks(const std::wstring& path, int64_t& ticks);
