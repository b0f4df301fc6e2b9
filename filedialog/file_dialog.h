#pragma once
// The program's own folder and file chooser, drawn with Dear ImGui inside the
// frame loop. One process-wide instance (Shared()) serves every caller:
//
//   VFD::DialogOpenOptions options;
//   options.flags = VFD::OptModal;
//   VFD::FileDialog::Shared().OpenDialog("ChooseDirDlgKey", "Choose a Folder", nullptr, options);
//   ... every frame:
//   if (VFD::FileDialog::Shared().DisplayDialog("ChooseDirDlgKey")) {
//       if (VFD::FileDialog::Shared().IsOk()) use(VFD::FileDialog::Shared().GetCurrentPath());
//       VFD::FileDialog::Shared().CloseDialog();
//   }
//
// Null filters make a folder chooser. Paths are UTF-8 byte strings as they
// stand on disk. UI thread only; the instance is not locked.
#include <imgui.h>

#include <cfloat>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace VFD {

// Configuration flags (bit values).
enum DialogFlags : int32_t {
    OptNone = 0,
    OptAskBeforeOverwrite = 1,    // after OK, ask before returning a file that exists
    OptNoDotEntries = 2,          // names beginning with "." are not listed (".." stays)
    OptNoNewFolder = 4,           // no "Create Directory" button
    OptNoTypeColumn = 8,          // the "Type" column starts hidden
    OptNoSizeColumn = 16,         // the "Size" column starts hidden
    OptNoDateColumn = 32,         // the "Date" column starts hidden
    OptEmbedded = 64,             // drawn into the caller's window
    OptFixedFileName = 128,       // the file-name field is read-only
    OptIgnoreExtensionCase = 256, // filters compare extensions without case
    OptModal = 512,               // the dialog is a modal popup
    OptNoPathPopup = 4096,        // no popup of sibling folders
};

struct FileInfos;
struct DialogState;

// Draws a pane right of the file list: the selected filter's text, the
// caller's user data and the dialog's "may continue" flag (clear it to hide OK).
using SidePanelCallback = std::function<void(const char* filter, void* userData, bool* mayContinue)>;
// Called for each entry about to be listed; false leaves it out.
using EntryAttributesCallback = std::function<bool(FileInfos& entry, void* userData)>;

struct DialogOpenOptions {
    std::string path;             // start folder; empty: where the last use ended
    std::string defaultName;      // text put into the file-name field
    std::string defaultFullPath;  // split into folder and name, in place of the two above
    int32_t maxSelectionCount = 1;  // 0: no limit
    void* userData = nullptr;
    int32_t flags = OptNone;
    SidePanelCallback sidePanelCallback;
    float sidePanelWidth = 250.0f;
    EntryAttributesCallback entryAttributes;
};

// The feature bases carry nothing in this build: no bookmarks, no
// exploration by keys, no thumbnails.
class BookMarkFeature {};
class KeyExplorerFeature {};
class ThumbnailFeature {};

class FileDialog : public BookMarkFeature, public KeyExplorerFeature, public ThumbnailFeature {
public:
    // The process-wide dialog, made on first use.
    static FileDialog& Shared();

    FileDialog();
    virtual ~FileDialog();
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;

    // Opens the dialog under `key` unless it is already shown. Null `filters`
    // makes a folder chooser.
    virtual void OpenDialog(const std::string& key, const std::string& title, const char* filters,
                            const DialogOpenOptions& config = DialogOpenOptions());

    // Draws the dialog once per frame; true in the frame in which it ended
    // (OK or Cancel). Another key, or a second call in one frame, draws nothing.
    bool DisplayDialog(const std::string& key, ImGuiWindowFlags windowFlags = ImGuiWindowFlags_NoCollapse,
                       ImVec2 minSize = ImVec2(0, 0), ImVec2 maxSize = ImVec2(FLT_MAX, FLT_MAX));

    bool IsOk() const;       // true after OK, false after Cancel
    void CloseDialog();      // call after reading the result
    bool IsOpened() const;   // shown under any key
    bool IsOpened(const std::string& key) const;
    bool WasOpenedThisFrame() const;
    bool WasOpenedThisFrame(const std::string& key) const;

    // The chosen folder: an absolute, normalised path of an existing folder
    // in folder-chooser mode.
    std::string GetCurrentPath() const;
    // The chosen file's full path (empty in folder-chooser mode). Result
    // mode 0 adds the filter's extension where the name has none.
    std::string GetFilePathName(int resultMode = 0) const;
    // The resulting file name alone (empty in folder-chooser mode).
    std::string GetCurrentFileName(int resultMode = 0) const;
    // The selected filter's text.
    std::string GetCurrentFilter() const;
    void* GetUserDatas() const;

    // The model behind the dialog, for the C interface and the tests.
    DialogState& state() { return *state_; }
    const DialogState& state() const { return *state_; }

protected:
    virtual void DrawTopBar();
    virtual void DrawDialogBody();
    virtual bool DrawBottomBar();
    virtual void DrawSiblingFoldersPopup(ImVec2 size);
    virtual bool DrawAnswerButtons();
    virtual bool DrawAcceptButton();
    virtual bool DrawDismissButton();
    virtual void DrawSidePanel(float height);
    virtual void DrawEntryRow(int index, const std::shared_ptr<FileInfos>& entry, bool selected, const char* format);
    virtual void DrawEntryTable(ImVec2 size);

private:
    bool overwriteStep(bool res);
    void startListing();
    void handlePathEditionKeys();
    void drawComposer();
    void drawSearchBar();
    void enterSiblingFolder(const FileInfos& entry);
    std::unique_ptr<DialogState> state_;
};

}  // namespace VFD
