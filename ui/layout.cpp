#include "ui/layout.h"

#include <cwchar>
#include <vector>

#include "framework/win_app.h"
#include "ui/localized_text.h"
#include "ui/update_dlg.h"

const wchar_t kVersionFace[] = L"Segoe UI";

int LayoutScreenClass(const RECT& rcWork, int nWindowWidth, int nWindowHeight) {
  const bool bFits =
      nWindowWidth <= rcWork.right - rcWork.left && nWindowHeight <= rcWork.bottom - rcWork.top;
  return bFits ? 1 : 0;
}

double LayoutScaleFactor(int nScreenClass) {
  return nScreenClass != 0 ? 1.0 : 0.5;
}

int LayoutScaled(int nValue, double dScale) {
  return static_cast<int>(nValue * dScale);
}

float LayoutEmSize(int nPoints, int nDpi) {
  if (nDpi <= 0) nDpi = 96;  // a screen DC that reports nothing: take the usual
  return static_cast<float>(::MulDiv(nPoints, nDpi, 72)) * (96.0f / static_cast<float>(nDpi));
}

LayoutFaces LayoutFacesFor(LANGID uiLanguage) {
  // "Microsoft JhengHei" by its Chinese name, as the system lists it.
  static const wchar_t kJhengHei[] = L"\u5FAE\u8EDF\u6B63\u9ED1\u9AD4";
  if ((uiLanguage & 0x3FF) == LANG_CHINESE) return {kJhengHei, Gdiplus::FontStyleBold, kJhengHei, 0};
  if (uiLanguage == 0x0411) return {L"MS P Gothic", Gdiplus::FontStyleBold, L"MS P Gothic", 0};
  return {L"Segoe WP N Semibold", Gdiplus::FontStyleRegular, L"Segoe WP", Gdiplus::FontStyleRegular};
}

bool LayoutVersionText(wchar_t* out, size_t size) {
  wchar_t szPath[1024] = L"";
  const DWORD nPath = ::GetModuleFileNameW(nullptr, szPath, 1024);
  if (nPath == 0 || nPath >= 1024) return false;
  DWORD dwHandle = 0;
  const DWORD nBlock = ::GetFileVersionInfoSizeW(szPath, &dwHandle);
  if (nBlock == 0) return false;
  std::vector<BYTE> block(nBlock);
  if (::GetFileVersionInfoW(szPath, 0, nBlock, block.data()) != 1) return false;
  VS_FIXEDFILEINFO* pInfo = nullptr;
  UINT nInfo = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &nInfo) || !pInfo ||
      nInfo < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  std::swprintf(out, size, L"V%d.%d.%d.%d", HIWORD(pInfo->dwFileVersionMS), LOWORD(pInfo->dwFileVersionMS),
                HIWORD(pInfo->dwFileVersionLS), LOWORD(pInfo->dwFileVersionLS));
  return true;
}

namespace {
constexpr UINT kTextChars = 512;
constexpr LPCWSTR kArt = L"IMG";
constexpr int kPixel = Gdiplus::UnitPixel;
constexpr int kNear = Gdiplus::StringAlignmentNear;
constexpr int kCentre = Gdiplus::StringAlignmentCenter;
constexpr Gdiplus::ARGB kWhite = 0xFFFFFFFF;
}  // namespace

