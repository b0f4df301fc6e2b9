// "Manage Triggers": one trigger's date on a month calendar, its time of day
// as "h:mm am/pm" text, its repeat type and, for weekly triggers, its
// weekdays. " Accept " writes them into the trigger and computes its next
// run; " Cancel " and the close box write nothing.
#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include "engine/backup_scheduler.h"
#include "foundation/button_table.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "windows/scheduler_window.h"

namespace {

constexpr const char* kWeekdayNames[7] = {"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa"};

// Main thread only; filled from the trigger when the editor opens.
struct TriggerEditorState {
    bool open = false;
    bool initialised = false;
    bool firstFrame = true;
    std::wstring folderKey;
    uint64_t triggerId = 0;
    int64_t workingDate = 0;
    int64_t openingDate = 0;
    int32_t year = 1970, month = 0, day = 1;  // month 0 to 11
    int32_t hour = 0, minute = 0, second = 0;
    int32_t repeatType = kRepeatNone;
    std::string timeText;
    bool weekdays[7] = {};  // 0 = Sunday
    bool days[31] = {};     // 0 = day 1
    std::string hint;       // why the last change was refused
};
TriggerEditorState g_editor;
// The weekday a weekly trigger starts with when none is chosen; kept from
// one opening to the next.
int32_t g_rememberedWeekday = 0;

struct CalendarState {
    std::string monthName;
    std::string yearText;
    std::string dayText = "0";  // 0-based day
    int32_t markedDay = -1;
};
CalendarState g_calendar;

const std::vector<std::string>& monthNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        splitString(std::string(kMonthNames), ",", list);
        return list;
    }();
    return names;
}

