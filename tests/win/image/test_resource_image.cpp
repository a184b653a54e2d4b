// The art loader against the shipped art, decoded and resized by (Wine's) GDI+.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ui/resource_image.h"

namespace {

using Gdiplus::ARGB;

struct ImageDeleter {
  void operator()(ResourceImage* p) const { delete p; }
};
using ImagePtr = std::unique_ptr<ResourceImage, ImageDeleter>;

ImagePtr Load(UINT id, double scale, HINSTANCE hInst = nullptr, LPCWSTR type = L"IMG") {
  return ImagePtr(LoadResourceImage(id, type, hInst, scale));
}

BYTE Alpha(ARGB c) {
  return static_cast<BYTE>(c >> 24);
}

// The image's pixels, copied 1:1 into a 32-bit ARGB bitmap.
class Pixels {
 public:
  explicit Pixels(ResourceImage* image)
      : m_bitmap(static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()),
                 PixelFormat32bppARGB) {
    Gdiplus::Graphics g(&m_bitmap);
    g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.DrawImage(image, 0, 0, static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()));
  }
  ARGB At(INT x, INT y) {
    Gdiplus::Color c;
    m_bitmap.GetPixel(x, y, &c);
    return c.GetValue();
  }

 private:
  Gdiplus::Bitmap m_bitmap;
};

// A bitmap filled with one colour, to show whether drawing changed anything.
struct Canvas {
  static constexpr ARGB kFill = 0xFF336699;
  Gdiplus::Bitmap bitmap{8, 8, PixelFormat32bppARGB};
  Canvas() {
    Gdiplus::Graphics g(&bitmap);
    g.Clear(Gdiplus::Color(kFill));
  }
  void Draw(ResourceImage* image) {
    Gdiplus::Graphics g(&bitmap);
    g.DrawImage(image, 0, 0, 8, 8);
    g.DrawImage(image, 2, 2);
  }
  bool Untouched() {
    for (INT y = 0; y < 8; ++y)
      for (INT x = 0; x < 8; ++x) {
        Gdiplus::Color c;
        bitmap.GetPixel(x, y, &c);
        if (c.GetValue() != kFill) return false;
      }
    return true;
  }
};

TEST(LoadResourceImage, SizesFollowTheScaleTruncated) {
  const struct {
    UINT id;
    double scale;
    UINT width, height;
  } cases[] = {
      {129, 1.0, 1560, 1240}, {129, 0.5, 780, 620}, {136, 1.0, 48, 43},
      {136, 0.5, 24, 21},     {141, 1.0, 132, 132}, {141, 0.5, 66, 66},
      {130, 0.5, 38, 38},     {134, 0.5, 15, 15},   {135, 0.5, 724, 284},
      {137, 0.5, 184, 38},    {150, 0.5, 254, 38},  {129, 0.25, 390, 310},
      {136, 0.1, 4, 4},       {136, 2.0, 96, 86},   {0x10000 | 129, 1.0, 1560, 1240},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << c.id << " at " << c.scale);
    ImagePtr image = Load(c.id, c.scale);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetWidth(), c.width);
    EXPECT_EQ(image->GetHeight(), c.height);
    EXPECT_EQ(image->GetPixelFormat(), PixelFormat32bppPARGB) << "the window surface's own format";
    EXPECT_NE(dynamic_cast<Gdiplus::Bitmap*>(image.get()), nullptr);
    EXPECT_NE(ResourceImageDib(image.get()), nullptr) << "with a GDI bitmap over the same pixels";
  }
}

