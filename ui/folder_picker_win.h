#pragma once
// The shell's folder dialog, titled with the game-folder caption of the install language.
// Windows only; needs the single-threaded COM apartment that start-up opens.
#include <windows.h>

#include <string>

// The chosen folder's file-system path as the shell reports it, or an empty string when the user
// cancelled or anything failed. The dialog is modal to `owner`.
std::wstring PickGameFolder(HWND owner);