// The names as a combo box's zero-separated item list.
const std::string& monthComboItems() {
    static const std::string items = [] {
        std::string joined;
        for (const std::string& name : monthNames()) joined += name + '\0';
        return joined + '\0';
    }();
    return items;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The number a field begins with (blanks and a sign allowed); false when it
// begins with none or leaves the 32-bit range.
bool leadingNumber(const std::string& field, int32_t& value) {
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(field.c_str(), &end, 10);
    if (end == field.c_str() || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool localFields(int64_t ticks, std::tm& tm) {
    int64_t seconds = ticks / kTicksPerSecond;
    if (ticks % kTicksPerSecond < 0) --seconds;
    const std::time_t time = static_cast<std::time_t>(seconds);
    return localtime_r(&time, &tm) != nullptr;
}

void resetCalendar(int64_t date) {
    std::tm tm{};
    localFields(date, tm);
    g_calendar = CalendarState();
    g_calendar.monthName = monthNames().at(static_cast<size_t>(tm.tm_mon));
    g_calendar.yearText = std::to_string(tm.tm_year + 1900);
}

bool initialiseEditor() {
    ScheduleTrigger trigger;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(g_editor.folderKey);
        if (it == watchFolderMap.end()) return false;
        const auto& triggers = it->second.scheduleTriggers;
        const auto found = std::find_if(triggers.begin(), triggers.end(),
                                        [](const ScheduleTrigger& t) { return t.id == g_editor.triggerId; });
        if (found == triggers.end()) return false;
        trigger = *found;
    }
    // A date the local time cannot show (a damaged file) starts from now.
    int64_t date = trigger.activationDate;
    std::tm tm{};
    if (!localFields(date, tm)) {
        date = currentTimeTicks();
        if (!localFields(date, tm)) return false;
    }
    TriggerEditorState& e = g_editor;
    e.initialised = true;
    e.workingDate = e.openingDate = date;
    e.year = tm.tm_year + 1900, e.month = tm.tm_mon, e.day = tm.tm_mday;
    e.hour = tm.tm_hour, e.minute = tm.tm_min, e.second = tm.tm_sec;
    e.timeText = triggerTimeText(e.hour, e.minute);
    e.repeatType = trigger.repeatType;
    for (int d = 0; d < 7; ++d) e.weekdays[d] = (trigger.weekdayMask >> d) & 1;
    for (bool& flag : e.days) flag = false;
    e.days[e.day - 1] = true;
    e.hint.clear();
    resetCalendar(e.workingDate);
    return true;
}

// Applies "y:..,m:..,d:.." from the calendar to the working date, all or
// nothing; a refused change leaves the date and says why.
void applyCalendarChange(const std::string& change) {
    TriggerEditorState& e = g_editor;
    int32_t year = e.year, month = e.month, day = e.day;
    std::vector<std::string> pieces;
    splitString(lowerCase(change), ",", pieces);
    for (const std::string& piece : pieces) {
        std::vector<std::string> fields;
        splitString(piece, ":", fields);
        if (fields.size() != 2) continue;
        int32_t value = 0;
        if (fields[0] == "y") {
            if (!leadingNumber(fields[1], value)) {
                e.hint = "The year \"" + g_calendar.yearText + "\" is not a number; the date stays as it was.";
                resetCalendar(e.workingDate);
                return;
            }
            if (value >= 1900 && value <= 2999) year = value;
        } else if (fields[0] == "m") {
            const int32_t number = monthNumberFromName(fields[1]);
            if (number != -1) month = number - 1;
        } else if (fields[0] == "d" && leadingNumber(fields[1], value)) {
            day = value + 1;
        }
    }
    // The 31st in a shorter month becomes its last day rather than a day of the next.
    day = std::max(1, std::min(day, daysInMonth(year, month + 1)));
    int64_t ticks = 0;
    if (!localDateTicks(year, month, day, e.hour, e.minute, e.second, ticks)) {
        e.hint = "That date cannot be set (years 1970 to 3000); the date stays as it was.";
        resetCalendar(e.workingDate);
        return;
    }
    e.workingDate = ticks;
    e.year = year, e.month = month, e.day = day;
    e.hint.clear();
    const std::string dayText = g_calendar.dayText;
    const int32_t marked = g_calendar.markedDay;
    resetCalendar(ticks);
    g_calendar.dayText = dayText, g_calendar.markedDay = marked;
}

// What the repeat type implies for the weekday and day flags, every frame.
void applyRepeatRules() {
    TriggerEditorState& e = g_editor;
    if (e.repeatType == kRepeatWeekly) {
        const int32_t first = weekdayOfDate(e.year, e.month + 1, 1);
        if (e.weekdays[first]) g_rememberedWeekday = first;
        bool any = false;
        for (bool flag : e.weekdays) any = any || flag;
        if (!any) e.weekdays[g_rememberedWeekday] = true;
        for (int i = 0; i < 31; ++i) e.days[i] = e.weekdays[(first + i) % 7];
        e.day = 1;
        return;
    }
    for (bool& flag : e.weekdays) flag = e.repeatType == kRepeatDaily;
    // One day is marked: the chosen one.
    for (int i = 0; i < 31; ++i) e.days[i] = i == e.day - 1;
}

// Writes the edit into the trigger; false, writing nothing, when the time
// text is not a time or the date cannot be represented.
bool acceptEdit() {
    TriggerEditorState& e = g_editor;
    int32_t hour = e.hour, minute = e.minute;
    if (!readTriggerTimeText(e.timeText, hour, minute)) {
        e.hint = "\"" + e.timeText + "\" is not a time such as 7:15 pm; the trigger keeps its old values.";
        return false;
    }
    int64_t ticks = 0;
    if (!localDateTicks(e.year, e.month, e.day, hour, minute, e.second, ticks)) {
        e.hint = "That date and time cannot be set (years 1970 to 3000); the trigger keeps its old values.";
        return false;
    }
    int32_t mask = 0;
    for (int d = 0; d < 7; ++d) mask |= e.weekdays[d] ? 1 << d : 0;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(e.folderKey);
        if (it == watchFolderMap.end()) return true;
        for (ScheduleTrigger& trigger : it->second.scheduleTriggers) {
            if (trigger.id != e.triggerId) continue;
            trigger.repeatType = e.repeatType;
            trigger.weekdayMask = mask;
            trigger.activationDate = trigger.nextTrigger = ticks;
            computeNextRunTime(trigger);
        }
    }
    configurationSaved = false;
    return true;
}

// The table of the editor; 1 when " Accept " was pressed, 2 for " Cancel ".
int32_t drawEditorTable() {
    TriggerEditorState& e = g_editor;
    if (!ImGui::BeginTable("Backup Scheduler Trigger Editor", 3)) return 0;
    ImGui::TableNextRow();
    for (const char* title : {"Select", "Time:", "Recurring:"}) {
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(title);
    }
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    const std::string change = drawScheduleCalendar(e.workingDate);
    if (!change.empty()) applyCalendarChange(change);
    ImGui::TableNextColumn();
    ImGui::InputText("##time", &e.timeText, ImGuiInputTextFlags_EnterReturnsTrue);
    ImGui::TableNextColumn();
    const char* const repeatNames[] = {"No", "Daily", "Weekly", "Monthly", "Yearly"};
    for (int type = 0; type < 5; ++type) ImGui::RadioButton(repeatNames[type], &e.repeatType, type);
    applyRepeatRules();
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    ImGui::TextUnformatted("");
    ImGui::TableNextColumn();
    ImGui::TextUnformatted("");
    ImGui::TableNextColumn();
    const int32_t pressed = drawButtonRow({buttonRowItem("bkae"), buttonRowItem("bkcncl")}, true);
    ImGui::EndTable();
    return pressed == 0 ? 1 : pressed == 1 ? 2 : 0;
}

void drawWeekdayHeader() {
    ImGui::TableNextRow();
    for (int i = 0; i < 7; ++i) {
        ImGui::TableNextColumn();
        ImGui::PushID(100 + i);
        ImGui::PushStyleColor(ImGuiCol_TextSelectedBg, ImGui::GetStyleColorVec4(ImGuiCol_TableHeaderBg));
        if (ImGui::Selectable(kWeekdayNames[i], g_editor.weekdays[i])) g_editor.weekdays[i] = !g_editor.weekdays[i];
        ImGui::PopStyleColor();
        ImGui::PopID();
    }
}

// The day cells; true when a day was chosen.
bool drawDays(int32_t firstWeekday, int32_t days) {
    bool changed = false;
    ImGui::TableNextRow();
    for (int i = 0; i < firstWeekday; ++i) {
        ImGui::TableNextColumn();
        ImGui::TextUnformatted(" ");
    }
    const ImVec4 dayColour = ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled);
    for (int i = 0; i < days; ++i) {
        ImGui::TableNextColumn();
        ImGui::PushID(i);
        const std::string label = std::to_string(i + 1) + (i == g_calendar.markedDay ? "\u25CF" : "");
        ImGui::PushStyleColor(ImGuiCol_TextSelectedBg, dayColour);
        if (ImGui::Selectable(label.c_str(), g_editor.days[i])) {
            g_editor.days[i] = !g_editor.days[i];
            if (g_editor.days[i]) {
                g_calendar.dayText = std::to_string(i);
                g_calendar.markedDay = i;
                changed = true;
            }
        }
        ImGui::PopStyleColor();
        ImGui::PopID();
        if ((firstWeekday + i) % 7 == 6 && i + 1 < days) ImGui::TableNextRow();
    }
    return changed;
}

}  // namespace