TEST(LoadResourceImage, TransparencySurvivesResizing) {
  for (double scale : {1.0, 0.5}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    ImagePtr background = Load(129, scale);
    ASSERT_EQ(background->GetWidth(), UINT(1560 * scale));
    Pixels bg(background.get());
    const INT w = background->GetWidth(), h = background->GetHeight();
    EXPECT_EQ(Alpha(bg.At(0, 0)), 0);
    EXPECT_EQ(Alpha(bg.At(w - 1, 0)), 0);
    EXPECT_EQ(Alpha(bg.At(0, h - 1)), 0);
    EXPECT_EQ(Alpha(bg.At(w - 1, h - 1)), 0);
    EXPECT_EQ(bg.At(w / 2, h / 2), 0xFFFFFFFFu) << "the card is opaque white";

    for (UINT id = 141; id <= 148; ++id) {
      ImagePtr frame = Load(id, scale);
      Pixels px(frame.get());
      const INT fw = frame->GetWidth(), fh = frame->GetHeight();
      EXPECT_EQ(Alpha(px.At(0, 0)), 0) << "spinner " << id;
      EXPECT_EQ(Alpha(px.At(fw - 1, fh - 1)), 0) << "spinner " << id;
      EXPECT_EQ(Alpha(px.At(fw / 2, fh / 2)), 0) << "spinner " << id << " is a ring";
    }

    ImagePtr button = Load(137, scale);
    Pixels btn(button.get());
    EXPECT_EQ(Alpha(btn.At(0, 0)), 0);
    const ARGB centre = btn.At(button->GetWidth() / 2, button->GetHeight() / 2);
    EXPECT_EQ(Alpha(centre), 0xFF);
    EXPECT_NEAR((centre >> 16) & 0xFF, 18, 3);
    EXPECT_NEAR((centre >> 8) & 0xFF, 104, 3);
    EXPECT_NEAR(centre & 0xFF, 202, 3);
  }
}

// The premultiplied pixels of an image, as GDI+ hands them out.
std::vector<ARGB> PremultipliedPixels(ResourceImage* image) {
  auto* bitmap = static_cast<Gdiplus::Bitmap*>(image);
  const UINT w = image->GetWidth(), h = image->GetHeight();
  std::vector<ARGB> pixels(size_t(w) * h);
  Gdiplus::BitmapData data{};
  data.Width = w;
  data.Height = h;
  data.Stride = INT(w * 4);
  data.PixelFormat = PixelFormat32bppPARGB;
  data.Scan0 = pixels.data();
  Gdiplus::Rect rect(0, 0, INT(w), INT(h));
  EXPECT_EQ(bitmap->LockBits(&rect, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                             PixelFormat32bppPARGB, &data),
            Gdiplus::Ok);
  bitmap->UnlockBits(&data);
  return pixels;
}

// Half-size art is filtered, not sampled: every pixel is close to the average
// of the four full-size pixels it stands for, on the spinner's thin spokes,
// the close cross's strokes and the buttons' rounded edges alike.
TEST(LoadResourceImage, HalfSizeArtIsFilteredFromTheFullSizePixels) {
  for (UINT id : {130u, 132u, 141u, 144u, 137u, 134u}) {
    SCOPED_TRACE(testing::Message() << "id " << id);
    ImagePtr full = Load(id, 1.0);
    ImagePtr half = Load(id, 0.5);
    const std::vector<ARGB> f = PremultipliedPixels(full.get());
    const std::vector<ARGB> h = PremultipliedPixels(half.get());
    const UINT fw = full->GetWidth(), hw = half->GetWidth(), hh = half->GetHeight();
    double total = 0;
    int worst = 0;
    for (UINT y = 0; y < hh; ++y) {
      for (UINT x = 0; x < hw; ++x) {
        for (int shift = 0; shift < 32; shift += 8) {
          auto at = [&](UINT fx, UINT fy) { return int((f[size_t(fy) * fw + fx] >> shift) & 0xFF); };
          const int average = (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) +
                               at(2 * x + 1, 2 * y + 1) + 2) /
                              4;
          const int got = int((h[size_t(y) * hw + x] >> shift) & 0xFF);
          worst = std::max(worst, std::abs(got - average));
          total += std::abs(got - average);
        }
      }
    }
    const double mean = total / (double(hw) * hh * 4);
    EXPECT_LT(mean, 1.0);
    EXPECT_LE(worst, 24);
  }
}

