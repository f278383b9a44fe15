#pragma once
// The install behind the Install button: folder text, data-file checks, verification, extraction,
// and the outcome in the status line and in message boxes. Windows only.

// Runs synchronously on the UI thread; destroys the installer window after a successful install.
void RunInstall();
