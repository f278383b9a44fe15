#pragma once
// The GDI+ side of platform::Image, for the Win32 drawing code. Windows build only.
#include <windows.h>
// objidl.h must come before gdiplus.h when WIN32_LEAN_AND_MEAN is set.
#include <objidl.h>
// (kept apart so that include sorting leaves the order alone)
#include <gdiplus.h>

#include "platform/image.h"

namespace platform {

// The GDI+ image the owner holds, or null; still owned by `image`.
Gdiplus::GpImage* GdiplusImageOf(const Image& image);

}  // namespace platform
