/* C interface of the program's file dialog: plain functions over an opaque
 * dialog handle. Every function accepts a null handle and then does nothing
 * and returns 0, false or null. Strings handed out are allocated with malloc
 * and belong to the caller (free them with free); strings handed in are
 * copied, and a null string counts as an empty one. */
#ifndef VARNHOLT_FILEDIALOG_VFD_C_H
#define VARNHOLT_FILEDIALOG_VFD_C_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct ImFont;
typedef struct VFD_FileDialog VFD_FileDialog;

typedef struct VFD_Vec2 {
    float x, y;
} VFD_Vec2;

typedef struct VFD_Vec4 {
    float x, y, z, w;
} VFD_Vec4;

typedef void (*VFD_SidePanelCallback)(const char* filter, void* userData, bool* mayContinue);

typedef struct VFD_FileDialog_Config {
    const char* path;
    const char* defaultName;
    const char* defaultFullPath;
    int32_t maxSelectionCount;
    void* userData;
    VFD_SidePanelCallback sidePanelCallback;
    float sidePanelWidth;
    int32_t flags;
} VFD_FileDialog_Config;

typedef struct VFD_Selection_Pair {
    char* defaultName;      /* the selected name */
    char* defaultFullPath;  /* its full path */
} VFD_Selection_Pair;

typedef struct VFD_Selection {
    VFD_Selection_Pair* table;
    uint64_t count;
} VFD_Selection;

VFD_FileDialog_Config VFD_FileDialog_Config_Get(void);
VFD_FileDialog* VFD_Create(void);
void VFD_Destroy(VFD_FileDialog* dialog);

void VFD_OpenDialog(VFD_FileDialog* dialog, const char* key, const char* title, const char* filters,
                    const VFD_FileDialog_Config* config);
bool VFD_DisplayDialog(VFD_FileDialog* dialog, const char* key, int32_t windowFlags, VFD_Vec2 minSize,
                       VFD_Vec2 maxSize);
void VFD_CloseDialog(VFD_FileDialog* dialog);
bool VFD_IsOk(VFD_FileDialog* dialog);
bool VFD_WasKeyOpenedThisFrame(VFD_FileDialog* dialog, const char* key);
bool VFD_WasOpenedThisFrame(VFD_FileDialog* dialog);
bool VFD_IsKeyOpened(VFD_FileDialog* dialog, const char* key);
bool VFD_IsOpened(VFD_FileDialog* dialog);

VFD_Selection VFD_Selection_Get(void);
VFD_Selection VFD_GetSelection(VFD_FileDialog* dialog, int32_t resultMode);
void VFD_Selection_Pair_DestroyContent(VFD_Selection_Pair* pair);
void VFD_Selection_DestroyContent(VFD_Selection* selection);

char* VFD_GetFilePathName(VFD_FileDialog* dialog, int32_t resultMode);
char* VFD_GetCurrentFileName(VFD_FileDialog* dialog, int32_t resultMode);
char* VFD_GetCurrentPath(VFD_FileDialog* dialog);
char* VFD_GetCurrentFilter(VFD_FileDialog* dialog);
void* VFD_GetUserDatas(VFD_FileDialog* dialog);

void VFD_SetFileStyle(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, VFD_Vec4 color,
                      const char* icon, struct ImFont* font);
void VFD_SetFileStyle2(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, float r, float g, float b,
                       float a, const char* icon, struct ImFont* font);
bool VFD_GetFileStyle(VFD_FileDialog* dialog, int32_t styleFlags, const char* criteria, VFD_Vec4* outColor,
                      char** outIcon, struct ImFont** outFont);
void VFD_ClearFilesStyle(VFD_FileDialog* dialog);

/* The dialog draws under the locale `beginLocale` of `category` (a C locale
 * category); only the drawing thread's locale changes. */
void SetLocales(VFD_FileDialog* dialog, int category, const char* beginLocale, const char* endLocale);

#ifdef __cplusplus
}
#endif

#endif
