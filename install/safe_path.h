#pragma once
// Entry names from a patch or a journal are untrusted: this is the one test they pass before any
// file call is made with them.
#include <string>

// The test every entry name passes before anything is written for it. Refuses empty names, colons,
// NUL characters, a leading separator, and any segment that is empty, "..", a reserved Windows
// device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and the superscript digits,
// with any extension or trailing spaces), or that ends in a dot or a space (Windows would drop them
// and write another name). Accepts "." and segments made only of three or more dots.
bool IsSafeRelativePath(const std::wstring& name);
