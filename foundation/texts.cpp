#include "foundation/texts.h"

#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"


const std::vector<std::string>& welcomeTextLines() {
    static const std::vector<std::string> lines = {
        "Hello and Welcome,",
        "\tThank you for choosing Varnholt to protect and organize your backed-up data and documents.",
        "\tThe basic setup is as simple as choosing the folders you wish to protect using the \"Add\" button "
        "below.",
        "\tA guide is available to view by clicking the \"Open User Guide\" link in the about box.",
        "\tFiles can be backed up in two ways:",
        "\t\t1. Automatically when a file changes in a selected watch folder (Varnholt: it holds on to every "
        "version)",
        "\t\t2. On demand when you click the \"Backup\" button below",
        " ",
        "\tOther Information:",
        "\t\tRight click context menues are used to access related functions or options",
        "\t\tRight click the \"Varnholt Application\" icon on the tray area to access the application menu",
        "Thanks again for choosing \"Varnholt\"",
    };
    return lines;
}

const ConfirmTemplate kRestoreOverwriteTemplate = {
    "Confirm Source File Overwrite:", 3,
    "Attention!, restoring this data will overwrite\nexisting data in the source folder.",
    "{{display_name}}\nSuggestion - Consider, first, performing a backup.\n[OK] to restore the files\n"
    "[CANCEL] to abort this operation.\n"};

const ConfirmTemplate kArchiveDeletionTemplate = {
    "Confirm Backup Data Deletion:", 3,
    "Attention!, you are about to delete selected data\nin the archive folder.",
    "{{display_name}}\nSuggestion - Verify that this data is no longer needed.\n[OK] to delete the files\n"
    "[CANCEL] to abort this operation.\n"};

const ConfirmTemplate kRestoreSuccessTemplate = {
    "Restore Successful!:", 1,
    "Restore operation completed successfully\nSelected files restored to source folder.",
    "{{display_name}}\nDuration: {{duration}}.\nFiles: {{file_count}}\n[OK] to continue.\n"};

const ConfirmTemplate kCancelRestoreTemplate = {
    "Cancel File Restoration!:", 3,
    "Cancel File Restoration\nAre you sure you want to cancel restoration?",
    "{{display_name}}\n[CANCEL] to continue restoration.\n[OK] to cancel the operation.\n"};

const ConfirmTemplate kSlowBackupTemplate = {
    "Backup is taking a while, extend?", 3,
    "Attention!, it's taking longer than expected to copy files,\nWould you like to extend the time?",
    "Elapsed Time: {{duration}}, Progress: {{completion_ratio}}\nFile: {{displayName}}\n"
    "Unprocessed Count: {{unprocessed_count}}\nIf the backup device is slow, more time will help\n"
    "[OK] to extend the time\n[CANCEL] to abort this operation.\n"};

const ConfirmTemplate kBackupInterruptedTemplate = {
    "Cancel the Backup Operation, Are You Sure?", 3,
    "Attention!, Operation Interrupted,\nWould you like to cancel the backup?",
    "Elapsed Time: {{duration}}, Progress: {{completion_ratio}}\nFile: {{displayName}}\n"
    "Unprocessed Count: {{unprocessed_count}}\nIf you cancel the backup set will not be saved\n"
    "[OK] to cancel/abort the backup\n[CANCEL] to continue this operation.\n"};

const ConfirmTemplate kRemoveBackupSetTemplate = {
    "Confirm Remove Backup Set:", 3,
    "Attention!, removing this set will erase\nthe set's associated data.",
    "{{display_name}}\nAre you sure you want to do this?\n[OK] to remove the set and data\n"
    "[CANCEL] to abort this operation.\n"};

const ConfirmTemplate kRemoveFolderEntryTemplate = {
    "Confirm Remove Folder Entry", 3,
    "Attention!, removing this entry will erase the checked items, see items:",
    "{{display_name}}\n?{{auto_backup_versions}} automatically archived files\n"
    "?{{backup_set_count}} backup sets with {{backup_set_versions}} file versions\n"
    "[OK] to remove the folder entry\n[CANCEL] to abort this operation.\n"};

namespace {

// A value is one piece of text on its line: a line break or another control
// character in a name would add lines, and a "?" that begins a line would
// add a checkbox, both shifting the option lines the answer is read by.
std::string lineSafeValue(const std::string& value, bool atLineStart) {
    std::string safe = atLineStart && !value.empty() && value[0] == '?' ? " " : "";
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) safe += "\xEF\xBF\xBD";  // U+FFFD
        else safe += c;
    }
    return safe;
}

}  // namespace

std::string fillTemplate(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    // One pass: a value is never searched for placeholders itself.
    std::string filled;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [placeholder, value] : values) {
            if (placeholder.empty() || text.compare(i, placeholder.size(), placeholder) != 0) continue;
            filled += lineSafeValue(value, i == 0 || text[i - 1] == '\n');
            i += placeholder.size();
            replaced = true;
            break;
        }
        if (!replaced) filled += text[i++];
    }
    return filled;
}

std::string joinRecordFields(const ReportLineRecord& record) {
    // Fields hold names and paths: escaped, they never read as markup.
    auto field = [](const std::string& text) { return text.empty() ? std::string(" ") : escapeLogText(text); };
    const std::string separator(kFieldSeparator);
    return std::to_string(record.kind) + separator + field(record.field1) + separator + field(record.field2) +
           separator + field(record.field3);
}

std::string joinReportFields(int32_t kind, std::string field1, std::string field2, std::string field3) {
    ReportLineRecord record;
    record.kind = kind;
    record.field1 = std::move(field1);
    record.field2 = std::move(field2);
    record.field3 = std::move(field3);
    return joinRecordFields(record);
}
