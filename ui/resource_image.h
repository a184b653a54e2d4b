// The window's art: PNG resources decoded by GDI+, optionally scaled.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

// A decoded image with a single owner, who deletes it (that disposes of the
// native image). A resized image is a Gdiplus::Bitmap.
using ResourceImage = Gdiplus::Image;

// Decodes resource `nId` (low 16 bits) of type `pszType` from `hInst` (null: the
// program's own module) and, unless `dScale` is exactly 1.0, redraws it at
// trunc(width * dScale) x trunc(height * dScale) in its own pixel format.
// A missing or undecodable resource gives an empty image: 0 x 0, draws nothing.
// Returns null only when the image object itself cannot be allocated.
// GDI+ must be running; call on the window's thread.
ResourceImage* LoadResourceImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale);
