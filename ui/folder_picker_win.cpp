#include "ui/folder_picker_win.h"

#include <shobjidl.h>

#include "platform/win_handle.h"
#include "ui/ui_text.h"

namespace {

using platform::UniqueCom;
using platform::UniqueCoTaskMemString;

// Folders only, real file-system folders only, and only ones that exist.
constexpr FILEOPENDIALOGOPTIONS kFolderOptions = FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST;

std::wstring FileSystemPath(IShellItem* item) {
    UniqueCoTaskMemString name;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name) return std::wstring();
    return std::wstring(name.get());
}

}  // namespace

std::wstring PickGameFolder(HWND owner) {
    UniqueCom<IFileDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                  reinterpret_cast<void**>(dialog.put()))) ||
        !dialog) {
        return std::wstring();
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog.get()->GetOptions(&options);  // on failure the options stay 0
    dialog.get()->SetOptions(options | kFolderOptions);
    dialog.get()->SetTitle(UiText(UiTextRow::GameFolderCaption));
    // A cancelled dialog is an ordinary outcome, not an error to report.
    if (FAILED(dialog.get()->Show(owner))) return std::wstring();
    UniqueCom<IShellItem> item;
    if (FAILED(dialog.get()->GetResult(item.put())) || !item) return std::wstring();
    return FileSystemPath(item.get());
}
