/* Drives the file dialog's C interface from C: null handles, a whole
 * open/display/choose/close cycle, selections and styles freed. Exits 0 when
 * every check holds; LeakSanitizer reports anything left unfreed. */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "filedialog/vfd_c.h"
#include "imgui_c_frames.h"

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

static const char* kKey = "CKey";
static const char* kChild = "Choose a Folder##CKey_";

struct Run {
    VFD_FileDialog* dialog;
    int ended;
};

static void drawDialog(void* user) {
    struct Run* run = (struct Run*)user;
    VFD_Vec2 minSize = {700.0f, 450.0f};
    VFD_Vec2 maxSize = {10000.0f, 10000.0f};
    if (!run->ended && VFD_DisplayDialog(run->dialog, kKey, 0, minSize, maxSize)) run->ended = 1;
}

static void nullHandles(void) {
    VFD_Vec2 size = {0.0f, 0.0f};
    VFD_Vec4 color = {1.0f, 0.0f, 0.0f, 1.0f};
    VFD_Selection selection = VFD_GetSelection(NULL, 0);
    char* icon = NULL;
    VFD_OpenDialog(NULL, kKey, "t", NULL, NULL);
    CHECK(!VFD_DisplayDialog(NULL, kKey, 0, size, size));
    VFD_CloseDialog(NULL);
    CHECK(!VFD_IsOk(NULL));
    CHECK(!VFD_WasKeyOpenedThisFrame(NULL, kKey));
    CHECK(!VFD_WasOpenedThisFrame(NULL));
    CHECK(!VFD_IsKeyOpened(NULL, kKey));
    CHECK(!VFD_IsOpened(NULL));
    CHECK(selection.table == NULL && selection.count == 0);
    CHECK(VFD_GetFilePathName(NULL, 0) == NULL);
    CHECK(VFD_GetCurrentFileName(NULL, 0) == NULL);
    CHECK(VFD_GetCurrentPath(NULL) == NULL);
    CHECK(VFD_GetCurrentFilter(NULL) == NULL);
    CHECK(VFD_GetUserDatas(NULL) == NULL);
    VFD_SetFileStyle(NULL, 8, ".txt", color, "T", NULL);
    VFD_SetFileStyle2(NULL, 8, ".txt", 1, 0, 0, 1, "T", NULL);
    CHECK(!VFD_GetFileStyle(NULL, 8, ".txt", &color, &icon, NULL));
    VFD_ClearFilesStyle(NULL);
    SetLocales(NULL, LC_NUMERIC, "C", "C");
    VFD_Destroy(NULL);
    VFD_Selection_Pair_DestroyContent(NULL);
    VFD_Selection_DestroyContent(NULL);
    selection.count = 3; /* a null table: only the count is reset */
    VFD_Selection_DestroyContent(&selection);
    CHECK(selection.count == 0);
}

static void fileStyles(void) {
    VFD_FileDialog* dialog = VFD_Create();
    VFD_Vec4 red = {1.0f, 0.0f, 0.0f, 1.0f};
    VFD_Vec4 out = {0, 0, 0, 0};
    char* icon = NULL;
    VFD_SetFileStyle(dialog, 32, "report", red, "R", NULL);
    VFD_SetFileStyle2(dialog, 8, ".txt", 0.0f, 1.0f, 0.0f, 1.0f, NULL, NULL);
    CHECK(VFD_GetFileStyle(dialog, 32, "report_2024.txt", &out, &icon, NULL));
    CHECK(out.x == 1.0f && icon != NULL && strcmp(icon, "R") == 0);
    free(icon);
    icon = NULL;
    CHECK(VFD_GetFileStyle(dialog, 40, ".txt", &out, &icon, NULL)); /* under 8, equal */
    CHECK(out.y == 1.0f && icon == NULL);
    CHECK(VFD_GetFileStyle(dialog, 40, "my report", &out, NULL, NULL)); /* under 32, contained */
    CHECK(!VFD_GetFileStyle(dialog, 8, ".md", &out, NULL, NULL));
    CHECK(!VFD_GetFileStyle(dialog, 32, "report", NULL, NULL, NULL));
    VFD_ClearFilesStyle(dialog);
    CHECK(!VFD_GetFileStyle(dialog, 32, "report", &out, NULL, NULL));
    VFD_Destroy(dialog);
}

