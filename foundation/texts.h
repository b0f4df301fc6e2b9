#pragma once
// Fixed texts: the welcome text of the main window, the confirmation and result
// messages that engine tasks show in the modal message window, and the report
// line that task reports are made of.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The welcome text, one line per element (a leading tab is part of the line).
const std::vector<std::string>& welcomeTextLines();

// The tag that every confirmation request carries in its title.
inline constexpr const char* kModalTagText = "Attention";

// One message a task shows: the title and button mask the task passes, the
// heading, and the body template whose placeholders the task fills.
struct ConfirmTemplate {
    const char* title;
    uint8_t buttonMask;  // bit 0 OK, bit 1 Cancel
    const char* heading;
    const char* body;
};

extern const ConfirmTemplate kRestoreOverwriteTemplate;   // restore over existing files
extern const ConfirmTemplate kArchiveDeletionTemplate;    // delete from the archive
extern const ConfirmTemplate kRestoreSuccessTemplate;     // restore finished
extern const ConfirmTemplate kCancelRestoreTemplate;      // cancel a running restore
extern const ConfirmTemplate kSlowBackupTemplate;         // slow copying during a backup
extern const ConfirmTemplate kBackupInterruptedTemplate;  // backup interrupted
extern const ConfirmTemplate kRemoveBackupSetTemplate;    // remove a backup set
extern const ConfirmTemplate kRemoveFolderEntryTemplate;  // remove a folder entry (two option lines)

// Put before the interrupted-backup title when the disk is full.
inline constexpr const char* kDiskFullTitlePrefix = "DISK IS FULL, ";

// Application-log texts when the user answers Cancel.
inline constexpr const wchar_t* kUserCancelledRestoreText = L"User cancelled the restore operation";
inline constexpr const wchar_t* kUserCancelledDeleteText = L"User cancelled the delete operation";

// Placeholders of the body templates. "{{displayName}}" (the file being copied)
// and "{{display_name}}" (folder or set name) are different placeholders.
inline constexpr const char* kPlaceholderDisplayName = "{{display_name}}";
inline constexpr const char* kPlaceholderDuration = "{{duration}}";
inline constexpr const char* kPlaceholderFileCount = "{{file_count}}";
inline constexpr const char* kPlaceholderCompletionRatio = "{{completion_ratio}}";
inline constexpr const char* kPlaceholderFileName = "{{displayName}}";
inline constexpr const char* kPlaceholderUnprocessedCount = "{{unprocessed_count}}";
inline constexpr const char* kPlaceholderAutoBackupVersions = "{{auto_backup_versions}}";
inline constexpr const char* kPlaceholderBackupSetCount = "{{backup_set_count}}";
inline constexpr const char* kPlaceholderBackupSetVersions = "{{backup_set_versions}}";

// Replaces every occurrence of each placeholder by its value, in one pass.
// Values stay on their line: control characters become U+FFFD, and a value
// that would begin a line with "?" (an option line) gets a blank before it.
std::string fillTemplate(std::string text, const std::vector<std::pair<std::string, std::string>>& values);

// One line of a task report. Field 3 is kept before field 2.
struct ReportLineRecord {
    int32_t kind = 0;
    std::string field1;
    std::string field3;
    std::string field2;
};

// kind "[|]" field 1 "[|]" field 2 "[|]" field 3; an empty field is written as
// one blank so that no field of the line is empty. Fields are escaped
// (escapeLogText), so a name in one never adds fields or lines.
std::string joinRecordFields(const ReportLineRecord& record);
// The same, built from its parts in line order.
std::string joinReportFields(int32_t kind, std::string field1, std::string field2, std::string field3);
