#pragma once
// The install behind the Install button: the folder text, the install sequence (install_run.h), and
// its outcome in the status line and in message boxes. Windows only.

// Runs synchronously on the UI thread; destroys the installer window after a successful install.
void RunInstall();
