#include "ui/resource_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace {

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

// Owns the DIB section that holds an art's pixels. Listed as a base before
// Gdiplus::Bitmap, it is created first and destroyed last, so the bitmap's
// pixels outlive the bitmap.
class DibOwner {
 protected:
  DibOwner(INT nWidth, INT nHeight) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = -nHeight;  // top-down, as GDI+ keeps its rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    m_hDib = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &m_pBits, nullptr, 0);
    if (!m_hDib) m_pBits = nullptr;
  }
  ~DibOwner() {
    if (m_hDib) DeleteObject(m_hDib);
  }
  DibOwner(const DibOwner&) = delete;
  DibOwner& operator=(const DibOwner&) = delete;

  HBITMAP m_hDib = nullptr;
  void* m_pBits = nullptr;
};

// Art with pixels: premultiplied 32-bit ARGB in a DIB section, a GDI+ bitmap
// and a GDI bitmap over the same pixels.
class SurfaceArt : private DibOwner, public Gdiplus::Bitmap {
 public:
  SurfaceArt(INT nWidth, INT nHeight)
      : DibOwner(nWidth, nHeight),
        Gdiplus::Bitmap(nWidth, nHeight, nWidth * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(m_pBits)) {}
  bool IsUsable() { return m_pBits && GetLastStatus() == Gdiplus::Ok; }
  HBITMAP Dib() const { return m_hDib; }
  void* Bits() const { return m_pBits; }
};

// The whole of `source` as surface art, so no composition converts it again;
// null when the source has no pixels or the copy cannot be made.
SurfaceArt* PremultipliedCopy(Gdiplus::Bitmap& source) {
  const INT nWidth = static_cast<INT>(source.GetWidth());
  const INT nHeight = static_cast<INT>(source.GetHeight());
  if (nWidth <= 0 || nHeight <= 0) return nullptr;
  SurfaceArt* pArt = NewGdiplusObject<SurfaceArt>(nWidth, nHeight);
  if (!pArt) return nullptr;
  Gdiplus::BitmapData rows{};
  rows.Width = static_cast<UINT>(nWidth);
  rows.Height = static_cast<UINT>(nHeight);
  rows.Stride = nWidth * 4;
  rows.PixelFormat = PixelFormat32bppPARGB;
  rows.Scan0 = pArt->Bits();
  Gdiplus::Rect whole(0, 0, nWidth, nHeight);
  // GDI+ converts the decoded pixels straight into the art's own.
  if (!pArt->IsUsable() ||
      source.LockBits(&whole, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                      PixelFormat32bppPARGB, &rows) != Gdiplus::Ok) {
    delete pArt;
    return nullptr;
  }
  source.UnlockBits(&rows);
  return pArt;
}

// Decodes the resource completely, so neither the copy of its bytes nor the
// stream over them outlives this call.
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

  Gdiplus::Image* pImage = nullptr;
  IStream* pStream = nullptr;
  if (SUCCEEDED(CreateStreamOnHGlobal(hBlock, FALSE, &pStream)) && pStream) {
    Gdiplus::Bitmap decoded(pStream, FALSE);
    if (decoded.GetLastStatus() == Gdiplus::Ok) pImage = PremultipliedCopy(decoded);
    pStream->Release();
  }
  GlobalFree(hBlock);
  return pImage ? pImage : NewEmptyImage();
}

// trunc(side * scale), or 0 where that is not a usable bitmap side.
INT ScaledSide(UINT side, double dScale) {
  const double v = side * dScale;
  if (!(v >= 1.0) || v >= 2147483648.0) return 0;  // also catches NaN
  return static_cast<INT>(v);
}

// Reduction by a whole factor n (1/2 for the small screen): each pixel is the
// mean of the n x n premultiplied pixels it stands for, the prefiltered result
// a high-quality filter gives there. (Not every GDI+ has that filter; Wine's
// samples one pixel in n.) Rows and columns beyond the last whole block are
// dropped, as the sizes truncate.
bool ReduceByWholeFactor(SurfaceArt& source, SurfaceArt& target, UINT n) {
  const UINT sw = source.GetWidth(), tw = target.GetWidth(), th = target.GetHeight();
  if (n < 2 || tw * n > sw || th * n > source.GetHeight()) return false;
  const auto* pSource = static_cast<const uint32_t*>(source.Bits());
  auto* pTarget = static_cast<uint32_t*>(target.Bits());
  const uint32_t nArea = n * n;
  for (UINT y = 0; y < th; ++y) {
    for (UINT x = 0; x < tw; ++x) {
      uint32_t sum[4] = {0, 0, 0, 0};
      for (UINT dy = 0; dy < n; ++dy) {
        const uint32_t* pRow = pSource + static_cast<size_t>(y * n + dy) * sw + x * n;
        for (UINT dx = 0; dx < n; ++dx)
          for (int c = 0; c < 4; ++c) sum[c] += (pRow[dx] >> (8 * c)) & 0xFF;
      }
      uint32_t pixel = 0;
      for (int c = 0; c < 4; ++c) pixel |= ((sum[c] + nArea / 2) / nArea) << (8 * c);
      pTarget[static_cast<size_t>(y) * tw + x] = pixel;
    }
  }
  return true;
}

