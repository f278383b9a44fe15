#pragma once
// Resource identifiers of PatchInstaller.exe (shared with the resource script and the tests).
#define IDI_ICON1 101
// The process's own manifest: resource type 24 (RT_MANIFEST), id 1 as the loader expects for an .exe.
#define IDR_APP_MANIFEST 1
#include "install/key_slot.h"
