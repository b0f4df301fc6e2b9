#pragma once
// The application log: the time-stamped messages the Notifications tab shows,
// each with a kind bit (1 message, 2 important, 4 issue, 8 error) and a
// confirmed flag. One mutex guards the map, the pending-kinds mask and the
// changed flag, so the mask always agrees with the map.
// The trace log: milestone lines written to a text file with the time since
// the first line of the run.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct AppLogEntry {
    std::wstring key;   // time text, blank, message, trailing blanks; shown text
    int64_t time = 0;   // 100-ns ticks when added or last refreshed
    uint32_t kind = 0;
    uint8_t confirmed = 0;
};

// A consistent copy of the log, taken under its mutex.
struct AppLogState {
    std::vector<AppLogEntry> entries;  // key order, which is time order
    uint32_t pendingKinds = 0;         // OR of the kinds of unconfirmed entries
    bool changed = false;
};

// Adds `text` under the key "<time with ms> <text>    ". The same key again
// within one millisecond: with `refresh` the entry becomes unconfirmed with the
// new kind; without, a new entry with a different number of trailing blanks.
// The text is plain text: escaped (below), it is shown as it stands.
void appendAppLogEntry(std::wstring text, uint32_t kind, bool refresh);
void appendAppLogEntryAt(std::wstring text, uint32_t kind, bool refresh, int64_t nowTicks);
// The same for a text in the Notifications tab's markup: a title, then "[||]"
// and lines of "[|]" fields. Every outside text in it (names, paths, server
// texts) must be escaped by the caller (escapeLogText, joinRecordFields).
void appendAppLogMarkup(std::wstring markup, uint32_t kind, bool refresh);

// Outside text in a log entry never reads as markup: a "[" followed by "|" or
// by the escape mark U+001F gets the mark put after it, so the escaped text
// holds neither "[|]" nor "[||]". unescapeLogText takes the marks out again;
// the Notifications tab shows and acts on the unescaped text.
std::string escapeLogText(std::string_view text);
std::wstring escapeLogText(std::wstring_view text);
std::string unescapeLogText(std::string_view text);

// Removes every confirmed entry.
void removeConfirmedAppLogEntries();
// Removes every entry whose kind shares a bit with `kindMask` (all: 0xFFFFFFFF).
void removeAppLogEntriesOfKind(uint32_t kindMask);

// Marks one entry (un)confirmed; false when no entry has the key. Confirming
// leaves the pending kinds as they are until the next addition or removal.
bool setAppLogEntryConfirmed(const std::wstring& key, bool confirmed);
// Replaces the whole log.
void replaceAppLogEntries(const std::vector<AppLogEntry>& entries);
// Adds entries loaded from the log file; an entry of the live log with the
// same key stays as it is, so nothing logged before the load is lost.
void mergeAppLogEntries(const std::vector<AppLogEntry>& entries);

AppLogState appLogSnapshot();
uint32_t appLogPendingKinds();
bool appLogChanged();
void clearAppLogChanged();

// Writes one trace line. The first call with an absolute path fixes the trace
// file for the run; later calls pass an empty path. The first line of a run
// empties the file and writes "ANCHOR: " and the time; every line then reads
// "HH:MM:SS.mmm: text". Nothing is written while no file is named or when it
// cannot be opened.
void writeLogLine(std::string text, std::string path);
void writeLogLineAt(std::string text, std::string path, int64_t nowTicks);
