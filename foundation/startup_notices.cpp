#include "foundation/startup_notices.h"

#include <cstring>

#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/app_version.h"
#include "foundation/data_packet.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"

namespace {

std::string twoByteNumber(RecordSectionHandle section, const std::string& name, uint32_t typeCode, bool& found) {
    std::string bytes;
    found = getRecordValue(section, name, bytes, typeCode, 0) && bytes.size() >= 2;
    if (!found) return {};
    return std::to_string(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8);
}

// Reads one item with the getter of its kind; false keeps the default.
bool readNoticeItem(RecordSectionHandle section, NoticeItem& item) {
    bool found = false;
    std::string text;
    std::wstring wide;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    double number = 0;
    switch (item.valueKind) {
        case 1: found = getRecordString(section, item.name, text, 0); break;
        case 2:
            found = getRecordWString(section, item.name, wide, 0);
            text = wideToUtf8(wide);
            break;
        case 3: if ((found = getRecordInt32(section, item.name, i32))) text = std::to_string(i32); break;
        case 4: text = twoByteNumber(section, item.name, 1, found); break;
        case 5: if ((found = getRecordDouble(section, item.name, number))) text = std::to_string(number); break;
        case 6: if ((found = getRecordUInt32(section, item.name, u32))) text = std::to_string(u32); break;
        case 7: text = twoByteNumber(section, item.name, 3, found); break;
        default: break;
    }
    if (!found) return false;
    item.text = text;
    item.wideText = item.valueKind == 2 ? wide : utf8ToWide(text);
    return true;
}

const NoticeItem* findItem(const std::vector<NoticeItem>& items, std::string_view name) {
    for (const NoticeItem& item : items)
        if (item.name == name) return &item;
    return nullptr;
}

}  // namespace

std::vector<NoticeItem> defaultNoticeItems() {
    std::vector<NoticeItem> items;
    for (const auto& [name, text] : {std::pair{kNoticeBootKey, kNoticeBootText},
                                     std::pair{kNoticeVersionKey, kNoticeVersionValue},
                                     std::pair{kNoticeOlderKey, kNoticeOlderText}})
        items.push_back({std::string(name), std::string(text), utf8ToWide(text), 1});
    return items;
}

bool readNoticeItems(std::string_view descriptionText, std::vector<NoticeItem>& items) {
    items = defaultNoticeItems();
    // A document of its own: two checks never share a half-read section.
    DataRecord document;
    addRecordSection(document, "items");
    RecordSectionHandle section = getRecordSection(document, "items");
    if (!unpackDataRecord(section, descriptionText, kDataFilePassPhrase)) return true;
    for (NoticeItem& item : items) readNoticeItem(section, item);
    return true;
}

int applyNoticeItems(const std::vector<NoticeItem>& items, std::string_view runningVersion) {
    std::vector<std::wstring> lines;
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        AppSettings& s = appSettings;
        if (const NoticeItem* boot = findItem(items, kNoticeBootKey); boot && boot->text != s.lastBootMessage) {
            s.lastBootMessage = boot->text;
            if (!boot->text.empty()) lines.push_back(L"Start-Up Message: " + boot->wideText);
            changed = true;
        }
        bool versionIsNew = false;
        if (const NoticeItem* version = findItem(items, kNoticeVersionKey);
            version && version->text != s.lastAppVersion) {
            s.lastAppVersion = version->text;
            versionIsNew = changed = true;
        }
        // A new release is told even when its message text is the one of the last release.
        if (const NoticeItem* older = findItem(items, kNoticeOlderKey);
            older && (older->text != s.lastVersionMessage || versionIsNew)) {
            if (isNewerVersion(runningVersion, s.lastAppVersion) && !older->text.empty())
                lines.push_back(older->wideText);
            s.lastVersionMessage = older->text;
            changed = true;
        }
    }
    if (changed) configurationSaved = false;
    for (std::wstring& line : lines) appendAppLogEntry(std::move(line), 1, false);
    return static_cast<int>(lines.size());
}

std::string storedStartupMessage() {
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    return appSettings.lastBootMessage;
}

void logStoredStartupMessage() {
    const std::string message = storedStartupMessage();
    if (!message.empty()) appendAppLogEntry(L"Start-Up Message: " + utf8ToWide(message), 1, false);
}
