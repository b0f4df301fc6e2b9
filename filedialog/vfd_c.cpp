#include "filedialog/vfd_c.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "filedialog/dialog_state.h"
#include "filedialog/file_dialog.h"
#include "platform/paths.h"

struct VFD_FileDialog {
    VFD::FileDialog dialog;
};

namespace {

std::string text(const char* value) { return value ? std::string(value) : std::string(); }

// A malloc'd copy; null for an empty text.
char* handOut(const std::string& value) {
    if (value.empty()) return nullptr;
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    if (copy) std::memcpy(copy, value.c_str(), value.size() + 1);
    return copy;
}

char* handOutAlways(const std::string& value) {
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    if (copy) std::memcpy(copy, value.c_str(), value.size() + 1);
    return copy;
}

VFD::DialogState& stateOf(VFD_FileDialog* handle) { return handle->dialog.state(); }

// A criteria stored under `flags` that takes `criteria`: containment with
// flag 32, equality otherwise.
const VFD::StyleRule* findRule(int32_t flags, const std::map<std::string, VFD::StyleRule>& rules,
                               const std::string& criteria) {
    if (flags & VFD::StyleByContainedInFullName) {
        for (const auto& [stored, rule] : rules)
            if (criteria.find(stored) != std::string::npos) return &rule;
        return nullptr;
    }
    const auto found = rules.find(criteria);
    return found == rules.end() ? nullptr : &found->second;
}

const VFD::StyleRule* lookUpStyle(const VFD::FilterManager& filters, int32_t flags, const std::string& criteria) {
    const auto exact = filters.styles.find(flags);
    if (exact != filters.styles.end()) return findRule(flags, exact->second, criteria);
    for (const auto& [stored, rules] : filters.styles) {
        if (!(stored & flags)) continue;
        if (const VFD::StyleRule* rule = findRule(stored, rules, criteria)) return rule;
    }
    return nullptr;
}

}  // namespace

