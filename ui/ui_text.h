#pragma once
// Every text of the installer window and its message boxes, in the five install languages, and
// the rules that pick the window title and the greeting from the manifest.
#include <string>

#include "common/install_language.h"

enum class UiTextRow {
    InstallerTitle = 0,
    MessageCaption = 1,
    GameFolderCaption = 2,
    BrowseCaption = 3,
    InstallCaption = 4,
    CancelCaption = 5,
    StatusChooseFolder = 6,
    StatusInstalling = 7,
    StatusVerifying = 8,
    StatusExtracting = 9,
    StatusInstalled = 10,
    StatusCaption = 11,
    InstallNote = 12,
    ErrorNoFolder = 13,
    ErrorWrongFolder = 14,
    ErrorNoPayload = 15,
    ErrorInstall = 16,
    // Second line of a failure box, followed by the install log's path.
    InstallLogNote = 17,
    ErrorDamagedPatch = 18,  // a stamped installer's data files are not the publisher's
    ErrorFolderBusy = 19,    // another installer holds the game folder
    ErrorNotRestored = 20,   // a failed install could not be undone; the next run finishes the undo
    ErrorOldVersion = 21,    // a game file is not the version the patch updates; its name follows
};
constexpr int kUiTextRowCount = 22;

// The cell of `row` in `language` (0..4): a constant string that lives for the whole process.
const wchar_t* UiText(UiTextRow row, int language);
// The cell of `row` in the install language.
const wchar_t* UiText(UiTextRow row);

// The manifest's WindowTitle, else InstallerTitle in the install language. Also every box's caption.
std::wstring WindowTitleText();

// Greeting.<code>, else Greeting, else Greeting.zh-TW (which may be empty).
std::wstring GreetingText();