void openTriggerEditor(const std::wstring& folderKey, uint64_t triggerId) {
    g_editor.open = true;
    g_editor.initialised = false;
    g_editor.firstFrame = true;
    g_editor.folderKey = folderKey;
    g_editor.triggerId = triggerId;
}

bool isTriggerEditorOpen() { return g_editor.open; }

void closeTriggerEditor() {
    g_editor.open = false;
    g_editor.initialised = false;
    g_editor.hint.clear();
}

std::string triggerEditorHint() { return g_editor.hint; }

void resetTriggerEditor() {
    g_editor = TriggerEditorState();
    g_calendar = CalendarState();
    g_rememberedWeekday = 0;
}

void drawTriggerEditorWindow() {
    if (!g_editor.open) return;
    if (!g_editor.initialised && !initialiseEditor()) {
        closeTriggerEditor();  // the trigger is gone
        return;
    }
    ImGui::SetNextWindowSizeConstraints(ImVec2(740, 250), ImVec2(FLT_MAX, FLT_MAX));
    if (g_editor.firstFrame) ImGui::SetNextWindowPos(ImVec2(40, 40));
    bool open = true;
    int32_t action = 0;
    if (ImGui::Begin("Manage Triggers", &open, ImGuiWindowFlags_NoCollapse)) {
        checkDisplayItemZOrder(kSchedulerItemId);  // over the schedule window, drawn before it
        action = drawEditorTable();
        if (!g_editor.hint.empty()) ImGui::TextUnformatted(g_editor.hint.c_str());
    }
    ImGui::End();
    g_editor.firstFrame = false;
    if (!open || action == 2 || (action == 1 && acceptEdit())) closeTriggerEditor();
}

