// The window's art: PNG resources decoded by GDI+, optionally scaled.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

// A decoded image with a single owner, who deletes it (that disposes of the
// native image). Art with pixels is a Gdiplus::Bitmap in premultiplied 32-bit
// ARGB, the window surface's own format.
using ResourceImage = Gdiplus::Image;

// Decodes resource `nId` (low 16 bits) of type `pszType` from `hInst` (null: the
// program's own module) completely, into premultiplied 32-bit ARGB, and, unless
// `dScale` is exactly 1.0, resizes it to trunc(width * dScale) x
// trunc(height * dScale) with a high-quality (prefiltered bicubic) filter.
// A missing or undecodable resource gives an empty image: 0 x 0, draws nothing.
// Returns null only when the image object itself cannot be allocated.
// GDI+ must be running; call on the window's thread.
ResourceImage* LoadResourceImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale);

// The GDI bitmap (a top-down premultiplied 32-bit DIB section) that shares the
// pixels of art loaded by LoadResourceImage, or null for an image without
// pixels. Owned by the image.
HBITMAP ResourceImageDib(ResourceImage* pImage);

// Puts art of the kind above 1:1 onto a surface of the same format: nWidth x
// nHeight premultiplied 32-bit pixels in top-down rows at `pSurface`, the
// art's top-left corner at (x, y). It is copied over what is there, or blended
// source-over (d = s + d * (255 - alpha) / 255, rounded). Whatever falls
// outside the surface is left out. Returns false, touching nothing, for an
// image without pixels of that kind.
enum class ArtPut { kCopy, kBlend };
bool PutArtOnSurface(ResourceImage* pImage, ArtPut put, void* pSurface, int nWidth, int nHeight, int x,
                     int y);

// An empty (fully transparent) image of the art's kind, for drawings that are
// held like art; null when it cannot be made.
ResourceImage* NewSurfaceArt(UINT nWidth, UINT nHeight);
