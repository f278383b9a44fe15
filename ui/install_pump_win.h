#pragma once
// Keeps the installer window answering while the install works on the UI thread. The hashing and
// copy loops report to the process-wide work observer; at most every kInstallPumpIntervalMs the
// observer dispatches what is pending (paint, timers, the system's own messages) and drops user
// input to the installer window, so nothing the user does can start or stop anything meanwhile.
#include <windows.h>

#include "install/progress.h"

constexpr DWORD kInstallPumpIntervalMs = 100;

// From disabling the Install button until the result box: the observer is set and input dropped.
// `view` (may be null) sees every report before the pump decides whether to dispatch.
void BeginInstallPump(WorkObserver view = nullptr, void* viewContext = nullptr);
void EndInstallPump();
bool InstallPumpActive();
