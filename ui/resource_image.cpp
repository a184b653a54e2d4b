#include "ui/resource_image.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

// Owns the global memory block that an image's stream reads from. Listed as a
// base before Gdiplus::Image, it is destroyed after the image has been disposed
// of, so the block outlives every read GDI+ may make from the stream: GDI+ may
// decode lazily and keeps the stream for as long as the image exists.
class GlobalBlockOwner {
 protected:
  explicit GlobalBlockOwner(HGLOBAL hBlock) : m_hBlock(hBlock) {}
  ~GlobalBlockOwner() {
    if (m_hBlock) GlobalFree(m_hBlock);
  }
  GlobalBlockOwner(const GlobalBlockOwner&) = delete;
  GlobalBlockOwner& operator=(const GlobalBlockOwner&) = delete;

 private:
  HGLOBAL m_hBlock;
};

// An image decoded from a stream over a block it owns.
class BlockImage : private GlobalBlockOwner, public Gdiplus::Image {
 public:
  BlockImage(HGLOBAL hBlock, IStream* pStream) : GlobalBlockOwner(hBlock), Gdiplus::Image(pStream, FALSE) {}
};

// GDI+ objects come from GdipAlloc, which reports a shortage with null rather
// than an exception; construct only when the memory is there.
template <class T, class... Args>
T* NewGdiplusObject(Args&&... args) {
  void* p = T::operator new(sizeof(T));
  if (!p) return nullptr;
  return ::new (p) T(std::forward<Args>(args)...);
}

// An image without pixels: 0 x 0, and drawing it draws nothing.
Gdiplus::Image* NewEmptyImage() {
  return NewGdiplusObject<Gdiplus::Image>(static_cast<IStream*>(nullptr), FALSE);
}

Gdiplus::Image* DecodeResource(HINSTANCE hInst, UINT nId, LPCWSTR pszType) {
  HRSRC hRes = pszType ? FindResourceW(hInst, MAKEINTRESOURCEW(nId & 0xFFFF), pszType) : nullptr;
  const DWORD dwSize = hRes ? SizeofResource(hInst, hRes) : 0;
  HGLOBAL hLoaded = hRes ? LoadResource(hInst, hRes) : nullptr;
  const void* pData = hLoaded ? LockResource(hLoaded) : nullptr;
  if (!pData || dwSize == 0) return NewEmptyImage();

  HGLOBAL hBlock = GlobalAlloc(GMEM_FIXED, dwSize);
  if (!hBlock) return NewEmptyImage();
  std::memcpy(GlobalLock(hBlock), pData, dwSize);
  GlobalUnlock(hBlock);

  IStream* pStream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(hBlock, FALSE, &pStream)) || !pStream) {
    GlobalFree(hBlock);
    return NewEmptyImage();
  }
  Gdiplus::Image* pImage = NewGdiplusObject<BlockImage>(hBlock, pStream);
  // The image holds its own reference to the stream for as long as it needs it.
  pStream->Release();
  if (!pImage) GlobalFree(hBlock);
  return pImage;
}

// trunc(side * scale), or 0 where that is not a usable bitmap side.
INT ScaledSide(UINT side, double dScale) {
  const double v = side * dScale;
  if (!(v >= 1.0) || v >= 2147483648.0) return 0;  // also catches NaN
  return static_cast<INT>(v);
}

Gdiplus::Bitmap* Resize(Gdiplus::Image* pSource, double dScale) {
  const INT nWidth = ScaledSide(pSource->GetWidth(), dScale);
  const INT nHeight = ScaledSide(pSource->GetHeight(), dScale);
  Gdiplus::PixelFormat format = pSource->GetPixelFormat();
  // GDI+ cannot draw into a palette bitmap; such art is resized to 32-bit ARGB.
  if (Gdiplus::IsIndexedPixelFormat(format)) format = PixelFormat32bppARGB;

  Gdiplus::Bitmap* pBitmap = NewGdiplusObject<Gdiplus::Bitmap>(nWidth, nHeight, format);
  if (pBitmap) {
    Gdiplus::Graphics graphics(pBitmap);
    graphics.DrawImage(pSource, 0, 0, nWidth, nHeight);
  }
  delete pSource;
  return pBitmap;
}

}  // namespace

ResourceImage* LoadResourceImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale) {
  if (!hInst) hInst = GetModuleHandleW(nullptr);
  Gdiplus::Image* pImage = DecodeResource(hInst, nId, pszType);
  if (!pImage || dScale == 1.0) return pImage;
  return Resize(pImage, dScale);
}
