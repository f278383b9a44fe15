#pragma once
// Resource identifiers of PatchInstaller.exe (shared with the resource script and the tests).
#define IDI_ICON1 101
#include "install/key_slot.h"
