#include "shell/tray.h"

#include <map>
#include <mutex>

#include "platform/tray_host.h"
#include "platform/window_sdl.h"
#include "shell/bitmap.h"
#include "shell/graphics.h"

namespace {
struct TrayState {
    std::mutex mutex;
    std::string tip;
    std::map<int, TrayMenuEntry> entries;
    int lastCommand = 0;
    bool added = false;
};
TrayState g_tray;

constexpr size_t kMaxTipLength = 127;
constexpr size_t kMaxLabelLength = 2048;

void applyFlags(TrayMenuEntry& entry, unsigned flags) {
    entry.enabled = flags & kTrayEnabled;
    entry.visible = flags & kTrayVisible;
    entry.checked = flags & kTrayChecked;
}

TrayMenuLine lineOf(const TrayMenuEntry& entry) {
    TrayMenuLine line;
    line.id = entry.id;
    line.label = entry.label;
    line.enabled = entry.enabled;
    line.checked = entry.checked;
    for (const TrayMenuEntry& child : entry.children) {
        TrayMenuLine sub;
        sub.id = child.id;
        sub.label = child.label;
        sub.enabled = entry.enabled;
        sub.checked = entry.checked;
        line.children.push_back(sub);
    }
    return line;
}

TrayHostItem hostItemOf(const TrayMenuLine& line) {
    TrayHostItem item;
    item.id = line.id;
    item.label = line.label;
    item.enabled = line.enabled;
    item.checked = line.checked;
    item.separator = line.separator;
    for (const TrayMenuLine& child : line.children) item.children.push_back(hostItemOf(child));
    return item;
}

// Runs on the tray thread: a window hidden when the tray host goes would be
// out of reach, so it comes back.
void onTrayPresence(bool real) {
    if (!real) postTrayCommandEvent(kShowWindowCommand);
}

void startHost() {
    setTrayPresenceHandler(onTrayPresence);
    DecodedBitmap icon;
    decodeBitmap24(loadAppResource("IDB_TRAY_ICON"), icon);
    startTrayHost(icon.rgba, icon.width, icon.height, chooseTrayCommand, kTrayShowUI);
}
}  // namespace

void setTrayTip(const std::string& text) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    g_tray.tip = text.substr(0, kMaxTipLength);
}

std::string trayTip() {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    return g_tray.tip;
}

bool setTrayMenuItem(int id, unsigned flags, const std::string& label) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    const std::string text = label.substr(0, kMaxLabelLength);
    auto it = g_tray.entries.find(id);
    if (it == g_tray.entries.end()) {
        if (flags & kTrayAddChild) return false;
        TrayMenuEntry entry;
        entry.id = id;
        entry.label = text;
        applyFlags(entry, flags);
        g_tray.entries.emplace(id, entry);
        return true;
    }
    TrayMenuEntry& entry = it->second;
    if (flags & kTrayAddChild) {
        TrayMenuEntry child;
        child.id = id + static_cast<int>(entry.children.size());
        child.label = text;
        applyFlags(child, flags);
        entry.children.push_back(child);
        return true;
    }
    entry.label = text;
    applyFlags(entry, flags);
    return true;
}

bool setTrayStyleNames(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    auto it = g_tray.entries.find(kTrayStyles);
    if (it == g_tray.entries.end()) return false;
    auto& children = it->second.children;
    for (size_t i = 0; i < children.size() && i < names.size(); ++i)
        children[i].label = names[i].substr(0, kMaxLabelLength);
    return true;
}

TrayMenuEntry trayMenuEntry(int id) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    auto it = g_tray.entries.find(id);
    return it == g_tray.entries.end() ? TrayMenuEntry{} : it->second;
}

bool buildTrayMenu(std::vector<TrayMenuLine>& menu) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    menu.clear();
    if (g_tray.entries.empty()) return false;
    for (const auto& [id, entry] : g_tray.entries)
        if (entry.visible) menu.push_back(lineOf(entry));
    TrayMenuLine separator;
    separator.separator = true;
    menu.push_back(separator);
    return true;
}

void setupTrayMenu(bool showUI, bool startAtLogOn, const std::vector<std::string>& styleNames) {
    const unsigned shown = kTrayVisible | kTrayEnabled;
    setTrayTip("Varnholt Application");
    setTrayMenuItem(kTrayTitle, kTrayVisible | 16, "Varnholt");
    setTrayMenuItem(kTrayShowUI, shown | (showUI ? kTrayChecked : 0), "Show UI");
    setTrayMenuItem(kTrayNewNotifications, kTrayEnabled | 16, "** You Have New Notifications **");
    setTrayMenuItem(kTrayTools, kTrayEnabled | 16 | (showUI ? kTrayVisible : 0), "Tools");
    if (trayMenuEntry(kTrayTools).children.empty())
        setTrayMenuItem(kTrayTools, shown | 16 | kTrayAddChild, "WizTab");
    setTrayMenuItem(kTrayStyles, shown | 16, "UI Color Style Selector");
    if (trayMenuEntry(kTrayStyles).children.empty())
        for (const std::string& name : styleNames)
            setTrayMenuItem(kTrayStyles, shown | 16 | kTrayAddChild, name);
    setTrayMenuItem(kTrayStartAtLogOn, shown | (startAtLogOn ? kTrayChecked : 0),
                    "Start When User Logs On");
    setTrayMenuItem(kTrayAbout, shown | 16, "About");
    setTrayMenuItem(kTrayExit, shown | 16, "Exit");
}

bool startTrayIcon(bool remove) {
    if (remove) {
        stopTrayHost();
        std::lock_guard<std::mutex> guard(g_tray.mutex);
        g_tray.entries.clear();
        g_tray.added = false;
        return true;
    }
    bool first;
    {
        std::lock_guard<std::mutex> guard(g_tray.mutex);
        first = !g_tray.added;
        g_tray.added = true;
    }
    if (first) startHost();
    std::vector<TrayMenuLine> menu;
    buildTrayMenu(menu);
    std::vector<TrayHostItem> items;
    for (const TrayMenuLine& line : menu) items.push_back(hostItemOf(line));
    publishTrayHostMenu(items, trayTip());
    return true;
}

bool trayIconShown() { return trayHostIsReal(); }

bool trayIconAdded() {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    return g_tray.added;
}

void chooseTrayCommand(int command) {
    setLastTrayCommand(command);
    postTrayCommandEvent(command);
}

int lastTrayCommand() {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    return g_tray.lastCommand;
}

void setLastTrayCommand(int command) {
    std::lock_guard<std::mutex> guard(g_tray.mutex);
    g_tray.lastCommand = command;
}
