// Every shipped text, fetched as the program fetches it (data\Update.ini beside
// this test program), measured by GDI+ in the box of the control that shows it,
// at both screen scales. Latin text is measured in Liberation Sans and boxes
// are taken 10% narrower, to leave room for the slightly wider faces the window
// asks for; CJK and Hangul text in WenQuanYi Zen Hei, whose full-width glyphs
// match the Windows CJK faces' advance.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/localized_text.h"

namespace {

struct Lang {
  uint16_t langId;
  bool cjk;
};

const Lang kLanguages[] = {
    {0x0409, false}, {0x0407, false}, {0x040C, false}, {0x040A, false}, {0x0410, false}, {0x0416, false},
    {0x0816, false}, {0x0411, true},  {0x0412, true},  {0x0404, true},  {0x0804, true},
};

struct Box {
  const wchar_t* key;
  const wchar_t* suffix;  // what the dialog appends
  int width, height;      // at scale 1.0
  bool button;
};

const Box kBoxes[] = {
    {L"IDS_PROMPT", L"", 1400, 180, false},
    {L"IDS_FIND_NO_QMX", L"", 1400, 180, false},
    {L"IDS_SUCCESS", L"", 1400, 180, false},
    {L"IDS_FIND_NO_SW", L"", 1400, 180, false},
    {L"IDS_DOWNGRADE", L"", 1400, 180, false},
    {L"IDS_ERROR", L" (0X10430006)", 1400, 180, false},
    {L"IDS_CAUTION", L"", 1000, 100, false},
    {L"IDS_UPDATE", L"", 368, 76, true},
    {L"IDS_EXIT", L"", 368, 76, true},
    {L"IDS_SHUTDOWN", L"", 508, 76, true},
    {L"IDS_SHUTDOWN_LATER", L"", 508, 76, true},
    {L"IDS_BUSY", L"", 1400, 180, false},
    // While the update runs: the message, and the line a close attempt brings up.
    {L"IDS_UPDATING", L"", 1400, 180, false},
    {L"IDS_SHUTDOWN_BLOCKED", L"", 1000, 100, false},
};

std::wstring Text(uint16_t langId, const wchar_t* key) {
  wchar_t buffer[512];
  LoadLocalizedString(langId, key, buffer, 512);
  return buffer;
}

std::string Narrow(const std::wstring& s) {
  std::string n(WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, n.data(), static_cast<int>(n.size()), nullptr, nullptr);
  n.pop_back();
  return n;
}

TEST(TextFit, MeasuringFacesAreInstalled) {
  for (const wchar_t* face : {L"Liberation Sans", L"WenQuanYi Zen Hei"}) {
    Gdiplus::FontFamily family(face);
    EXPECT_TRUE(family.IsAvailable()) << Narrow(face) << " missing from the Wine prefix";
  }
}

TEST(TextFit, EveryTextFitsItsControlAtBothScales) {
  Gdiplus::Bitmap surface(16, 16, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&surface);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);

  for (double scale : {1.0, 0.5}) {
    const float em = scale == 1.0 ? 32.0f : 16.0f;  // 24 pt and 12 pt at any DPI
    for (const Lang& lang : kLanguages) {
      Gdiplus::FontFamily family(lang.cjk ? L"WenQuanYi Zen Hei" : L"Liberation Sans");
      for (const Box& box : kBoxes) {
        const std::wstring text = Text(lang.langId, box.key) + box.suffix;
        SCOPED_TRACE(testing::Message() << "0x" << std::hex << lang.langId << " " << Narrow(box.key) << " at "
                                        << scale << ": " << Narrow(text));
        ASSERT_FALSE(text.empty());
        Gdiplus::Font font(&family, em, box.button ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular,
                           Gdiplus::UnitPixel);
        ASSERT_EQ(font.GetLastStatus(), Gdiplus::Ok);

        const float width =
            static_cast<float>(static_cast<int>(box.width * scale)) * (lang.cjk ? 1.0f : 0.9f);
        const float height = static_cast<float>(static_cast<int>(box.height * scale));
        Gdiplus::StringFormat format;
        if (box.button) format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
        Gdiplus::RectF bounds;
        INT fitted = 0, lines = 0;
        // A tall layout box, so the height needed shows even when it is too much.
        g.MeasureString(text.c_str(), static_cast<INT>(text.size()), &font,
                        Gdiplus::RectF(0, 0, width, height * 10), &format, &bounds, &fitted, &lines);
        EXPECT_EQ(fitted, static_cast<INT>(text.size()));
        EXPECT_GT(bounds.Width, 0.0f);
        EXPECT_LE(bounds.Width, width);
        EXPECT_LE(bounds.Height, height) << lines << " lines";
        if (box.button) {
          EXPECT_EQ(lines, 1);
        }
      }
    }
  }
}

}  // namespace