static void chooseCycle(const char* root) {
    struct Run run = {VFD_Create(), 0};
    VFD_FileDialog_Config config = VFD_FileDialog_Config_Get();
    float xy[64];
    int count;
    char* text;
    char expected[4096];
    VFD_Selection selection;
    CHECK(config.flags == 521 && config.maxSelectionCount == 1 && config.sidePanelWidth == 250.0f);

    config.path = root;
    config.defaultName = NULL; /* null counts as empty */
    SetLocales(run.dialog, LC_NUMERIC, "C", "C");
    VFD_OpenDialog(run.dialog, kKey, "Choose a Folder", NULL, &config);
    CHECK(VFD_IsOpened(run.dialog) && VFD_IsKeyOpened(run.dialog, kKey) && !VFD_IsKeyOpened(run.dialog, "x"));
    headlessFrame(drawDialog, &run);
    headlessFrame(drawDialog, &run);
    CHECK(VFD_WasKeyOpenedThisFrame(run.dialog, kKey) && !VFD_WasKeyOpenedThisFrame(run.dialog, "x"));
    CHECK(VFD_GetFilePathName(run.dialog, 0) == NULL); /* a folder chooser has no file */

    /* Rows span the list: the one before the name field is "sub". */
    count = headlessItemsDown(drawDialog, &run, kChild, 20.0f, xy, 32);
    CHECK(count >= 5);
    if (count >= 5) {
        float field[2];
        CHECK(headlessFindItem(drawDialog, &run, kChild, "##FileName", 20.0f, field));
        for (int i = 1; i < count; ++i) {
            if (xy[2 * i + 1] >= field[1] - 4.0f) {
                headlessClick(drawDialog, &run, xy[2 * (i - 1)], xy[2 * (i - 1) + 1]);
                break;
            }
        }
    }
    selection = VFD_GetSelection(run.dialog, 0);
    CHECK(selection.count == 1);
    snprintf(expected, sizeof expected, "%s/sub", root);
    if (selection.count == 1) {
        CHECK(strcmp(selection.table[0].defaultName, "sub") == 0);
        CHECK(strcmp(selection.table[0].defaultFullPath, expected) == 0);
    }
    VFD_Selection_DestroyContent(&selection);
    CHECK(selection.table == NULL && selection.count == 0);

    /* OK returns the selected folder. */
    CHECK(headlessFindItem(drawDialog, &run, kChild, "OK##validationdialog", 690.0f, xy));
    headlessClick(drawDialog, &run, xy[0], xy[1]);
    CHECK(run.ended && VFD_IsOk(run.dialog));
    text = VFD_GetCurrentPath(run.dialog);
    CHECK(text != NULL && strcmp(text, expected) == 0);
    free(text);
    CHECK(VFD_GetCurrentFilter(run.dialog) == NULL);
    VFD_CloseDialog(run.dialog);
    CHECK(!VFD_IsOpened(run.dialog));

    /* Reopened: Cancel ends without a result. Null configuration: defaults. */
    run.ended = 0;
    VFD_OpenDialog(run.dialog, kKey, "Choose a Folder", NULL, NULL);
    headlessFrame(drawDialog, &run);
    headlessFrame(drawDialog, &run);
    CHECK(headlessFindItem(drawDialog, &run, kChild, "Cancel##validationdialog", 690.0f, xy) ||
          headlessFindItem(drawDialog, &run, kChild, "Cancel##validationdialog", 640.0f, xy));
    headlessClick(drawDialog, &run, xy[0], xy[1]);
    CHECK(run.ended && !VFD_IsOk(run.dialog));
    VFD_CloseDialog(run.dialog);
    VFD_Destroy(run.dialog);
}

int main(void) {
    char root[] = "/tmp/vfd-c-XXXXXX";
    char sub[64];
    if (!mkdtemp(root)) return 2;
    snprintf(sub, sizeof sub, "%s/sub", root);
    if (mkdir(sub, 0755) != 0) return 2;

    headlessCreate();
    nullHandles();
    fileStyles();
    chooseCycle(root);
    headlessDestroy();

    rmdir(sub);
    rmdir(root);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