TEST(LoadResourceImage, MissingOrUnusableArtIsAnEmptyImageThatDrawsNothing) {
  const struct {
    const char* name;
    UINT id;
    LPCWSTR type;
  } cases[] = {
      {"no art with this id", 149, L"IMG"}, {"unknown id", 9999, L"IMG"},
      {"other type", 129, L"PNG"},          {"no type", 129, nullptr},
      {"not an image", 9002, L"IMG"},       {"signature only", 9003, L"IMG"},
  };
  for (const auto& c : cases) {
    for (double scale : {1.0, 0.5}) {
      SCOPED_TRACE(testing::Message() << c.name << " at " << scale);
      ImagePtr image = Load(c.id, scale, nullptr, c.type);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->GetWidth(), 0u);
      EXPECT_EQ(image->GetHeight(), 0u);
      Canvas canvas;
      canvas.Draw(image.get());
      EXPECT_TRUE(canvas.Untouched());
    }
  }
}

TEST(LoadResourceImage, ScaleThatLeavesNoPixelsDrawsNothing) {
  for (double scale : {0.001, 0.0, -0.5}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    ImagePtr image = Load(136, scale);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetWidth(), 0u);
    EXPECT_EQ(image->GetHeight(), 0u);
    Canvas canvas;
    canvas.Draw(image.get());
    EXPECT_TRUE(canvas.Untouched());
  }
}

TEST(LoadResourceImage, PaletteArtIsDecodedIntoFullColour) {
  ImagePtr full = Load(9001, 1.0);
  ASSERT_EQ(full->GetWidth(), 10u);
  ASSERT_EQ(full->GetHeight(), 6u);
  EXPECT_EQ(full->GetPixelFormat(), PixelFormat32bppPARGB);
  Pixels fullPx(full.get());
  EXPECT_EQ(fullPx.At(0, 1), 0xFFFF0000u);
  EXPECT_EQ(fullPx.At(9, 1), 0xFF0000FFu);

  ImagePtr half = Load(9001, 0.5);
  ASSERT_EQ(half->GetWidth(), 5u);
  ASSERT_EQ(half->GetHeight(), 3u);
  EXPECT_EQ(half->GetPixelFormat(), PixelFormat32bppPARGB);
  Pixels px(half.get());
  EXPECT_EQ(px.At(0, 1), 0xFFFF0000u);
  EXPECT_EQ(px.At(4, 1), 0xFF0000FFu);
}

TEST(LoadResourceImage, NullModuleMeansTheProgramItself) {
  ImagePtr implicit = Load(136, 0.5);
  ImagePtr explicitModule = Load(136, 0.5, GetModuleHandleW(nullptr));
  EXPECT_EQ(explicitModule->GetWidth(), implicit->GetWidth());
  EXPECT_EQ(explicitModule->GetHeight(), implicit->GetHeight());

  // A module without the art yields empty images.
  ImagePtr elsewhere = Load(136, 0.5, GetModuleHandleW(L"kernel32.dll"));
  ASSERT_NE(elsewhere, nullptr);
  EXPECT_EQ(elsewhere->GetWidth(), 0u);
}

// Committed private memory. (PagefileUsage: Wine leaves PrivateUsage at 0.)
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  return pmc.PagefileUsage;
}

// The spinner reloads a frame every 100 ms for as long as an update runs, so a
// load must leave nothing behind once its image is deleted: not the decoded
// pixels, not the copy of the resource bytes.
TEST(LoadResourceImage, RepeatedLoadsLeaveNothingBehind) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(135), L"IMG");
  ASSERT_NE(res, nullptr);
  const DWORD resourceBytes = SizeofResource(nullptr, res);

  for (int i = 0; i < 5; ++i) {
    Load(135, 1.0);
    Load(135, 0.5);
  }
  const SIZE_T before = PrivateBytes();
  constexpr int kLoads = 30;
  for (int i = 0; i < kLoads; ++i) {
    ImagePtr full = Load(135, 1.0);
    ASSERT_EQ(full->GetWidth(), 1448u);
    ImagePtr half = Load(135, 0.5);
    ASSERT_EQ(half->GetWidth(), 724u);
  }
  const SIZE_T after = PrivateBytes();
  const SIZE_T growth = after > before ? after - before : 0;
  // Keeping even one resource copy per load would add 2 * kLoads * resourceBytes.
  EXPECT_LT(growth, SIZE_T(kLoads) * resourceBytes / 2) << "grew by " << growth << " bytes";
}