void CUpdateDlg::LayoutControls() {
  HDC hdcScreen = ::GetDC(nullptr);
  const int nDpi = ::GetDeviceCaps(hdcScreen, LOGPIXELSY);
  ::ReleaseDC(nullptr, hdcScreen);
  const LANGID uiLanguage = ::GetUserDefaultUILanguage();

  // The large window as SetBackground would size it, against the work area
  // it would be centred in.
  const RECT rcWork = GetWorkArea();
  RECT rcLarge{0, 0, kLargeBackgroundWidth, kLargeBackgroundHeight};
  ::AdjustWindowRect(&rcLarge, GetStyle(), FALSE);
  const int nClass = LayoutScreenClass(rcWork, rcLarge.right - rcLarge.left, rcLarge.bottom - rcLarge.top);
  // The same class keeps everything the flow has shown, but the work area may
  // have moved or shrunk (a taskbar grown within the class): keep the window
  // clear of it.
  if (nClass == m_state.m_nScreenClass) {
    FitToWorkArea();
    return;
  }
  m_state.m_nScreenClass = nClass;
  const double dScale = LayoutScaleFactor(nClass);
  HINSTANCE hRes = AfxGetResourceHandle();

  SetBackground(129, kArt, hRes, dScale);

  const LayoutFaces faces = LayoutFacesFor(uiLanguage);
  const float fTextEm = LayoutEmSize(LayoutScaled(24, dScale), nDpi);
  const float fVersionEm = LayoutEmSize(LayoutScaled(20, dScale), nDpi);
  auto place = [dScale](CWnd& wnd, int x, int y, int cx, int cy) {
    wnd.SetWindowPos(nullptr, LayoutScaled(x, dScale), LayoutScaled(y, dScale), LayoutScaled(cx, dScale),
                     LayoutScaled(cy, dScale), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  wchar_t szText[kTextChars];
  auto text = [this, &szText](LPCWSTR pszKey) -> LPCWSTR {
    LoadLocalizedString(m_state.m_wLangId, pszKey, szText, kTextChars);
    return szText;
  };
  // The four action buttons share colours, alignment and face.
  auto styleButton = [&](CSkinButton& button, Gdiplus::ARGB argbText) {
    button.SetTextColor(argbText);
    button.SetTextAlign(kCentre, kCentre);
    button.SetTextFont(faces.pszButton, fTextEm, faces.nButtonStyle, kPixel);
  };
  // The message and the caution read as body text, top left.
  auto styleText = [&](CSkinLabel& label, Gdiplus::ARGB argbText) {
    label.SetTextColor(argbText);
    label.SetTextAlign(kNear, kNear);
    label.SetTextFont(faces.pszText, fTextEm, faces.nTextStyle, kPixel);
  };

  // 1. Version, top right.
  m_lblVersion.SetTextColor(0xFF80DFE6);
  m_lblVersion.SetTextAlign(kNear, kNear);
  m_lblVersion.SetTextFont(kVersionFace, fVersionEm, Gdiplus::FontStyleRegular, kPixel);
  place(m_lblVersion, 1410, 194, 214, 100);
  if (LayoutVersionText(szText, kTextChars)) m_lblVersion.SetWindowTextW(szText);
  AddChild(&m_lblVersion);

  // 2. Close cross. Its text is never drawn (a picture button) but is the
  // name a screen reader gives it, one of its own beside Exit's (English where
  // Update.ini predates it); its colour is the focus ring's, on the dark header.
  place(m_btnClose, 1448, 38, 76, 76);
  m_btnClose.ModifyStyle(0, BS_BITMAP);
  m_btnClose.SetTextColor(kWhite);
  LoadLocalizedStringOr(m_state.m_wLangId, L"IDS_CLOSE", L"Close", szText, kTextChars);
  m_btnClose.SetWindowTextW(szText);
  m_btnClose.SetImages(130, 133, 132, 131, kArt, hRes, dScale);
  AddChild(&m_btnClose);

  // 3. Bullet before the message.
  place(m_picBullet, 60, 300, 30, 30);
  m_picBullet.SetImage(134, kArt, hRes, dScale);
  AddChild(&m_picBullet);

  // 4. Illustration.
  place(m_picIllustration, 56, 498, 1448, 568);
  m_picIllustration.SetImage(135, kArt, hRes, dScale);
  AddChild(&m_picIllustration);

  // 5. Caution icon, shown on battery only; centred under the bullet, as its
  // text starts on the message's column.
  place(m_picCautionIcon, 51, 1120, 48, 43);
  m_picCautionIcon.SetImage(136, kArt, hRes, dScale);
  m_picCautionIcon.ShowWindow(SW_HIDE);
  AddChild(&m_picCautionIcon);

  // 6. Update; keeps its visibility.
  styleButton(m_btnUpdate, kWhite);
  place(m_btnUpdate, 1136, 1109, 368, 76);
  m_btnUpdate.SetWindowTextW(text(L"IDS_UPDATE"));
  m_btnUpdate.SetImages(137, 140, 139, 138, kArt, hRes, dScale);
  AddChild(&m_btnUpdate);

  // 7. Exit, in Update's place.
  styleButton(m_btnExit, kWhite);
  place(m_btnExit, 1136, 1109, 368, 76);
  m_btnExit.SetWindowTextW(text(L"IDS_EXIT"));
  m_btnExit.SetImages(137, 140, 139, 138, kArt, hRes, dScale);
  m_btnExit.ShowWindow(SW_HIDE);
  AddChild(&m_btnExit);

  // 8. Message.
  styleText(m_lblMessage, 0xFF020202);
  place(m_lblMessage, 100, 297, 1400, 180);
  m_lblMessage.SetWindowTextW(text(L"IDS_PROMPT"));
  AddChild(&m_lblMessage);

  // 9. Caution text, shown on battery only.
  styleText(m_lblCaution, 0xFFA40000);
  place(m_lblCaution, 100, 1124, 1000, 100);
  m_lblCaution.SetWindowTextW(text(L"IDS_CAUTION"));
  m_lblCaution.ShowWindow(SW_HIDE);
  AddChild(&m_lblCaution);

  // 10. Spinner over the middle of the illustration, at its current frame.
  place(m_picSpinner, 712, 658, 132, 132);
  m_picSpinner.SetImage(m_state.m_nSpinnerImage, kArt, hRes, dScale);
  m_picSpinner.ShowWindow(SW_HIDE);
  AddChild(&m_picSpinner);

  // 11. Shut down, offered after success.
  styleButton(m_btnShutdown, kWhite);
  place(m_btnShutdown, 466, 1109, 508, 76);
  m_btnShutdown.SetWindowTextW(text(L"IDS_SHUTDOWN"));
  m_btnShutdown.SetImages(150, 0, 152, 153, kArt, hRes, dScale);
  m_btnShutdown.ShowWindow(SW_HIDE);
  AddChild(&m_btnShutdown);

  // 12. Later, offered after success: grey caption until hovered or pressed.
  styleButton(m_btnLater, 0xFF464646);
  m_btnLater.SetHoverTextColor(kWhite);
  m_btnLater.SetPressedTextColor(kWhite);
  place(m_btnLater, 996, 1109, 508, 76);
  m_btnLater.SetWindowTextW(text(L"IDS_SHUTDOWN_LATER"));
  m_btnLater.SetImages(151, 0, 152, 153, kArt, hRes, dScale);
  m_btnLater.ShowWindow(SW_HIDE);
  AddChild(&m_btnLater);

  // Whatever the update flow has put on screen stays there.
  RestorePhaseState();
}