extern "C" {

VFD_FileDialog_Config VFD_FileDialog_Config_Get(void) {
    VFD_FileDialog_Config config;
    config.path = "";
    config.defaultName = "";
    config.defaultFullPath = "";
    config.maxSelectionCount = 1;
    config.userData = nullptr;
    config.sidePanelCallback = nullptr;
    config.sidePanelWidth = 250.0f;
    config.flags = VFD::OptAskBeforeOverwrite | VFD::OptNoTypeColumn | VFD::OptModal;
    return config;
}

VFD_FileDialog* VFD_Create(void) { return new VFD_FileDialog(); }

void VFD_Destroy(VFD_FileDialog* dialog) { delete dialog; }

void VFD_OpenDialog(VFD_FileDialog* dialog, const char* key, const char* title, const char* filters,
                    const VFD_FileDialog_Config* config) {
    if (!dialog) return;
    const VFD_FileDialog_Config given = config ? *config : VFD_FileDialog_Config_Get();
    VFD::DialogOpenOptions options;
    options.path = text(given.path);
    options.defaultName = text(given.defaultName);
    options.defaultFullPath = text(given.defaultFullPath);
    options.maxSelectionCount = given.maxSelectionCount;
    options.userData = given.userData;
    options.flags = given.flags;
    options.sidePanelWidth = given.sidePanelWidth;
    if (given.sidePanelCallback) options.sidePanelCallback = given.sidePanelCallback;
    dialog->dialog.OpenDialog(text(key), text(title), filters, options);
}

bool VFD_DisplayDialog(VFD_FileDialog* dialog, const char* key, int32_t windowFlags, VFD_Vec2 minSize,
                       VFD_Vec2 maxSize) {
    if (!dialog) return false;
    return dialog->dialog.DisplayDialog(text(key), windowFlags, ImVec2(minSize.x, minSize.y),
                                        ImVec2(maxSize.x, maxSize.y));
}

void VFD_CloseDialog(VFD_FileDialog* dialog) {
    if (dialog) dialog->dialog.CloseDialog();
}

bool VFD_IsOk(VFD_FileDialog* dialog) { return dialog && dialog->dialog.IsOk(); }

bool VFD_WasKeyOpenedThisFrame(VFD_FileDialog* dialog, const char* key) {
    return dialog && dialog->dialog.WasOpenedThisFrame(text(key));
}

bool VFD_WasOpenedThisFrame(VFD_FileDialog* dialog) { return dialog && dialog->dialog.WasOpenedThisFrame(); }

bool VFD_IsKeyOpened(VFD_FileDialog* dialog, const char* key) {
    return dialog && dialog->dialog.IsOpened(text(key));
}

bool VFD_IsOpened(VFD_FileDialog* dialog) { return dialog && dialog->dialog.IsOpened(); }

VFD_Selection VFD_Selection_Get(void) {
    VFD_Selection selection;
    selection.table = nullptr;
    selection.count = 0;
    return selection;
}

VFD_Selection VFD_GetSelection(VFD_FileDialog* dialog, int32_t resultMode) {
    VFD_Selection selection = VFD_Selection_Get();
    if (!dialog) return selection;
    const VFD::DialogState& state = stateOf(dialog);
    // One pair per selected name: the names form a set.
    std::map<std::string, std::string> paths;
    for (const std::string& name : state.files.selectedNames) {
        const std::string adjusted = state.files.folderMode ? name : VFD::adjustFileName(state, name, resultMode);
        paths[name] = isAbsolutePath(adjusted) ? adjusted : joinPath(state.files.currentPath, adjusted);
    }
    if (paths.empty()) return selection;
    selection.table = static_cast<VFD_Selection_Pair*>(std::calloc(paths.size(), sizeof(VFD_Selection_Pair)));
    if (!selection.table) return selection;
    for (const auto& [name, path] : paths) {
        VFD_Selection_Pair& pair = selection.table[selection.count++];
        pair.defaultName = handOutAlways(name);
        pair.defaultFullPath = handOutAlways(path);
    }
    return selection;
}

void VFD_Selection_Pair_DestroyContent(VFD_Selection_Pair* pair) {
    if (!pair) return;
    std::free(pair->defaultName);
    std::free(pair->defaultFullPath);
    pair->defaultName = nullptr;
    pair->defaultFullPath = nullptr;
}

void VFD_Selection_DestroyContent(VFD_Selection* selection) {
    if (!selection) return;
    if (selection->table) {
        for (uint64_t i = 0; i < selection->count; ++i) VFD_Selection_Pair_DestroyContent(&selection->table[i]);
        std::free(selection->table);
        selection->table = nullptr;
    }
    selection->count = 0;
}

char* VFD_GetFilePathName(VFD_FileDialog* dialog, int32_t resultMode) {
    return dialog ? handOut(dialog->dialog.GetFilePathName(resultMode)) : nullptr;
}

char* VFD_GetCurrentFileName(VFD_FileDialog* dialog, int32_t resultMode) {
    return dialog ? handOut(dialog->dialog.GetCurrentFileName(resultMode)) : nullptr;
}

char* VFD_GetCurrentPath(VFD_FileDialog* dialog) {
    return dialog ? handOut(dialog->dialog.GetCurrentPath()) : nullptr;
}

char* VFD_GetCurrentFilter(VFD_FileDialog* dialog) {
    return dialog ? handOut(dialog->dialog.GetCurrentFilter()) : nullptr;
}

void* VFD_GetUserDatas(VFD_FileDialog* dialog) { return dialog ? dialog->dialog.GetUserDatas() : nullptr; }

void VFD_SetFileStyle(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, VFD_Vec4 color,
                      const char* icon, struct ImFont* font) {
    if (!dialog) return;
    auto style = std::make_shared<VFD::FileStyle>();
    style->color = ImVec4(color.x, color.y, color.z, color.w);
    style->icon = text(icon);
    style->font = font;
    VFD::storeFileStyle(stateOf(dialog).filters, styleFlags, text(criteria), std::move(style));
}

void VFD_SetFileStyle2(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, float r, float g, float b,
                       float a, const char* icon, struct ImFont* font) {
    VFD_Vec4 color;
    color.x = r;
    color.y = g;
    color.z = b;
    color.w = a;
    VFD_SetFileStyle(dialog, styleFlags, criteria, color, icon, font);
}

bool VFD_GetFileStyle(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, VFD_Vec4* outColor,
                      char** outIcon, struct ImFont** outFont) {
    if (!dialog || !outColor) return false;
    const VFD::StyleRule* rule = lookUpStyle(stateOf(dialog).filters, styleFlags, text(criteria));
    if (!rule || !rule->style) return false;
    const ImVec4& color = rule->style->color;
    outColor->x = color.x;
    outColor->y = color.y;
    outColor->z = color.z;
    outColor->w = color.w;
    if (outFont) *outFont = rule->style->font;
    if (outIcon && !rule->style->icon.empty()) *outIcon = handOut(rule->style->icon);
    return true;
}

void VFD_ClearFilesStyle(VFD_FileDialog* dialog) {
    if (dialog) stateOf(dialog).filters.styles.clear();
}

void SetLocales(VFD_FileDialog* dialog, int category, const char* beginLocale, const char* endLocale) {
    if (!dialog) return;
    VFD::DialogState& state = stateOf(dialog);
    state.switchLocale = true;
    state.localeKind = category;
    state.drawLocale = text(beginLocale);
    state.restoreLocale = text(endLocale);
}

}  // extern "C"