// 1:1 art onto a surface, against the rule restated: copied, or source over
// rounded to nearest, and nothing written outside the surface.
TEST(PutArtOnSurface, CopiesOrBlendsOnlyWhereTheArtLands) {
  constexpr int kArtW = 256, kArtH = 3, kSurfW = 300, kSurfH = 5;
  ImagePtr art(NewSurfaceArt(kArtW, kArtH));
  ASSERT_NE(art, nullptr);
  // Every alpha, each with its largest premultiplied colours and some less.
  std::vector<ARGB> pixels(size_t(kArtW) * kArtH);
  for (int y = 0; y < kArtH; ++y)
    for (ARGB a = 0; a < 256; ++a)
      pixels[y * kArtW + a] = a << 24 | (a * (y + 1) / 3) << 16 | (a / 2) << 8 | a;
  Gdiplus::BitmapData data{kArtW, kArtH, kArtW * 4, PixelFormat32bppPARGB, pixels.data(), 0};
  Gdiplus::Rect whole(0, 0, kArtW, kArtH);
  auto* bitmap = static_cast<Gdiplus::Bitmap*>(art.get());
  ASSERT_EQ(bitmap->LockBits(&whole, Gdiplus::ImageLockModeWrite | Gdiplus::ImageLockModeUserInputBuf,
                             PixelFormat32bppPARGB, &data),
            Gdiplus::Ok);
  bitmap->UnlockBits(&data);

  const ARGB under[] = {0xFF0080FF, 0x80402010, 0};
  const auto over = [](ARGB s, ARGB d) {
    ARGB r = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      const double c = ((s >> shift) & 0xFF) + ((d >> shift) & 0xFF) * (255.0 - (s >> 24)) / 255.0;
      r |= static_cast<ARGB>(std::lround(c)) << shift;
    }
    return r;
  };
  const struct {
    int x, y;
  } places[] = {{0, 0},   {44, 2}, {-100, -1},         {100, 3},    {-256, 0},
                {300, 0}, {0, 5},  {INT_MIN, INT_MIN}, {INT_MAX, 1}};
  for (ArtPut put : {ArtPut::kCopy, ArtPut::kBlend}) {
    for (const auto& at : places) {
      for (ARGB d : under) {
        SCOPED_TRACE(testing::Message() << (put == ArtPut::kCopy ? "copy" : "blend") << " at " << at.x << ", "
                                        << at.y << " over " << std::hex << d);
        std::vector<ARGB> surface(size_t(kSurfW) * kSurfH, d);
        ASSERT_TRUE(PutArtOnSurface(art.get(), put, surface.data(), kSurfW, kSurfH, at.x, at.y));
        int wrong = 0;
        for (long long y = 0; y < kSurfH; ++y)
          for (long long x = 0; x < kSurfW; ++x) {
            const long long ax = x - at.x, ay = y - at.y;
            ARGB expected = d;
            if (ax >= 0 && ax < kArtW && ay >= 0 && ay < kArtH) {
              const ARGB s = pixels[ay * kArtW + ax];
              expected = put == ArtPut::kCopy ? s : over(s, d);
            }
            if (surface[y * kSurfW + x] != expected && wrong++ == 0)
              ADD_FAILURE() << "first at (" << x << ", " << y << "): " << std::hex << surface[y * kSurfW + x]
                            << " vs " << expected;
          }
      }
    }
  }
  // Art without pixels of the surface's kind is refused and nothing is touched.
  std::vector<ARGB> surface(16, 0x12345678);
  ImagePtr empty = Load(9999, 1.0);
  EXPECT_FALSE(PutArtOnSurface(empty.get(), ArtPut::kBlend, surface.data(), 4, 4, 0, 0));
  EXPECT_FALSE(PutArtOnSurface(nullptr, ArtPut::kCopy, surface.data(), 4, 4, 0, 0));
  EXPECT_EQ(std::count(surface.begin(), surface.end(), 0x12345678u), 16);
}

}  // namespace