// Any other scale: GDI+'s high-quality filter (bicubic with prefiltering),
// sampled at pixel centres, with the edges mirrored so the art's border is not
// faded against nothing.
void ResizeWithGdiplus(Gdiplus::Image& source, SurfaceArt& target) {
  Gdiplus::Graphics graphics(&target);
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
  Gdiplus::ImageAttributes attributes;
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  graphics.DrawImage(
      &source, Gdiplus::Rect(0, 0, static_cast<INT>(target.GetWidth()), static_cast<INT>(target.GetHeight())),
      0, 0, static_cast<INT>(source.GetWidth()), static_cast<INT>(source.GetHeight()), Gdiplus::UnitPixel,
      &attributes);
}

Gdiplus::Image* Resize(Gdiplus::Image* pSource, double dScale) {
  const INT nWidth = ScaledSide(pSource->GetWidth(), dScale);
  const INT nHeight = ScaledSide(pSource->GetHeight(), dScale);
  Gdiplus::Image* pResult = nullptr;
  if (nWidth > 0 && nHeight > 0) {
    SurfaceArt* pArt = NewGdiplusObject<SurfaceArt>(nWidth, nHeight);
    if (pArt && pArt->IsUsable()) {
      const double dFactor = 1.0 / dScale;
      const UINT nFactor = static_cast<UINT>(dFactor);
      auto* pSurfaceSource = dynamic_cast<SurfaceArt*>(pSource);
      if (!(pSurfaceSource && nFactor == dFactor && ReduceByWholeFactor(*pSurfaceSource, *pArt, nFactor)))
        ResizeWithGdiplus(*pSource, *pArt);
      pResult = pArt;
    } else {
      delete pArt;
    }
  }
  delete pSource;
  return pResult ? pResult : NewEmptyImage();
}

// Source over for one premultiplied pixel. Most art is opaque or clear, so
// those pixels cost a test; the rest are blended per channel, clamped should
// the art's colour exceed its alpha.
inline uint32_t Over(uint32_t s, uint32_t d) {
  const uint32_t a = s >> 24;
  if (a == 255) return s;
  if (s == 0) return d;
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t c = ((s >> shift) & 0xFF) + (((d >> shift) & 0xFF) * (255 - a) + 127) / 255;
    result |= (c < 255 ? c : 255) << shift;
  }
  return result;
}

}  // namespace

bool PutArtOnSurface(ResourceImage* pImage, ArtPut put, void* pSurface, int nWidth, int nHeight, int x,
                     int y) {
  auto* pArt = dynamic_cast<SurfaceArt*>(pImage);
  if (!pArt || !pSurface) return false;
  const int nArtWidth = static_cast<int>(pArt->GetWidth()), nArtHeight = static_cast<int>(pArt->GetHeight());
  // The part of the art that lands on the surface, in the art's coordinates;
  // in 64 bits so no placement overflows.
  const long long left = std::max(0LL, -static_cast<long long>(x));
  const long long top = std::max(0LL, -static_cast<long long>(y));
  const long long right = std::min<long long>(nArtWidth, static_cast<long long>(nWidth) - x);
  const long long bottom = std::min<long long>(nArtHeight, static_cast<long long>(nHeight) - y);
  if (left >= right || top >= bottom) return true;
  const auto* pSource = static_cast<const uint32_t*>(pArt->Bits());
  auto* pTarget = static_cast<uint32_t*>(pSurface);
  const size_t nSpan = static_cast<size_t>(right - left);
  for (long long row = top; row < bottom; ++row) {
    const uint32_t* s = pSource + static_cast<size_t>(row) * nArtWidth + left;
    uint32_t* d = pTarget + static_cast<size_t>(row + y) * nWidth + static_cast<size_t>(left + x);
    if (put == ArtPut::kCopy) {
      std::memcpy(d, s, nSpan * 4);
    } else {
      for (size_t i = 0; i < nSpan; ++i) d[i] = Over(s[i], d[i]);
    }
  }
  return true;
}

ResourceImage* NewSurfaceArt(UINT nWidth, UINT nHeight) {
  if (nWidth == 0 || nHeight == 0 || nWidth > 32767 || nHeight > 32767) return nullptr;
  SurfaceArt* pArt = NewGdiplusObject<SurfaceArt>(static_cast<INT>(nWidth), static_cast<INT>(nHeight));
  if (pArt && !pArt->IsUsable()) {
    delete pArt;
    pArt = nullptr;
  }
  return pArt;
}

HBITMAP ResourceImageDib(ResourceImage* pImage) {
  auto* pArt = dynamic_cast<SurfaceArt*>(pImage);
  return pArt ? pArt->Dib() : nullptr;
}

ResourceImage* LoadResourceImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale) {
  if (!hInst) hInst = GetModuleHandleW(nullptr);
  Gdiplus::Image* pImage = DecodeResource(hInst, nId, pszType);
  if (!pImage || dScale == 1.0) return pImage;
  return Resize(pImage, dScale);
}