std::string drawScheduleCalendar(int64_t date) {
    std::tm tm{};
    localFields(date, tm);
    const int32_t month = tm.tm_mon + 1;
    const int32_t year = tm.tm_year + 1900;
    const int32_t firstWeekday = weekdayOfDate(year, month, 1);
    bool changed = false;

    ImGui::PushID(100);
    ImGui::TextUnformatted("");
    ImGui::PopID();
    ImGui::SameLine();
    ImGui::SetNextItemWidth(100);
    int32_t item = month - 1;
    if (ImGui::Combo("##month", &item, monthComboItems().c_str(), 12) && item >= 0 && item < 12) {
        g_calendar.monthName = monthNames().at(static_cast<size_t>(item));
        changed = true;
    }
    ImGui::SameLine();
    ImGui::PushID(101);
    ImGui::SetNextItemWidth(40);
    if (ImGui::InputText("##year", &g_calendar.yearText, ImGuiInputTextFlags_EnterReturnsTrue)) changed = true;
    ImGui::PopID();

    if (ImGui::BeginTable("ScheduleCalendar", 7, ImGuiTableFlags_Borders)) {
        drawWeekdayHeader();
        if (drawDays(firstWeekday, daysInMonth(year, month))) changed = true;
        ImGui::EndTable();
    }
    if (!changed) return std::string();
    return "y:" + g_calendar.yearText + ",m:" + g_calendar.monthName + ",d:" + g_calendar.dayText;
}

int32_t monthNumberFromName(const std::string& text) {
    static const std::string lookup = [] {
        std::string joined;
        for (const std::string& name : monthNames()) joined += lowerCase(name.substr(0, 3));
        return joined;
    }();
    const size_t at = lookup.find(lowerCase(text.substr(0, 3)));
    if (at == std::string::npos || at % 3 != 0) return -1;
    return static_cast<int32_t>(at / 3 + 1);
}

int32_t daysInMonth(int32_t year, int32_t month) {
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 31;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string triggerTimeText(int32_t hour, int32_t minute) {
    const int32_t shown = hour > 12 ? hour - 12 : hour;
    return std::to_string(shown) + ":" + (minute < 10 ? "0" : "") + std::to_string(minute) + (hour < 12 ? " am" : " pm");
}

bool readTriggerTimeText(const std::string& text, int32_t& hour, int32_t& minute) {
    std::vector<std::string> fields;
    splitString(lowerCase(text), ":", fields);
    int32_t h = 0, m = 0;
    if (fields.size() != 2 || !leadingNumber(fields[0], h) || !leadingNumber(fields[1], m)) return false;
    if (fields[1].find("pm") != std::string::npos && h < 12) h += 12;
    // 12:30 am is half past midnight, as on any clock.
    if (fields[1].find("am") != std::string::npos && h == 12) h = 0;
    hour = h;
    minute = m;
    return true;
}

bool localDateTicks(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
                    int64_t& ticks) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1) || seconds < 0) return false;
    if (tm.tm_year + 1900 < 1970 || tm.tm_year + 1900 > 3000) return false;
    ticks = static_cast<int64_t>(seconds) * kTicksPerSecond;
    return true;
}
